#include "base/vlog.h"

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(VlogTest, MatchVlogPattern) {
  EXPECT_TRUE(MatchVlogPattern("", ""));
  EXPECT_TRUE(MatchVlogPattern("", "*"));
  EXPECT_FALSE(MatchVlogPattern("", "?"));
  EXPECT_TRUE(MatchVlogPattern("foo", "foo"));
  EXPECT_FALSE(MatchVlogPattern("foo", "fo"));
  EXPECT_FALSE(MatchVlogPattern("fo", "foo"));

  EXPECT_TRUE(MatchVlogPattern("foo", "f?o*"));
  EXPECT_TRUE(MatchVlogPattern("fxobar", "f?o*"));
  EXPECT_FALSE(MatchVlogPattern("fo", "f?o*"));

  EXPECT_TRUE(MatchVlogPattern("blah", "b**h"));
  EXPECT_TRUE(MatchVlogPattern("bah", "b*a*h"));
  EXPECT_FALSE(MatchVlogPattern("blah", "b*x"));

  // Either slash matches either slash, but only a slash.
  EXPECT_TRUE(MatchVlogPattern("a/b\\c", "a\\b/c"));
  EXPECT_FALSE(MatchVlogPattern("a_b", "a/b"));
}

TEST(VlogTest, GlobalLevel) {
  int min_log_level = 0;
  VlogInfo vlog_info("3", "", &min_log_level);
  EXPECT_EQ(-3, min_log_level);
  EXPECT_EQ(3, vlog_info.GetVlogLevel("any.cc"));

  // No clamping of large values.
  int large = 0;
  VlogInfo large_info("100", "", &large);
  EXPECT_EQ(-100, large);

  // A level that is not a number leaves the minimum as it was.
  int unchanged = -2;
  VlogInfo bad_info("x3", "", &unchanged);
  EXPECT_EQ(-2, unchanged);
  EXPECT_EQ(2, bad_info.GetVlogLevel("any.cc"));
  VlogInfo trailing_info("3 ", "", &unchanged);
  EXPECT_EQ(-2, unchanged);
}

TEST(VlogTest, ModuleLevels) {
  int min_log_level = 0;
  VlogInfo vlog_info("1", "foo=2,bar-inl=5", &min_log_level);
  EXPECT_EQ(2, vlog_info.GetVlogLevel("C:\\src\\foo.cc"));
  EXPECT_EQ(2, vlog_info.GetVlogLevel("foo-inl.h"));
  EXPECT_EQ(2, vlog_info.GetVlogLevel("base/foo.h"));
  EXPECT_EQ(1, vlog_info.GetVlogLevel("foobar.cc"));
  // The module name has "-inl" removed, so "bar-inl" never matches.
  EXPECT_EQ(1, vlog_info.GetVlogLevel("bar-inl.h"));
}

TEST(VlogTest, PathPatternsMatchTheWholePath) {
  int min_log_level = 0;
  VlogInfo vlog_info("", "*/net/*=3", &min_log_level);
  EXPECT_EQ(3, vlog_info.GetVlogLevel("a\\net\\b.cc"));
  EXPECT_EQ(3, vlog_info.GetVlogLevel("a/net/b.cc"));
  EXPECT_EQ(0, vlog_info.GetVlogLevel("net.cc"));
  EXPECT_EQ(0, min_log_level);
}

TEST(VlogTest, FirstMatchingPatternWins) {
  int min_log_level = 0;
  VlogInfo vlog_info("", "foo=1,foo=4,f*=7", &min_log_level);
  EXPECT_EQ(1, vlog_info.GetVlogLevel("foo.cc"));
  EXPECT_EQ(7, vlog_info.GetVlogLevel("fa.cc"));
}

TEST(VlogTest, MalformedPairs) {
  int min_log_level = 0;
  // A missing level counts as 0; a partial number keeps what was parsed.
  VlogInfo vlog_info("2", "a=,b=3x, c = 4 ,d", &min_log_level);
  EXPECT_EQ(0, vlog_info.GetVlogLevel("a.cc"));
  EXPECT_EQ(3, vlog_info.GetVlogLevel("b.cc"));
  EXPECT_EQ(2, vlog_info.GetVlogLevel("d.cc"));
}

}  // namespace
}  // namespace base
