#include "base/synchronization/lock.h"

#include <windows.h>

#include "gtest/gtest.h"

namespace base {
namespace {

// Runs |function| on a new thread and waits for it to end.
template <typename Function>
void RunOnOtherThread(Function function) {
  struct Trampoline {
    static DWORD WINAPI Run(void* arg) {
      (*static_cast<Function*>(arg))();
      return 0;
    }
  };
  HANDLE thread =
      ::CreateThread(nullptr, 0, &Trampoline::Run, &function, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread, INFINITE));
  ::CloseHandle(thread);
}

TEST(LockTest, TryOnFreeLockTakesIt) {
  Lock lock;
  EXPECT_TRUE(lock.Try());
  bool taken_elsewhere = true;
  RunOnOtherThread([&] { taken_elsewhere = lock.Try(); });
  EXPECT_FALSE(taken_elsewhere);
  lock.Release();
  EXPECT_TRUE(lock.Try());
  lock.Release();
}

TEST(LockTest, TryOnLockHeldByAnotherThreadFailsAtOnce) {
  Lock lock;
  lock.Acquire();
  bool taken = true;
  RunOnOtherThread([&] { taken = lock.Try(); });
  EXPECT_FALSE(taken);
  lock.Release();

  RunOnOtherThread([&] {
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
    RunOnOtherThread([&] { taken_inside = lock.Try(); });
    {
      AutoUnlock auto_unlock(lock);
      RunOnOtherThread([&] {
        taken_while_unlocked = lock.Try();
        if (taken_while_unlocked)
          lock.Release();
      });
    }
    // Held again after the unlock scope.
    RunOnOtherThread([&] { taken_inside = taken_inside || lock.Try(); });
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

DWORD WINAPI IncrementMany(void* arg) {
  CounterState* state = static_cast<CounterState*>(arg);
  for (int i = 0; i < CounterState::kIncrements; ++i) {
    AutoLock auto_lock(state->lock);
    state->counter = state->counter + 1;
  }
  return 0;
}

TEST(LockTest, ContendedAcquireIsMutuallyExclusive) {
  CounterState state;
  constexpr int kThreads = 8;
  HANDLE threads[kThreads];
  for (HANDLE& thread : threads) {
    thread = ::CreateThread(nullptr, 0, &IncrementMany, &state, 0, nullptr);
    ASSERT_NE(nullptr, thread);
  }
  IncrementMany(&state);
  EXPECT_EQ(WAIT_OBJECT_0,
            ::WaitForMultipleObjects(kThreads, threads, TRUE, INFINITE));
  for (HANDLE thread : threads)
    ::CloseHandle(thread);
  EXPECT_EQ((kThreads + 1) * CounterState::kIncrements, state.counter);
}

}  // namespace
}  // namespace base
