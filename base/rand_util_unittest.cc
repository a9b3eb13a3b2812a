#include "base/rand_util.h"

#include <limits>
#include <set>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(RandUtilTest, RandIntCoversASmallRange) {
  // The crash upload draws indices 0 to 61; each must be reachable. With
  // 10,000 draws a missing value has probability below 1e-70.
  std::set<int> seen;
  for (int i = 0; i < 10000 && seen.size() < 62; ++i) {
    int value = RandInt(0, 61);
    ASSERT_GE(value, 0);
    ASSERT_LE(value, 61);
    seen.insert(value);
  }
  EXPECT_EQ(62u, seen.size());
}

TEST(RandUtilTest, RandIntSingleValue) {
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(5, RandInt(5, 5));
  EXPECT_EQ(std::numeric_limits<int>::min(),
            RandInt(std::numeric_limits<int>::min(),
                    std::numeric_limits<int>::min()));
}

TEST(RandUtilTest, RandIntFullRange) {
  // A range of 2^32: results must spread over both signs and the extremes'
  // neighbourhoods, and both parities.
  const int kMin = std::numeric_limits<int>::min();
  const int kMax = std::numeric_limits<int>::max();
  bool below_quarter = false, above_three_quarters = false;
  bool odd = false, even = false;
  for (int i = 0; i < 1000; ++i) {
    int value = RandInt(kMin, kMax);
    below_quarter |= value < kMin / 2;
    above_three_quarters |= value > kMax / 2;
    (value & 1 ? odd : even) = true;
  }
  EXPECT_TRUE(below_quarter);
  EXPECT_TRUE(above_three_quarters);
  EXPECT_TRUE(odd);
  EXPECT_TRUE(even);
}

TEST(RandUtilTest, RandBytes) {
  RandBytes(nullptr, 0);  // Nothing to fill, nothing touched.

  std::vector<unsigned char> buffer(1000, 0);
  RandBytes(buffer.data(), buffer.size());
  // 1000 random bytes take well over 100 distinct values.
  std::set<unsigned char> distinct(buffer.begin(), buffer.end());
  EXPECT_GT(distinct.size(), 100u);
}

}  // namespace
}  // namespace base
