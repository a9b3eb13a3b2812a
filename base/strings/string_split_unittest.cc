#include "base/strings/string_split.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

using Strings = std::vector<std::string>;
using WideStrings = std::vector<std::wstring>;

TEST(StringSplitTest, PiecesAndEmptyPieces) {
  EXPECT_EQ((Strings{"a", "b", "", "c"}),
            SplitString("a,b,,c", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ((Strings{"a", "b", "c"}),
            SplitString("a,b,,c", ",", KEEP_WHITESPACE, SPLIT_WANT_NONEMPTY));
  EXPECT_EQ((Strings{"", ""}),
            SplitString(",", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ(Strings(),
            SplitString(",", ",", KEEP_WHITESPACE, SPLIT_WANT_NONEMPTY));
  EXPECT_EQ(Strings(), SplitString("", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ(Strings(),
            SplitString("", ",", TRIM_WHITESPACE, SPLIT_WANT_NONEMPTY));
  EXPECT_EQ((Strings{"", "a", ""}),
            SplitString(",a,", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ((Strings{"abc"}),
            SplitString("abc", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  // Any one of several separators cuts; they are not a delimiter string.
  EXPECT_EQ((Strings{"a", "b", "c"}),
            SplitString("a;b,c", ",;", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ((Strings{"a", "", "b"}),
            SplitString("a,;b", ",;", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  // Embedded NULs are ordinary text.
  EXPECT_EQ((Strings{std::string("a\0b", 3), "c"}),
            SplitString(StringPiece("a\0b,c", 5), ",", KEEP_WHITESPACE,
                        SPLIT_WANT_ALL));
}

TEST(StringSplitTest, Trimming) {
  EXPECT_EQ((Strings{"a", "b"}),
            SplitString(" a , b ", ",", TRIM_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ((Strings{" a ", " b "}),
            SplitString(" a , b ", ",", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ(
      (Strings{"a", "", "b c"}),
      SplitString("a,\t\r\n ,  b c ", ",", TRIM_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ((Strings{"a", "b c"}),
            SplitString("a,\t\r\n ,  b c ", ",", TRIM_WHITESPACE,
                        SPLIT_WANT_NONEMPTY));
  // The narrow form trims ASCII white space only: byte 0xA0 stays.
  EXPECT_EQ((Strings{"\xA0"
                     "a"}),
            SplitString("\xA0"
                        "a ",
                        ",", TRIM_WHITESPACE, SPLIT_WANT_ALL));
  // The wide form trims Unicode white space.
  EXPECT_EQ((WideStrings{L"a", L"b"}),
            SplitString(L"\x3000"
                        L"a\x00A0,\x2028"
                        L"b\x205F",
                        L",", TRIM_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ((WideStrings{L"x", L"", L"y"}),
            SplitString(L"x;;y", L";", KEEP_WHITESPACE, SPLIT_WANT_ALL));
  EXPECT_EQ((WideStrings{L"x", L"y", L"z"}),
            SplitString(L"x;y|z", L";|", KEEP_WHITESPACE, SPLIT_WANT_ALL));
}

TEST(StringSplitTest, PiecesViewTheInput) {
  const std::string input = "one, two,,three ";
  std::vector<StringPiece> pieces =
      SplitStringPiece(input, ",", TRIM_WHITESPACE, SPLIT_WANT_ALL);
  ASSERT_EQ(4u, pieces.size());
  EXPECT_EQ(input.data(), pieces[0].data());
  EXPECT_EQ("one", pieces[0]);
  EXPECT_EQ(input.data() + 5, pieces[1].data());
  EXPECT_EQ("two", pieces[1]);
  EXPECT_TRUE(pieces[2].empty());
  EXPECT_EQ("three", pieces[3]);

  pieces = SplitStringPiece(input, ",", KEEP_WHITESPACE, SPLIT_WANT_NONEMPTY);
  ASSERT_EQ(3u, pieces.size());
  EXPECT_EQ(" two", pieces[1]);
  EXPECT_EQ("three ", pieces[2]);
}

TEST(StringSplitTest, KeyValuePairs) {
  StringPairs pairs;
  EXPECT_TRUE(SplitStringIntoKeyValuePairs("a=1, b=2", '=', ',', &pairs));
  EXPECT_EQ((StringPairs{{"a", "1"}, {"b", "2"}}), pairs);

  EXPECT_FALSE(SplitStringIntoKeyValuePairs("a=1,b,c=", '=', ',', &pairs));
  EXPECT_EQ((StringPairs{{"a", "1"}, {"", ""}, {"c", ""}}), pairs);

  pairs.push_back({"stale", "entry"});
  EXPECT_TRUE(SplitStringIntoKeyValuePairs("", '=', ',', &pairs));
  EXPECT_TRUE(pairs.empty());
  pairs.push_back({"stale", "entry"});
  EXPECT_TRUE(SplitStringIntoKeyValuePairs(" , ", '=', ',', &pairs));
  EXPECT_TRUE(pairs.empty());

  // Only the pair as a whole is trimmed; a run of delimiters is skipped and
  // later delimiters belong to the value.
  EXPECT_TRUE(
      SplitStringIntoKeyValuePairs(" a = b ;a==b;a=b=c;=v", '=', ';', &pairs));
  EXPECT_EQ((StringPairs{{"a ", " b"}, {"a", "b"}, {"a", "b=c"}, {"", "v"}}),
            pairs);

  // The logging verbosity list's shape.
  EXPECT_TRUE(SplitStringIntoKeyValuePairs("foo=2,bar/*=1", '=', ',', &pairs));
  EXPECT_EQ((StringPairs{{"foo", "2"}, {"bar/*", "1"}}), pairs);

  // A failed pair does not stop the ones after it.
  EXPECT_FALSE(SplitStringIntoKeyValuePairs("k==,x:1,y=2", '=', ',', &pairs));
  EXPECT_EQ((StringPairs{{"k", ""}, {"", ""}, {"y", "2"}}), pairs);
}

}  // namespace
}  // namespace base
