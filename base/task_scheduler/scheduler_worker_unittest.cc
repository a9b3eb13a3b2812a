#include "base/task_scheduler/scheduler_worker.h"

#include <windows.h>

#include <memory>

#include "base/memory/scoped_refptr.h"
#include "base/synchronization/waitable_event.h"
#include "base/task_scheduler/scheduler_worker_params.h"
#include "base/task_scheduler/sequence.h"
#include "base/task_scheduler/task_tracker.h"
#include "base/threading/platform_thread.h"
#include "base/time/time.h"
#include "gtest/gtest.h"

namespace base {
namespace internal {
namespace {

// Never has work; tells the test when its thread enters, leaves its loop and
// when the delegate (and so the worker) is gone.
class WatchingDelegate : public SchedulerWorker::Delegate {
 public:
  WatchingDelegate(HANDLE* thread,
                   WaitableEvent* entered,
                   WaitableEvent* left_loop,
                   WaitableEvent* destroyed)
      : thread_(thread),
        entered_(entered),
        left_loop_(left_loop),
        destroyed_(destroyed) {}
  ~WatchingDelegate() override { destroyed_->Signal(); }

  void OnCanScheduleSequence(scoped_refptr<Sequence> sequence) override {}
  void OnMainEntry(SchedulerWorker* worker) override {
    ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(),
                      ::GetCurrentProcess(), thread_, SYNCHRONIZE, FALSE, 0);
    entered_->Signal();
  }
  scoped_refptr<Sequence> GetWork(SchedulerWorker* worker) override {
    return nullptr;
  }
  void DidRunTask() override {}
  void ReEnqueueSequence(scoped_refptr<Sequence> sequence) override {}
  TimeDelta GetSleepTimeout() override { return TimeDelta::Max(); }
  void OnMainExit(SchedulerWorker* worker) override { left_loop_->Signal(); }

 private:
  HANDLE* const thread_;
  WaitableEvent* const entered_;
  WaitableEvent* const left_loop_;
  WaitableEvent* const destroyed_;
};

class TaskSchedulerWorkerTest : public testing::Test {
 protected:
  scoped_refptr<SchedulerWorker> MakeAndStartWorker() {
    auto worker = MakeRefCounted<SchedulerWorker>(
        ThreadPriority::NORMAL,
        std::make_unique<WatchingDelegate>(&thread_, &entered_, &left_loop_,
                                           &destroyed_),
        &tracker_, SchedulerBackwardCompatibility::DISABLED);
    EXPECT_TRUE(worker->Start());
    entered_.Wait();
    return worker;
  }

  void TearDown() override {
    if (thread_)
      ::CloseHandle(thread_);
  }

  TaskTracker tracker_{"WorkerTest"};
  HANDLE thread_ = nullptr;
  WaitableEvent entered_;
  WaitableEvent left_loop_;
  WaitableEvent destroyed_;
};

TEST_F(TaskSchedulerWorkerTest, JoinWaitsForAThreadThatLeftOnItsOwn) {
  scoped_refptr<SchedulerWorker> worker = MakeAndStartWorker();
  ASSERT_TRUE(thread_);
  // Shutdown completes at once (nothing blocks it) and the woken worker
  // leaves its loop before anybody joins it.
  tracker_.Shutdown();
  worker->WakeUp();
  left_loop_.Wait();

  worker->Join();
  // Join still waited for the thread itself, not just for the loop.
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread_, 0));
  EXPECT_FALSE(destroyed_.IsSignaled());
  worker = nullptr;
  EXPECT_TRUE(destroyed_.IsSignaled());
}

TEST_F(TaskSchedulerWorkerTest, CleanedUpWorkerEndsWithItsLastReference) {
  scoped_refptr<SchedulerWorker> worker = MakeAndStartWorker();
  ASSERT_TRUE(thread_);
  worker->Cleanup();
  worker = nullptr;
  // The thread lets go of the last reference and ends by itself.
  destroyed_.Wait();
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread_, INFINITE));
  EXPECT_TRUE(left_loop_.IsSignaled());
}

TEST_F(TaskSchedulerWorkerTest, StartAfterCleanupMakesNoThread) {
  auto worker = MakeRefCounted<SchedulerWorker>(
      ThreadPriority::NORMAL,
      std::make_unique<WatchingDelegate>(&thread_, &entered_, &left_loop_,
                                         &destroyed_),
      &tracker_, SchedulerBackwardCompatibility::DISABLED);
  worker->Cleanup();
  EXPECT_TRUE(worker->Start());
  worker->WakeUp();
  worker->Join();
  EXPECT_FALSE(entered_.IsSignaled());
  EXPECT_EQ(nullptr, thread_);
}

}  // namespace
}  // namespace internal
}  // namespace base
