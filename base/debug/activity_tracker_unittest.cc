#include "base/debug/activity_tracker.h"

#include <windows.h>

#include <atomic>
#include <utility>

#include "base/bind.h"
#include "base/debug/task_annotator.h"
#include "base/location.h"
#include "base/pending_task.h"
#include "base/process/process.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/platform_thread.h"
#include "base/time/time.h"
#include "gtest/gtest.h"

namespace base {
namespace debug {
namespace {

TEST(ActivityTrackerTest, ScopedActivitiesAreEmptyWhileOff) {
  ASSERT_EQ(nullptr, GlobalActivityTracker::Get());
  int lock = 0;
  int event = 0;
  PendingTask task(FROM_HERE, OnceClosure());
  task.sequence_num = 7;
  {
    ScopedLockAcquireActivity lock_activity(nullptr, &lock);
    ScopedEventWaitActivity event_activity(nullptr, &event);
    ScopedThreadJoinActivity join_activity(nullptr, ::GetCurrentThread());
    ScopedProcessWaitActivity process_activity(nullptr, Process::Current());
    ScopedTaskRunActivity task_activity(nullptr, task);
    for (const GlobalActivityTracker::ScopedThreadActivity* activity :
         {static_cast<GlobalActivityTracker::ScopedThreadActivity*>(
              &lock_activity),
          static_cast<GlobalActivityTracker::ScopedThreadActivity*>(
              &event_activity),
          static_cast<GlobalActivityTracker::ScopedThreadActivity*>(
              &join_activity),
          static_cast<GlobalActivityTracker::ScopedThreadActivity*>(
              &process_activity),
          static_cast<GlobalActivityTracker::ScopedThreadActivity*>(
              &task_activity)}) {
      EXPECT_FALSE(activity->is_recorded());
      EXPECT_FALSE(activity->has_user_data());
    }
  }
  EXPECT_EQ(nullptr, GlobalActivityTracker::Get());
}

class Incrementer : public PlatformThread::Delegate {
 public:
  Incrementer(Lock* lock, int* counter, WaitableEvent* start)
      : lock_(lock), counter_(counter), start_(start) {}

  void ThreadMain() override {
    start_->Wait();
    for (int i = 0; i < kIncrements; ++i) {
      AutoLock auto_lock(*lock_);
      // A read and a write apart, so that a lock that excludes nobody
      // loses updates.
      const int value = *counter_;
      if ((i & 63) == 0)
        PlatformThread::YieldCurrentThread();
      *counter_ = value + 1;
    }
  }

  static constexpr int kIncrements = 2000;

 private:
  Lock* const lock_;
  int* const counter_;
  WaitableEvent* const start_;
};

// The hooks sit in these calls; with no tracker they must behave exactly as
// the bare primitives.
TEST(ActivityTrackerTest, BlockingCallsBehaveAsWithoutHooks) {
  ASSERT_EQ(nullptr, GlobalActivityTracker::Get());

  Lock lock;
  int counter = 0;
  WaitableEvent start;
  Incrementer delegate(&lock, &counter, &start);
  constexpr int kThreads = 4;
  PlatformThreadHandle handles[kThreads];
  for (PlatformThreadHandle& handle : handles)
    ASSERT_TRUE(PlatformThread::Create(0, &delegate, &handle));
  start.Signal();
  // Each join carries a thread-join hook.
  for (PlatformThreadHandle& handle : handles)
    PlatformThread::Join(handle);
  EXPECT_EQ(kThreads * Incrementer::kIncrements, counter);

  // Event waits: a signalled wait returns true, an unsignalled one false.
  WaitableEvent event(WaitableEvent::ResetPolicy::AUTOMATIC);
  EXPECT_FALSE(event.TimedWait(TimeDelta()));
  event.Signal();
  EXPECT_TRUE(event.TimedWait(TimeDelta()));
  EXPECT_FALSE(event.IsSignaled());

  // Running a task through the annotator runs it once.
  int runs = 0;
  PendingTask task(FROM_HERE, BindOnce([](int* runs) { ++*runs; }, &runs));
  TaskAnnotator annotator;
  annotator.RunTask("ActivityTrackerTest", &task);
  EXPECT_EQ(1, runs);
  EXPECT_EQ(nullptr, GlobalActivityTracker::Get());
}

}  // namespace
}  // namespace debug
}  // namespace base
