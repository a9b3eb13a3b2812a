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

TEST(VlogTest, GlobalLevelFollowsLaterMinimumChanges) {
  // The global maximum is read from the minimum log level on every query:
  // lowering the minimum after set-up turns more verbose lines on, raising
  // it turns them off. Module levels stay as they were given.
  int min_log_level = 0;
  VlogInfo vlog_info("3", "foo=5", &min_log_level);
  EXPECT_EQ(3, vlog_info.GetVlogLevel("bar.cc"));
  min_log_level = -4;
  EXPECT_EQ(4, vlog_info.GetVlogLevel("bar.cc"));
  min_log_level = 1;
  EXPECT_EQ(-1, vlog_info.GetVlogLevel("bar.cc"));
  EXPECT_EQ(5, vlog_info.GetVlogLevel("foo.cc"));

  // Without "v" too: the global level is the one in force when asked.
  int without_v = -2;
  VlogInfo module_only("", "foo=5", &without_v);
  EXPECT_EQ(2, module_only.GetVlogLevel("bar.cc"));
  without_v = -3;
  EXPECT_EQ(3, module_only.GetVlogLevel("bar.cc"));
  EXPECT_EQ(5, module_only.GetVlogLevel("foo.cc"));
}

TEST(VlogTest, ModuleLevels) {
  const struct {
    const char* vmodule;
    const char* file;
    int level;
  } kCases[] = {
      {"foo=2,bar-inl=5", "C:\\src\\foo.cc", 2},
      {"foo=2,bar-inl=5", "foo-inl.h", 2},
      {"foo=2,bar-inl=5", "base/foo.h", 2},
      {"foo=2,bar-inl=5", "foobar.cc", 1},
      // The module name has "-inl" removed, so "bar-inl" never matches.
      {"foo=2,bar-inl=5", "bar-inl.h", 1},
      // Patterns with a slash match the whole path, either slash.
      {"*/net/*=3", "a\\net\\b.cc", 3},
      {"*/net/*=3", "a/net/b.cc", 3},
      {"*/net/*=3", "net.cc", 1},
      // The first matching pattern wins.
      {"foo=1,foo=4,f*=7", "foo.cc", 1},
      {"foo=1,foo=4,f*=7", "fa.cc", 7},
      // A missing level counts as 0; a partial number keeps what was parsed.
      {"a=,b=3x, c = 4 ,d", "a.cc", 0},
      {"a=,b=3x, c = 4 ,d", "b.cc", 3},
      {"a=,b=3x, c = 4 ,d", "d.cc", 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.vmodule << " " << c.file);
    int min_log_level = 0;
    VlogInfo vlog_info("1", c.vmodule, &min_log_level);
    EXPECT_EQ(c.level, vlog_info.GetVlogLevel(c.file));
    EXPECT_EQ(-1, min_log_level);
  }
}

}  // namespace
}  // namespace base
