#include "base/scope_guard.h"

#include <utility>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(ScopeGuardTest, RunsOnceAtScopeEndUnlessCancelled) {
  int runs = 0;
  {
    ScopeGuard guard([&] { ++runs; });
    ScopeGuard cancelled([&] { runs += 10; });
    cancelled.Cancel();
    EXPECT_EQ(0, runs);
  }
  EXPECT_EQ(1, runs);
}

TEST(ScopeGuardTest, MovedGuardRunsOnlyInItsNewOwner) {
  int runs = 0;
  {
    ScopeGuard first([&] { ++runs; });
    { ScopeGuard second(std::move(first)); }
    EXPECT_EQ(1, runs);
  }
  EXPECT_EQ(1, runs);
}

}  // namespace
}  // namespace base
