#include "base/win/object_watcher.h"

#include <windows.h>

#include <memory>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/sequenced_task_runner.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/waitable_event.h"
#include "base/test/test_task_runner.h"
#include "base/threading/platform_thread.h"
#include "base/threading/sequenced_task_runner_handle.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace base {
namespace win {

namespace {

HANDLE CreateTestEvent(bool signaled) {
  return ::CreateEventW(nullptr, TRUE, signaled ? TRUE : FALSE, nullptr);
}

class RecordingDelegate : public ObjectWatcher::Delegate {
 public:
  explicit RecordingDelegate(RepeatingClosure on_signal = RepeatingClosure())
      : on_signal_(std::move(on_signal)) {}

  void OnObjectSignaled(HANDLE object) override {
    objects_.push_back(object);
    thread_ids_.push_back(PlatformThread::CurrentId());
    if (on_signal_)
      on_signal_.Run();
  }

  const std::vector<HANDLE>& objects() const { return objects_; }
  const std::vector<PlatformThreadId>& thread_ids() const {
    return thread_ids_;
  }

 private:
  RepeatingClosure on_signal_;
  std::vector<HANDLE> objects_;
  std::vector<PlatformThreadId> thread_ids_;
};

}  // namespace

TEST(ObjectWatcherTest, SignaledObjectCallsDelegateOnOwnerThread) {
  MessageLoop loop;
  RunLoop run_loop;
  ScopedHandle event(CreateTestEvent(true));
  ASSERT_TRUE(event.IsValid());

  ObjectWatcher watcher;
  EXPECT_FALSE(watcher.IsWatching());
  RecordingDelegate delegate(run_loop.QuitClosure());
  ASSERT_TRUE(watcher.StartWatchingOnce(event.Get(), &delegate));
  EXPECT_TRUE(watcher.IsWatching());
  EXPECT_EQ(event.Get(), watcher.GetWatchedObject());
  run_loop.Run();

  ASSERT_EQ(1u, delegate.objects().size());
  EXPECT_EQ(event.Get(), delegate.objects()[0]);
  EXPECT_EQ(PlatformThread::CurrentId(), delegate.thread_ids()[0]);
  // The watch ended before the delegate was told.
  EXPECT_FALSE(watcher.IsWatching());
  EXPECT_EQ(nullptr, watcher.GetWatchedObject());
  EXPECT_FALSE(watcher.StopWatching());
}

TEST(ObjectWatcherTest, SignalCrossesFromWaitThreadAsATask) {
  scoped_refptr<TestTaskRunner> runner(new TestTaskRunner());
  SequencedTaskRunnerHandle handle(runner);
  ScopedHandle event(CreateTestEvent(true));
  ASSERT_TRUE(event.IsValid());

  ObjectWatcher watcher;
  RecordingDelegate delegate;
  ASSERT_TRUE(watcher.StartWatchingOnce(event.Get(), &delegate));
  ASSERT_TRUE(runner->WaitForPost());
  ASSERT_EQ(1u, runner->posts().size());
  EXPECT_NE(PlatformThread::CurrentId(), runner->posts()[0].poster);
  // Only the posted task reaches the delegate.
  EXPECT_TRUE(delegate.objects().empty());

  EXPECT_EQ(1u, runner->RunPending());
  ASSERT_EQ(1u, delegate.thread_ids().size());
  EXPECT_EQ(PlatformThread::CurrentId(), delegate.thread_ids()[0]);
  EXPECT_EQ(event.Get(), delegate.objects()[0]);
  EXPECT_FALSE(watcher.IsWatching());
}

// Whether the watcher is stopped or destroyed once the signal's task is on
// its way, the task must not reach the delegate.
TEST(ObjectWatcherTest, StoppedOrDestroyedAfterSignalBeforeTaskGivesNoCall) {
  for (bool destroy : {true, false}) {
    SCOPED_TRACE(destroy ? "destroyed" : "stopped");
    scoped_refptr<TestTaskRunner> runner(new TestTaskRunner());
    SequencedTaskRunnerHandle handle(runner);
    ScopedHandle event(CreateTestEvent(true));
    ASSERT_TRUE(event.IsValid());

    RecordingDelegate delegate;
    auto watcher = std::make_unique<ObjectWatcher>();
    ASSERT_TRUE(watcher->StartWatchingOnce(event.Get(), &delegate));
    ASSERT_TRUE(runner->WaitForPost());
    if (destroy) {
      watcher.reset();
    } else {
      EXPECT_TRUE(watcher->StopWatching());
      EXPECT_FALSE(watcher->IsWatching());
    }
    EXPECT_EQ(1u, runner->RunPending());
    EXPECT_TRUE(delegate.objects().empty());
  }
}

TEST(ObjectWatcherTest, StopWatchingBeforeSignal) {
  MessageLoop loop;
  ScopedHandle event(CreateTestEvent(false));
  ASSERT_TRUE(event.IsValid());

  ObjectWatcher watcher;
  EXPECT_FALSE(watcher.StopWatching());
  RecordingDelegate delegate;
  ASSERT_TRUE(watcher.StartWatchingOnce(event.Get(), &delegate));
  EXPECT_TRUE(watcher.StopWatching());
  EXPECT_FALSE(watcher.StopWatching());

  // The wait is gone: signalling now posts nothing.
  ::SetEvent(event.Get());
  RunLoop run_loop;
  run_loop.QuitWhenIdle();
  run_loop.Run();
  EXPECT_TRUE(delegate.objects().empty());
}

// Starts a second watch from inside the first notification.
class RewatchingDelegate : public ObjectWatcher::Delegate {
 public:
  RewatchingDelegate(ObjectWatcher* watcher,
                     HANDLE second,
                     RepeatingClosure done)
      : watcher_(watcher), second_(second), done_(std::move(done)) {}

  void OnObjectSignaled(HANDLE object) override {
    objects_.push_back(object);
    if (objects_.size() == 1) {
      watching_during_callback_ = watcher_->IsWatching();
      rewatch_result_ = watcher_->StartWatchingOnce(second_, this);
      ::SetEvent(second_);
      return;
    }
    done_.Run();
  }

  std::vector<HANDLE> objects_;
  bool watching_during_callback_ = true;
  bool rewatch_result_ = false;

 private:
  ObjectWatcher* const watcher_;
  const HANDLE second_;
  RepeatingClosure done_;
};

TEST(ObjectWatcherTest, DelegateCanWatchAgain) {
  MessageLoop loop;
  RunLoop run_loop;
  ScopedHandle first(CreateTestEvent(true));
  ScopedHandle second(CreateTestEvent(false));
  ASSERT_TRUE(first.IsValid());
  ASSERT_TRUE(second.IsValid());

  ObjectWatcher watcher;
  RewatchingDelegate delegate(&watcher, second.Get(), run_loop.QuitClosure());
  ASSERT_TRUE(watcher.StartWatchingOnce(first.Get(), &delegate));
  run_loop.Run();

  EXPECT_FALSE(delegate.watching_during_callback_);
  EXPECT_TRUE(delegate.rewatch_result_);
  ASSERT_EQ(2u, delegate.objects_.size());
  EXPECT_EQ(first.Get(), delegate.objects_[0]);
  EXPECT_EQ(second.Get(), delegate.objects_[1]);
  EXPECT_FALSE(watcher.IsWatching());
}

}  // namespace win
}  // namespace base
