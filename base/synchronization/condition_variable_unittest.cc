#include "base/synchronization/condition_variable.h"

#include <windows.h>

#include <memory>
#include <vector>

#include "base/synchronization/lock.h"
#include "base/test/counting_blocking_observer.h"
#include "base/test/test_thread.h"
#include "base/threading/scoped_blocking_call.h"
#include "gtest/gtest.h"

namespace base {
namespace {

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
  TestThread thread(producer);
  while (!ready)
    cv.Wait();
  EXPECT_EQ(42, value);
  lock.Release();
  thread.Join();
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
  std::vector<std::unique_ptr<TestThread>> threads;
  for (int i = 0; i < kWaiters; ++i)
    threads.push_back(std::make_unique<TestThread>(waiter));
  {
    AutoLock auto_lock(lock);
    // Each waiter counts itself and sleeps under one hold of the lock, so
    // once all have counted, all are asleep on go_cv.
    while (waiting < kWaiters)
      waiting_cv.Wait();
    go = true;
    go_cv.Broadcast();
  }
  for (auto& thread : threads)
    thread->Join();
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
  RunOnThreadAndJoin(try_lock);
  EXPECT_FALSE(taken);

  // Every wait told the observer, as a may-block call.
  EXPECT_EQ(2, observer.started);
  EXPECT_EQ(2, observer.ended);
  EXPECT_EQ(2, observer.may_block);
}

}  // namespace
}  // namespace base
