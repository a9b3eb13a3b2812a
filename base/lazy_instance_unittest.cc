#include "base/lazy_instance.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <vector>

#include "base/at_exit.h"
#include "base/lazy_instance_helpers.h"
#include "base/test/test_thread.h"
#include "gtest/gtest.h"

namespace base {

namespace {

constexpr int kRacingThreads = 8;

std::atomic<int> g_threads_at_gate{0};
std::atomic<int> g_constructions{0};

class SlowToBuild {
 public:
  SlowToBuild() {
    ++g_constructions;
    // Hold the gate until every thread has reached it, so that the others
    // really find the object being created.
    while (g_threads_at_gate.load() < kRacingThreads)
      ::SwitchToThread();
  }
};

TEST(LazyInstanceTest, RacingThreadsCreateExactlyOneObject) {
  g_threads_at_gate = 0;
  g_constructions = 0;
  LazyInstance<SlowToBuild>::Leaky racy;
  HANDLE start = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SlowToBuild* results[kRacingThreads] = {};
  std::vector<std::unique_ptr<TestThread>> threads;
  for (SlowToBuild*& result : results) {
    threads.push_back(std::make_unique<TestThread>([&racy, start, &result] {
      ::WaitForSingleObject(start, INFINITE);
      ++g_threads_at_gate;
      result = racy.Pointer();
    }));
  }
  EXPECT_FALSE(racy.IsCreated());
  ::SetEvent(start);
  for (auto& thread : threads)
    thread->Join();
  ::CloseHandle(start);

  EXPECT_EQ(1, g_constructions.load());
  EXPECT_TRUE(racy.IsCreated());
  for (SlowToBuild* result : results) {
    EXPECT_NE(nullptr, result);
    EXPECT_EQ(racy.Pointer(), result);
  }
}

TEST(LazyInstanceTest, NullCreationResetsTheStateWord) {
  internal::LazyInstanceState state{0};
  int object = 0;
  int calls = 0;

  EXPECT_EQ(nullptr, internal::GetOrCreateLazyPointer<int>(
                         &state,
                         [&]() -> int* {
                           ++calls;
                           return nullptr;
                         },
                         nullptr, nullptr));
  EXPECT_EQ(0u, state.load());

  EXPECT_EQ(&object, internal::GetOrCreateLazyPointer<int>(
                         &state,
                         [&] {
                           ++calls;
                           return &object;
                         },
                         nullptr, nullptr));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(&object), state.load());

  // Made: the creator is not asked again.
  EXPECT_EQ(&object, internal::GetOrCreateLazyPointer<int>(
                         &state,
                         [&]() -> int* {
                           ++calls;
                           return nullptr;
                         },
                         nullptr, nullptr));
  EXPECT_EQ(2, calls);
}

TEST(LazyInstanceTest, WaiterReturnsOnlyOnceCreationIsComplete) {
  internal::LazyInstanceState state{0};
  ASSERT_TRUE(internal::NeedsLazyInstance(&state));
  EXPECT_EQ(internal::kLazyInstanceStateCreating, state.load());

  bool needed = true;
  uintptr_t seen = 0;
  TestThread thread([&] {
    needed = internal::NeedsLazyInstance(&state);
    seen = state.load();
  });
  int object = 0;
  internal::CompleteLazyInstance(&state, reinterpret_cast<uintptr_t>(&object),
                                 nullptr, nullptr);
  thread.Join();
  EXPECT_FALSE(needed);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(&object), seen);
  EXPECT_FALSE(internal::NeedsLazyInstance(&state));
}

int g_destructions = 0;

class CountsDestruction {
 public:
  ~CountsDestruction() { ++g_destructions; }
  int value = 7;
};

LazyInstance<CountsDestruction>::DestructorAtExit g_destroyed_at_exit =
    LAZY_INSTANCE_INITIALIZER;
LazyInstance<CountsDestruction>::Leaky g_leaked = LAZY_INSTANCE_INITIALIZER;

TEST(LazyInstanceTest, AtExitManagerDestroysOnlyDestructorAtExitInstances) {
  g_destructions = 0;
  {
    AtExitManager manager;
    EXPECT_EQ(7, g_destroyed_at_exit.Get().value);
    EXPECT_EQ(7, g_leaked.Get().value);
    EXPECT_EQ(0, g_destructions);
  }
  EXPECT_EQ(1, g_destructions);
  EXPECT_FALSE(g_destroyed_at_exit.IsCreated());
  EXPECT_TRUE(g_leaked.IsCreated());

  // Destroyed instances are made again on the next use.
  {
    AtExitManager manager;
    EXPECT_EQ(7, g_destroyed_at_exit->value);
  }
  EXPECT_EQ(2, g_destructions);
}

}  // namespace

}  // namespace base
