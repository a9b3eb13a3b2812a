#include "base/synchronization/lock.h"

#include <windows.h>

#include <memory>
#include <vector>

#include "base/test/test_thread.h"
#include "gtest/gtest.h"

namespace base {
namespace {

TEST(LockTest, TryTakesOnlyAFreeLock) {
  Lock lock;
  EXPECT_TRUE(lock.Try());
  bool taken = true;
  RunOnThreadAndJoin([&] { taken = lock.Try(); });
  EXPECT_FALSE(taken);
  lock.Release();

  RunOnThreadAndJoin([&] {
    taken = lock.Try();
    if (taken)
      lock.Release();
  });
  EXPECT_TRUE(taken);
}

TEST(LockTest, AutoLockAndAutoUnlockScopes) {
  Lock lock;
  bool taken_inside = true;
  bool taken_while_unlocked = false;
  {
    AutoLock auto_lock(lock);
    RunOnThreadAndJoin([&] { taken_inside = lock.Try(); });
    {
      AutoUnlock auto_unlock(lock);
      RunOnThreadAndJoin([&] {
        taken_while_unlocked = lock.Try();
        if (taken_while_unlocked)
          lock.Release();
      });
    }
    // Held again after the unlock scope.
    RunOnThreadAndJoin([&] { taken_inside = taken_inside || lock.Try(); });
  }
  EXPECT_FALSE(taken_inside);
  EXPECT_TRUE(taken_while_unlocked);
  EXPECT_TRUE(lock.Try());
  lock.Release();
}

struct CounterState {
  Lock lock;
  // Deliberately not atomic: only the lock keeps the increments whole.
  volatile int counter = 0;
  static constexpr int kIncrements = 20000;
};

void IncrementMany(CounterState* state) {
  for (int i = 0; i < CounterState::kIncrements; ++i) {
    AutoLock auto_lock(state->lock);
    state->counter = state->counter + 1;
  }
}

TEST(LockTest, ContendedAcquireIsMutuallyExclusive) {
  CounterState state;
  constexpr int kThreads = 8;
  std::vector<std::unique_ptr<TestThread>> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.push_back(
        std::make_unique<TestThread>([&] { IncrementMany(&state); }));
  IncrementMany(&state);
  for (auto& thread : threads)
    thread->Join();
  EXPECT_EQ((kThreads + 1) * CounterState::kIncrements, state.counter);
}

}  // namespace
}  // namespace base
