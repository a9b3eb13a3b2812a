#include "base/scope_guard.h"

#include <utility>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(ScopeGuardTest, RunsOnceAtScopeEnd) {
  int runs = 0;
  {
    ScopeGuard guard([&] { ++runs; });
    EXPECT_EQ(0, runs);
  }
  EXPECT_EQ(1, runs);
}

TEST(ScopeGuardTest, CancelledGuardDoesNotRun) {
  int runs = 0;
  {
    ScopeGuard guard([&] { ++runs; });
    guard.Cancel();
  }
  EXPECT_EQ(0, runs);
}

TEST(ScopeGuardTest, MovedGuardRunsOnlyInItsNewOwner) {
  int runs = 0;
  {
    ScopeGuard first([&] { ++runs; });
    {
      ScopeGuard second(std::move(first));
    }
    EXPECT_EQ(1, runs);
  }
  EXPECT_EQ(1, runs);
}

}  // namespace
}  // namespace base
