#include "base/strings/string_util.h"

#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base {

namespace {

std::wstring Units(std::initializer_list<unsigned> units) {
  std::wstring s;
  for (unsigned u : units)
    s.push_back(static_cast<wchar_t>(u));
  return s;
}

}  // namespace

TEST(StringUtilTest, WhitespaceSets) {
  EXPECT_EQ(25u, StringPiece16(kWhitespaceWide).size());
  EXPECT_EQ(StringPiece(" \t\n\v\f\r").size(),
            StringPiece(kWhitespaceASCII).size());
  EXPECT_EQ(6u, StringPiece16(kWhitespaceASCIIAs16).size());
  for (wchar_t c : {0x85, 0xA0, 0x1680, 0x2000, 0x200A, 0x2028, 0x2029, 0x202F,
                    0x205F, 0x3000}) {
    EXPECT_TRUE(IsUnicodeWhitespace(c)) << c;
  }
  EXPECT_FALSE(IsUnicodeWhitespace(0x200B));  // Zero-width space is not.
  EXPECT_FALSE(IsUnicodeWhitespace(0xFEFF));
}

TEST(StringUtilTest, CaseMappingIsAsciiOnly) {
  EXPECT_EQ("abc@[`{\xC3\x89", ToLowerASCII("AbC@[`{\xC3\x89"));
  EXPECT_EQ("ABC@[`{\xC3\xA9", ToUpperASCII("abc@[`{\xC3\xA9"));
  // Wide units are mapped only when the whole value is an ASCII letter.
  EXPECT_EQ(Units({'a', 0xFF21, 0x141, 0xC9}),
            ToLowerASCII(Units({'A', 0xFF21, 0x141, 0xC9})));
  EXPECT_EQ(Units({'A', 0xFF41, 0x161}),
            ToUpperASCII(Units({'a', 0xFF41, 0x161})));
  EXPECT_EQ('a', ToLowerASCII('A'));
  EXPECT_EQ(L'Z', ToUpperASCII(L'z'));
  EXPECT_EQ(static_cast<wchar_t>(0x161),
            ToLowerASCII(static_cast<wchar_t>(0x161)));
}

TEST(StringUtilTest, CaseInsensitiveComparisons) {
  EXPECT_TRUE(EqualsCaseInsensitiveASCII("Hello", "hELLO"));
  EXPECT_FALSE(EqualsCaseInsensitiveASCII("Hello", "hELLO!"));
  EXPECT_FALSE(EqualsCaseInsensitiveASCII("\xC3\x89", "\xC3\xA9"));
  EXPECT_TRUE(EqualsCaseInsensitiveASCII(L"Path", L"pATH"));
  EXPECT_FALSE(EqualsCaseInsensitiveASCII(Units({0xFF21}), Units({0xFF41})));

  EXPECT_TRUE(LowerCaseEqualsASCII(L"TRUE", "true"));
  EXPECT_FALSE(LowerCaseEqualsASCII(L"TRUE", "tru"));
  EXPECT_FALSE(LowerCaseEqualsASCII(L"true", "TRUE"));  // Not lowercase.
  // A high byte in the ASCII side never matches, not even the same value.
  EXPECT_FALSE(LowerCaseEqualsASCII(Units({0xE9}), "\xE9"));
  EXPECT_FALSE(LowerCaseEqualsASCII("\xE9", "\xE9"));
  EXPECT_TRUE(LowerCaseEqualsASCII("Yes", "yes"));
}

TEST(StringUtilTest, StartsWithAndEndsWith) {
  EXPECT_TRUE(StartsWith("abcdef", "ABC", CompareCase::INSENSITIVE_ASCII));
  EXPECT_FALSE(StartsWith("abcdef", "ABC", CompareCase::SENSITIVE));
  EXPECT_FALSE(StartsWith("abc", "ABC", static_cast<CompareCase>(2)));
  EXPECT_FALSE(StartsWith("abc", "abc", static_cast<CompareCase>(2)));
  EXPECT_TRUE(StartsWith("abc", "", CompareCase::SENSITIVE));
  EXPECT_TRUE(StartsWith("", "", CompareCase::SENSITIVE));
  EXPECT_FALSE(StartsWith("ab", "abc", CompareCase::INSENSITIVE_ASCII));
  EXPECT_TRUE(StartsWith(L"--Switch", L"--s", CompareCase::INSENSITIVE_ASCII));

  EXPECT_TRUE(EndsWith(L"setup.EXE", L".exe", CompareCase::INSENSITIVE_ASCII));
  EXPECT_FALSE(EndsWith(L"setup.EXE", L".exe", CompareCase::SENSITIVE));
  EXPECT_FALSE(EndsWith(L"xe", L".exe", CompareCase::INSENSITIVE_ASCII));
  EXPECT_TRUE(EndsWith(L"abc", L"", CompareCase::SENSITIVE));
  EXPECT_FALSE(EndsWith(L"abc", L"c", static_cast<CompareCase>(5)));
}

TEST(StringUtilTest, IsStringASCIIAtEveryAlignmentAndPosition) {
  EXPECT_TRUE(IsStringASCII(StringPiece()));
  EXPECT_TRUE(IsStringASCII(StringPiece16()));
  // Aligned storage, so that each offset exercises a different mix of the
  // leading, word and trailing loops.
  alignas(8) char narrow[64];
  alignas(8) wchar_t wide[64];
  for (size_t offset = 0; offset < 8; ++offset) {
    for (size_t length = 1; length <= 40; ++length) {
      for (size_t bad = 0; bad < length; ++bad) {
        memset(narrow, 'a', sizeof(narrow));
        for (auto& w : wide)
          w = L'a';
        EXPECT_TRUE(IsStringASCII(StringPiece(narrow + offset, length)));
        EXPECT_TRUE(IsStringASCII(StringPiece16(wide + offset, length)));
        narrow[offset + bad] = '\x80';
        wide[offset + bad] =
            0x100;  // Low byte 0: only the 0xFF80 mask sees it.
        EXPECT_FALSE(IsStringASCII(StringPiece(narrow + offset, length)))
            << offset << " " << length << " " << bad;
        EXPECT_FALSE(IsStringASCII(StringPiece16(wide + offset, length)))
            << offset << " " << length << " " << bad;
        wide[offset + bad] = 0x80;
        EXPECT_FALSE(IsStringASCII(StringPiece16(wide + offset, length)));
      }
    }
  }
  EXPECT_TRUE(IsStringASCII(std::wstring(L"\x7F\x01")));
}

TEST(StringUtilTest, TrimWhitespaceIntoOutput) {
  std::wstring out = L"stale";
  EXPECT_EQ(TRIM_ALL, TrimWhitespace(L"  \t ", TRIM_ALL, &out));
  EXPECT_EQ(L"", out);
  out = L"stale";
  EXPECT_EQ(TRIM_NONE, TrimWhitespace(L"", TRIM_ALL, &out));
  EXPECT_EQ(L"", out);
  EXPECT_EQ(TRIM_NONE, TrimWhitespace(L" a", TRIM_TRAILING, &out));
  EXPECT_EQ(L" a", out);
  EXPECT_EQ(TRIM_LEADING, TrimWhitespace(L" a ", TRIM_LEADING, &out));
  EXPECT_EQ(L"a ", out);
  EXPECT_EQ(TRIM_ALL,
            TrimWhitespace(Units({0x3000, 0xA0, 'a', ' ', 'b', 0xA0, 0x3000}),
                           TRIM_ALL, &out));
  EXPECT_EQ(L"a b", out);

  // Input and output may be the same string.
  std::wstring same = L"\n x \n";
  EXPECT_EQ(TRIM_ALL, TrimWhitespace(same, TRIM_ALL, &same));
  EXPECT_EQ(L"x", same);
  same = L"   ";
  EXPECT_EQ(TRIM_TRAILING, TrimWhitespace(same, TRIM_TRAILING, &same));
  EXPECT_EQ(L"", same);

  std::string narrow;
  EXPECT_EQ(TRIM_ALL, TrimWhitespaceASCII("\t a b \r\n", TRIM_ALL, &narrow));
  EXPECT_EQ("a b", narrow);
  // The narrow trims know only the six ASCII bytes.
  EXPECT_EQ(TRIM_NONE, TrimWhitespaceASCII("\xA0x\x85", TRIM_ALL, &narrow));
  EXPECT_EQ("\xA0x\x85", narrow);
}

TEST(StringUtilTest, TrimViews) {
  EXPECT_EQ("a b", TrimWhitespaceASCII("  a b\t", TRIM_ALL));
  EXPECT_EQ("a b\t", TrimWhitespaceASCII("  a b\t", TRIM_LEADING));
  EXPECT_EQ("  a b", TrimWhitespaceASCII("  a b\t", TRIM_TRAILING));
  EXPECT_EQ("  a b\t", TrimWhitespaceASCII("  a b\t", TRIM_NONE));
  EXPECT_TRUE(TrimWhitespaceASCII(" \t ", TRIM_ALL).empty());
  EXPECT_TRUE(TrimWhitespaceASCII(" \t ", TRIM_TRAILING).empty());
  EXPECT_TRUE(TrimWhitespaceASCII(" \t ", TRIM_LEADING).empty());
  EXPECT_TRUE(TrimWhitespaceASCII("", TRIM_ALL).empty());

  const std::string text = "\"quoted\"";
  const StringPiece trimmed = TrimString(text, "\"", TRIM_ALL);
  EXPECT_EQ("quoted", trimmed);
  EXPECT_EQ(text.data() + 1, trimmed.data());  // A view into the input.
  EXPECT_EQ("xxyxx", TrimString("xxyxx", "y", TRIM_ALL));  // Ends only.
  EXPECT_EQ("b", TrimString("abca", "ac", TRIM_ALL));
  EXPECT_EQ(L"b", TrimString(StringPiece16(L"abca"), L"ac", TRIM_ALL));
  EXPECT_EQ(L"ab", TrimString(StringPiece16(L"abca"), L"ac", TRIM_TRAILING));
  EXPECT_EQ(L"bca", TrimString(StringPiece16(L"abca"), L"ac", TRIM_LEADING));
  EXPECT_EQ(L"x", TrimWhitespace(StringPiece16(L"\x3000x\x2029"), TRIM_ALL));
}

TEST(StringUtilTest, CollapseWhitespaceASCII) {
  EXPECT_EQ("a b c", CollapseWhitespaceASCII("  a  b \n c ", false));
  EXPECT_EQ("a bc", CollapseWhitespaceASCII("  a  b \n c ", true));
  EXPECT_EQ("", CollapseWhitespaceASCII(" \t\r\n ", true));
  EXPECT_EQ("", CollapseWhitespaceASCII("", false));
  EXPECT_EQ("a", CollapseWhitespaceASCII("\na\n", true));
  EXPECT_EQ("ab", CollapseWhitespaceASCII("a\r\n \nb", true));
  EXPECT_EQ("a b", CollapseWhitespaceASCII("a\r\n \nb", false));
  // Bytes above ASCII are never white space.
  EXPECT_EQ(
      "\xA0"
      "a\x85",
      CollapseWhitespaceASCII("\xA0"
                              "a\x85",
                              false));
}

TEST(StringUtilTest, ReplaceChars) {
  std::string out;
  EXPECT_TRUE(ReplaceChars("a/b\\c", "/\\", "::", &out));
  EXPECT_EQ("a::b::c", out);
  EXPECT_TRUE(ReplaceChars("a-b-c", "-", "", &out));
  EXPECT_EQ("abc", out);
  EXPECT_TRUE(ReplaceChars("a-b-c", "-", "_", &out));
  EXPECT_EQ("a_b_c", out);
  EXPECT_FALSE(ReplaceChars("abc", "xyz", "_", &out));
  EXPECT_EQ("abc", out);
  EXPECT_FALSE(ReplaceChars("abc", "", "_", &out));
  EXPECT_EQ("abc", out);
  // In place, with a replacement that contains the replaced character.
  std::string same = "a.b.";
  EXPECT_TRUE(ReplaceChars(same, ".", "..", &same));
  EXPECT_EQ("a..b..", same);
}

TEST(StringUtilTest, ReplaceSubstringsGrowingInPlace) {
  // Room enough in the buffer: the tail is shifted inside it.
  std::string str = "-ab-ab-ab-";
  str.reserve(64);
  const char* const buffer = str.data();
  ReplaceSubstringsAfterOffset(&str, 0, "ab", "xyz");
  EXPECT_EQ("-xyz-xyz-xyz-", str);
  EXPECT_EQ(buffer, str.data());

  // A result that exactly fills the capacity still stays in place.
  std::string tight(40, 'a');
  tight.reserve(44);
  const size_t capacity = tight.capacity();
  tight.assign(capacity - 4, '.');
  tight[0] = 'a';
  tight[5] = 'a';
  const char* const tight_buffer = tight.data();
  ReplaceSubstringsAfterOffset(&tight, 0, "a", "aaa");
  EXPECT_EQ(capacity, tight.size());
  EXPECT_EQ(tight_buffer, tight.data());
  EXPECT_EQ("aaa....aaa", tight.substr(0, 10));
  EXPECT_EQ(std::string(capacity - 10, '.'), tight.substr(10));
}

TEST(StringUtilTest, ReplaceSubstringsGrowingIntoFreshBuffer) {
  std::string str(40, '.');
  str[3] = 'x';
  str[39] = 'x';
  str.shrink_to_fit();
  ASSERT_LT(str.capacity(), 44u);
  ReplaceSubstringsAfterOffset(&str, 0, "x", "<xx>");
  std::string expected(3, '.');
  expected += "<xx>" + std::string(35, '.') + "<xx>";
  EXPECT_EQ(expected, str);
  EXPECT_EQ(expected.size(), str.capacity());  // Reserved once, exactly.

  // A match at the very start and nothing after the last one.
  std::string edges(30, 'x');
  edges.shrink_to_fit();
  ReplaceSubstringsAfterOffset(&edges, 29, "x", "yy");
  EXPECT_EQ(std::string(29, 'x') + "yy", edges);
}

// Random texts over a small alphabet, so that matches are frequent and
// often adjacent, checked against a plain left-to-right rebuild. Random
// spare capacity sends growing replacements down both the in-place and the
// fresh-buffer paths.
TEST(StringUtilTest, ReplaceSubstringsAgreesWithSimpleRebuild) {
  std::mt19937 rng(20261206);
  auto random_text = [&rng](size_t max_len) {
    std::string s(rng() % (max_len + 1), 'a');
    for (char& c : s)
      c = "ab"[rng() % 2];
    return s;
  };
  for (int round = 0; round < 3000; ++round) {
    const std::string original = random_text(24);
    const std::string find_this = random_text(3);
    const std::string replace_with = random_text(5);
    const size_t offset = rng() % (original.size() + 2);

    std::string expected = original;
    if (!find_this.empty() && offset <= original.size()) {
      expected = original.substr(0, offset);
      size_t pos = offset;
      for (size_t match;
           (match = original.find(find_this, pos)) != std::string::npos;
           pos = match + find_this.size()) {
        expected += original.substr(pos, match - pos) + replace_with;
      }
      expected += original.substr(pos);
    }

    std::string str = original;
    if (rng() % 2)
      str.reserve(original.size() + rng() % 64);
    else
      str.shrink_to_fit();
    ReplaceSubstringsAfterOffset(&str, offset, find_this, replace_with);
    ASSERT_EQ(expected, str) << "\"" << original << "\" at " << offset << ": \""
                             << find_this << "\" -> \"" << replace_with << '"';
  }
  std::wstring wide = L"a%b%";
  ReplaceSubstringsAfterOffset(&wide, 0, L"%", L"%%");
  EXPECT_EQ(L"a%%b%%", wide);
}

TEST(StringUtilTest, ReplaceFirstSubstringAfterOffset) {
  std::string str = "a-b-c";
  ReplaceFirstSubstringAfterOffset(&str, 0, "-", "+");
  EXPECT_EQ("a+b-c", str);
  ReplaceFirstSubstringAfterOffset(&str, 2, "-", "");
  EXPECT_EQ("a+bc", str);
  ReplaceFirstSubstringAfterOffset(&str, 0, "", "zz");
  EXPECT_EQ("a+bc", str);
  ReplaceFirstSubstringAfterOffset(&str, 0, "bc", "longer");
  EXPECT_EQ("a+longer", str);
  std::wstring wide = L"x.y.z";
  ReplaceFirstSubstringAfterOffset(&wide, 2, L".", L"::");
  EXPECT_EQ(L"x.y::z", wide);
}

TEST(StringUtilTest, ReplaceStringPlaceholders) {
  EXPECT_EQ("x $2 $$  ",
            ReplaceStringPlaceholders("$1 $$2 $$$ $0 $", {"x"}, nullptr));
  EXPECT_EQ(L"x $2 $$  ",
            ReplaceStringPlaceholders(L"$1 $$2 $$$ $0 $", {L"x"}, nullptr));
  EXPECT_EQ("a- z", ReplaceStringPlaceholders("$1-$9$x z", {"a"}, nullptr));
  EXPECT_EQ("", ReplaceStringPlaceholders("", {"a"}, nullptr));

  std::vector<size_t> offsets = {99};  // Existing entries are kept.
  EXPECT_EQ("BBAABB",
            ReplaceStringPlaceholders("$2$1$2", {"AA", "BB"}, &offsets));
  EXPECT_EQ((std::vector<size_t>{99, 2, 0, 4}), offsets);

  offsets.clear();
  EXPECT_EQ(L"Install Kavor to C:\\x?",
            ReplaceStringPlaceholders(L"Install $1 to $2?",
                                      {L"Kavor", L"C:\\x"}, &offsets));
  EXPECT_EQ((std::vector<size_t>{8, 17}), offsets);

  // A placeholder past the substitutions appends nothing but is recorded.
  offsets.clear();
  EXPECT_EQ("ab", ReplaceStringPlaceholders("a$3b", {"x"}, &offsets));
  EXPECT_EQ((std::vector<size_t>{1}), offsets);
}

TEST(StringUtilTest, JoinString) {
  EXPECT_EQ("", JoinString(std::vector<std::string>(), ", "));
  EXPECT_EQ("a", JoinString(std::vector<std::string>{"a"}, ", "));
  EXPECT_EQ("a, , b", JoinString(std::vector<std::string>{"a", "", "b"}, ", "));
  EXPECT_EQ(L"a\\b", JoinString(std::vector<std::wstring>{L"a", L"b"}, L"\\"));
  EXPECT_EQ("ab", JoinString(std::vector<StringPiece>{"a", "b"}, ""));
  EXPECT_EQ("x|y|z", JoinString({"x", "y", "z"}, "|"));
}

TEST(StringUtilTest, WriteInto) {
  std::wstring wide;
  wchar_t* buffer = WriteInto(&wide, 6);
  ASSERT_EQ(5u, wide.size());
  EXPECT_EQ(std::wstring(5, L'\0'), wide);
  memcpy(buffer, L"hello", 6 * sizeof(wchar_t));  // Terminator included.
  EXPECT_EQ(L"hello", wide);

  std::string narrow = "abc";
  char* p = WriteInto(&narrow, 2);
  EXPECT_EQ(narrow.data(), p);
  EXPECT_EQ("a", narrow);
  EXPECT_TRUE(WriteInto(&narrow, 1) != nullptr);
  EXPECT_EQ("", narrow);
}

TEST(StringUtilTest, Strlcpy) {
  char buf[4];
  memset(buf, 'z', sizeof(buf));
  EXPECT_EQ(6u, strlcpy(buf, "abcdef", sizeof(buf)));
  EXPECT_STREQ("abc", buf);

  memset(buf, 'z', sizeof(buf));
  EXPECT_EQ(2u, strlcpy(buf, "ab", sizeof(buf)));
  EXPECT_STREQ("ab", buf);
  EXPECT_EQ('z', buf[3]);  // Nothing written past the terminator.

  EXPECT_EQ(3u, strlcpy(buf, "abc", sizeof(buf)));
  EXPECT_STREQ("abc", buf);

  memset(buf, 'z', sizeof(buf));
  EXPECT_EQ(5u, strlcpy(buf, "hello", 0));
  EXPECT_EQ('z', buf[0]);
  EXPECT_EQ(5u, strlcpy(buf, "hello", 1));
  EXPECT_EQ('\0', buf[0]);

  wchar_t wbuf[3];
  EXPECT_EQ(4u, wcslcpy(wbuf, L"wxyz", 3));
  EXPECT_STREQ(L"wx", wbuf);
}

TEST(StringUtilTest, MatchPatternWildcards) {
  struct Case {
    const char* eval;
    const char* pattern;
    bool expected;
  } cases[] = {
      {"abc", "a*", true},
      {"abc", "*c", true},
      {"abc", "*", true},
      {"", "*", true},
      {"", "", true},
      {"a", "", false},
      {"", "?", true},
      {"", "a", false},
      {"ac", "a?c", true},
      {"abc", "a?c", true},
      {"abbc", "a?c", false},
      {"ad", "a??d", true},
      {"abd", "a??d", true},
      {"abcd", "a??d", true},
      {"abcde", "a??d", false},
      {"abc", "a?", false},
      {"ab", "a?", true},
      {"abc", "a?*", true},
      {"abac", "*a?c", false},  // The segment "a" is taken at the first 'a'.
      {"xbac", "*a?c", true},
      {"a*c", "a\\*c", true},
      {"abc", "a\\*c", false},
      {"ab", "a\\?", false},
      {"a?", "a\\?", true},
      {"a\\b", "a\\\\b", true},
      {"Kavor.exe", "*.exe", true},
      {"Kavor.exe.bak", "*.exe", false},
      {"setup_47.0.log", "setup_*.log", true},
      {"aXbXc", "a*b*c", true},
      {"ab", "a*b*c", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, MatchPattern(c.eval, c.pattern))
        << '"' << c.eval << "\" vs \"" << c.pattern << '"';
  }
}

TEST(StringUtilTest, MatchPatternReadsCodePoints) {
  // '?' stands for one whole UTF-8 character, not one byte.
  EXPECT_TRUE(
      MatchPattern("a\xE2\x82\xAC"
                   "c",
                   "a?c"));
  EXPECT_TRUE(MatchPattern("\xC3\xA9t\xC3\xA9", "\xC3\xA9*"));
  EXPECT_FALSE(MatchPattern("\xC3\xA9", "\xC3\xA8"));
  // An ill-formed pattern character never matches, even the same bytes.
  EXPECT_FALSE(MatchPattern("\xFF", "\xFF"));
  EXPECT_FALSE(MatchPattern("a\xFF", "*\xFF"));
  // Ill-formed eval is still one character per maximal part.
  EXPECT_TRUE(
      MatchPattern("a\xE0\x80"
                   "b",
                   "a??b"));
  EXPECT_FALSE(
      MatchPattern("a\xE0\x80"
                   "b",
                   "a?b"));
}

TEST(StringUtilTest, MatchPatternIsLinearOnLongInput) {
  // Many stars against long eval would explode with backtracking.
  const std::string eval(20000, 'a');
  std::string pattern;
  for (int i = 0; i < 50; ++i)
    pattern += "*a";
  pattern += "*b";
  EXPECT_FALSE(MatchPattern(eval, pattern));
  EXPECT_TRUE(MatchPattern(eval + "b", pattern));
}

}  // namespace base
