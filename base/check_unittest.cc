#include "base/check.h"

#include "gtest/gtest.h"

namespace {

int g_evaluations = 0;

bool CountedTrue() {
  ++g_evaluations;
  return true;
}

TEST(CheckTest, PassingCheckEvaluatesOnceAndContinues) {
  g_evaluations = 0;
  CHECK(CountedTrue());
  CHECK_EQ(2, 1 + 1);
  EXPECT_EQ(1, g_evaluations);
}

TEST(CheckDeathTest, FailingCheckEndsProcessWithoutOutput) {
  // A breakpoint trap with nothing written first: the message matcher
  // accepts only empty output on standard error.
  EXPECT_DEATH(CHECK(1 + 1 == 3), "^$");
  EXPECT_DEATH(NOTREACHED(), "^$");
}

// The tests run the optimised build with the debug checks live (CMake option
// KAVOR_DCHECK_ALWAYS_ON, set by scripts/build.sh): a test build configured
// like the release build would silently stop checking every DCHECK.
TEST(CheckDeathTest, TestBuildRunsDebugChecks) {
  EXPECT_TRUE(DCHECK_IS_ON());
  g_evaluations = 0;
  DCHECK(CountedTrue());
  EXPECT_EQ(1, g_evaluations);
  EXPECT_DEATH(DCHECK(1 + 1 == 3), "^$");
}

}  // namespace
