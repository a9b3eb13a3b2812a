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

}  // namespace
