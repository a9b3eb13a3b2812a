#include "base/trace_event/memory_usage_estimator.h"

#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

TEST(MemoryUsageEstimatorTest, StringCountsOnlyItsHeapBuffer) {
  std::string text;
  EXPECT_EQ(0u, EstimateMemoryUsage(text));
  text = "short";
  EXPECT_EQ(0u, EstimateMemoryUsage(text));

  text.assign(100, 'x');
  EXPECT_GE(text.capacity(), 100u);
  EXPECT_EQ(text.capacity() + 1, EstimateMemoryUsage(text));

  // Reserving grows the buffer without growing the text.
  text.reserve(1000);
  EXPECT_EQ(text.capacity() + 1, EstimateMemoryUsage(text));
  EXPECT_GE(EstimateMemoryUsage(text), 1001u);
}

}  // namespace
}  // namespace trace_event
}  // namespace base
