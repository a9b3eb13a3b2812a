#include "base/synchronization/condition_variable.h"

#include <windows.h>

#include "base/synchronization/lock.h"
#include "base/threading/scoped_blocking_call.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Long enough never to matter on a healthy run; it only turns a lost
// wake-up into a failure instead of a hung test.
constexpr DWORD kJoinGuardMs = 60000;

template <typename Function>
HANDLE StartThread(Function* function) {
  struct Trampoline {
    static DWORD WINAPI Run(void* arg) {
      (*static_cast<Function*>(arg))();
      return 0;
    }
  };
  HANDLE thread =
      ::CreateThread(nullptr, 0, &Trampoline::Run, function, 0, nullptr);
  EXPECT_NE(nullptr, thread);
  return thread;
}

class CountingBlockingObserver : public BlockingObserver {
 public:
  CountingBlockingObserver() { SetBlockingObserverForCurrentThread(this); }
  ~CountingBlockingObserver() override {
    SetBlockingObserverForCurrentThread(nullptr);
  }
  void BlockingStarted(BlockingType blocking_type) override {
    ++started;
    may_block = blocking_type == BlockingType::MAY_BLOCK;
  }
  void BlockingTypeUpgraded() override {}
  void BlockingEnded() override { ++ended; }

  int started = 0;
  int ended = 0;
  bool may_block = false;
};

TEST(ConditionVariableTest, SignalHandsOverAValue) {
  Lock lock;
  ConditionVariable cv(&lock);
  int value = 0;
  bool ready = false;

  auto producer = [&] {
    AutoLock auto_lock(lock);
    value = 42;
    ready = true;
    cv.Signal();
  };
  lock.Acquire();
  HANDLE thread = StartThread(&producer);
  while (!ready)
    cv.Wait();
  EXPECT_EQ(42, value);
  lock.Release();
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread, kJoinGuardMs));
  ::CloseHandle(thread);
}

TEST(ConditionVariableTest, BroadcastWakesEveryWaiter) {
  constexpr int kWaiters = 6;
  Lock lock;
  ConditionVariable waiting_cv(&lock);
  ConditionVariable go_cv(&lock);
  int waiting = 0;
  int woken = 0;
  bool go = false;

  auto waiter = [&] {
    AutoLock auto_lock(lock);
    ++waiting;
    waiting_cv.Signal();
    while (!go)
      go_cv.Wait();
    ++woken;
  };
  HANDLE threads[kWaiters];
  for (HANDLE& thread : threads)
    thread = StartThread(&waiter);
  {
    AutoLock auto_lock(lock);
    // Each waiter counts itself and sleeps under one hold of the lock, so
    // once all have counted, all are asleep on go_cv.
    while (waiting < kWaiters)
      waiting_cv.Wait();
    go = true;
    go_cv.Broadcast();
  }
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForMultipleObjects(kWaiters, threads, TRUE,
                                                    kJoinGuardMs));
  for (HANDLE thread : threads)
    ::CloseHandle(thread);
  EXPECT_EQ(kWaiters, woken);
}

TEST(ConditionVariableTest, TimedWaitReturnsHoldingTheLock) {
  CountingBlockingObserver observer;
  Lock lock;
  ConditionVariable cv(&lock);
  AutoLock auto_lock(lock);
  cv.TimedWait(TimeDelta::FromMilliseconds(1));
  cv.TimedWait(TimeDelta());

  bool taken = true;
  auto try_lock = [&] { taken = lock.Try(); };
  HANDLE thread = StartThread(&try_lock);
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread, kJoinGuardMs));
  ::CloseHandle(thread);
  EXPECT_FALSE(taken);

  // Every wait told the observer, as a may-block call.
  EXPECT_EQ(2, observer.started);
  EXPECT_EQ(2, observer.ended);
  EXPECT_TRUE(observer.may_block);
}

}  // namespace
}  // namespace base
