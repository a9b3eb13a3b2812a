#include "base/version.h"

#include <string>

#include "gtest/gtest.h"

namespace base {

TEST(VersionTest, ParsesAndPrints) {
  Version v("1.2.3");
  ASSERT_TRUE(v.IsValid());
  EXPECT_EQ((std::vector<uint32_t>{1, 2, 3}), v.components());
  EXPECT_EQ("1.2.3", v.GetString());

  Version leading_zero_later("1.02");
  ASSERT_TRUE(leading_zero_later.IsValid());
  EXPECT_EQ("1.2", leading_zero_later.GetString());

  EXPECT_TRUE(Version("0.1").IsValid());
  EXPECT_TRUE(Version("4294967295").IsValid());
  EXPECT_EQ("7", Version(std::vector<uint32_t>{7}).GetString());
}

TEST(VersionTest, RejectsMalformedText) {
  const char* const kBad[] = {"",           "1.",  ".1",     "1..2", "+1",
                              "1.+2",       "-1",  " 1",     "1 ",   "01",
                              "4294967296", "1.a", "1.2.-3", "1,2"};
  for (const char* bad : kBad) {
    Version v(bad);
    EXPECT_FALSE(v.IsValid()) << bad;
    EXPECT_TRUE(v.components().empty()) << bad;
  }
  EXPECT_FALSE(Version().IsValid());
}

TEST(VersionTest, CompareTo) {
  struct {
    const char* lhs;
    const char* rhs;
    int expected;
  } const kCases[] = {
      {"1.2", "1.10", -1}, {"2", "1.9.9", 1},
      {"1.0.0", "1", 0},   {"1.0.1", "1", 1},
      {"1", "1.0.1", -1},  {"1.2.3", "1.2.3", 0},
      {"0.9", "1", -1},    {"4294967295", "4294967294.9", 1},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.expected, Version(c.lhs).CompareTo(Version(c.rhs)))
        << c.lhs << " vs " << c.rhs;
  }
  EXPECT_TRUE(Version("1.0") == Version("1"));
  EXPECT_TRUE(Version("1.2") < Version("1.10"));
}

}  // namespace base
