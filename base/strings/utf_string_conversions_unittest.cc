#include "base/strings/utf_string_conversions.h"

#include <windows.h>

#include <random>
#include <sstream>
#include <string>

#include "base/strings/sys_string_conversions.h"
#include "base/strings/utf8_reader.h"
#include "base/strings/utf_string_conversion_utils.h"
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

TEST(UTFStringConversionsTest, IllFormedUTF8BecomesReplacementCharacters) {
  struct Case {
    const char* utf8;
    std::wstring expected;
    bool well_formed;
  } cases[] = {
      // Overlong three-byte form: each byte its own maximal subpart.
      {"\xE0\x80\x80", Units({0xFFFD, 0xFFFD, 0xFFFD}), false},
      // A sequence cut short by the end of the text is one replacement.
      {"\xE1\x80", Units({0xFFFD}), false},
      {"a\xF0\x9F\x98", Units({'a', 0xFFFD}), false},
      // Encoded surrogate.
      {"\xED\xA0\x80", Units({0xFFFD, 0xFFFD, 0xFFFD}), false},
      // Above U+10FFFF.
      {"\xF4\x90\x80\x80", Units({0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}), false},
      // Lead bytes that never start a sequence.
      {"\xC0\xAF", Units({0xFFFD, 0xFFFD}), false},
      {"\xF5\x80", Units({0xFFFD, 0xFFFD}), false},
      {"\x80z", Units({0xFFFD, 'z'}), false},
      // A broken sequence does not swallow the character after it.
      {"\xE2\x82z", Units({0xFFFD, 'z'}), false},
      // Non-characters are valid and kept.
      {"\xEF\xBF\xBE", Units({0xFFFE}), true},
      {"\xEF\xB7\x90", Units({0xFDD0}), true},
      // Well-formed two-, three- and four-byte forms and the range ends.
      {"\xC3\xA9", Units({0xE9}), true},
      {"\xE2\x82\xAC", Units({0x20AC}), true},
      {"\xED\x9F\xBF", Units({0xD7FF}), true},
      {"\xEE\x80\x80", Units({0xE000}), true},
      {"\xF0\x9F\x98\x80", Units({0xD83D, 0xDE00}), true},
      {"\xF4\x8F\xBF\xBF", Units({0xDBFF, 0xDFFF}), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(c.expected, UTF8ToWide(c.utf8));
    EXPECT_EQ(c.expected, UTF8ToUTF16(c.utf8));
    std::wstring out = L"stale";
    EXPECT_EQ(c.well_formed, UTF8ToWide(c.utf8, strlen(c.utf8), &out));
    EXPECT_EQ(c.expected, out);
  }
}

TEST(UTFStringConversionsTest, EmbeddedNulIsKept) {
  const std::string with_nul("a\0\xC3\xA9", 4);
  EXPECT_EQ(Units({'a', 0, 0xE9}), UTF8ToWide(with_nul));
  EXPECT_EQ(with_nul, UTF16ToUTF8(Units({'a', 0, 0xE9})));
}

TEST(UTFStringConversionsTest, UTF16ToUTF8) {
  EXPECT_EQ("\xEF\xBF\xBD", UTF16ToUTF8(Units({0xD800})));
  EXPECT_EQ("\xEF\xBF\xBD", UTF16ToUTF8(Units({0xDC00})));
  EXPECT_EQ("\xF0\x9F\x98\x80", UTF16ToUTF8(Units({0xD83D, 0xDE00})));
  // A low surrogate before a high one: two unpaired surrogates.
  EXPECT_EQ("\xEF\xBF\xBD\xEF\xBF\xBD", UTF16ToUTF8(Units({0xDE00, 0xD83D})));
  // A high surrogate followed by an ordinary unit keeps that unit.
  EXPECT_EQ(
      "\xEF\xBF\xBD"
      "a",
      UTF16ToUTF8(Units({0xD83D, 'a'})));
  EXPECT_EQ("\xC3\xA9\xE2\x82\xAC\xEF\xBF\xBE",
            UTF16ToUTF8(Units({0xE9, 0x20AC, 0xFFFE})));
  EXPECT_EQ("\xEF\xBF\xBE", WideToUTF8(Units({0xFFFE})));

  std::string out;
  EXPECT_FALSE(WideToUTF8(L"\xD800", 1, &out));
  EXPECT_EQ("\xEF\xBF\xBD", out);
  EXPECT_TRUE(UTF16ToUTF8(L"\x20AC", 1, &out));
  EXPECT_EQ("\xE2\x82\xAC", out);
}

TEST(UTFStringConversionsTest, RoundTripOfEveryRangeBoundary) {
  const uint32_t code_points[] = {0x7F,   0x80,   0x7FF,   0x800,   0xD7FF,
                                  0xE000, 0xFFFF, 0x10000, 0x10FFFF};
  for (uint32_t cp : code_points) {
    std::string utf8;
    WriteUnicodeCharacter(cp, &utf8);
    std::wstring wide;
    WriteUnicodeCharacter(cp, &wide);
    EXPECT_EQ(wide, UTF8ToWide(utf8)) << cp;
    EXPECT_EQ(utf8, WideToUTF8(wide)) << cp;
  }
}

// Whatever bytes go in, what comes out is well formed: converting it again
// changes nothing, and well-formed input survives the round trip exactly.
TEST(UTFStringConversionsTest, RandomBytesConvertToStableText) {
  std::mt19937 rng(47);
  // Bytes biased towards lead and trail bytes, so that near-miss sequences
  // are common.
  const unsigned char kPool[] = {'a',  0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F,
                                 0xA0, 0xBF, 0xC0, 0xC2, 0xDF, 0xE0, 0xE1,
                                 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
  for (int round = 0; round < 5000; ++round) {
    std::string bytes(rng() % 12, '\0');
    for (char& c : bytes)
      c = static_cast<char>(kPool[rng() % sizeof(kPool)]);
    std::wstring wide;
    const bool well_formed = UTF8ToWide(bytes.data(), bytes.size(), &wide);
    std::string utf8;
    ASSERT_TRUE(WideToUTF8(wide.data(), wide.size(), &utf8));
    if (well_formed)
      ASSERT_EQ(bytes, utf8);
    else
      ASSERT_NE(std::wstring::npos, wide.find(L'\xFFFD'));
    std::wstring again;
    ASSERT_TRUE(UTF8ToWide(utf8.data(), utf8.size(), &again));
    ASSERT_EQ(wide, again);
  }
}

TEST(UTFStringConversionsTest, AsciiIsCopiedWithExactReservation) {
  const std::string ascii(100, 'x');
  const std::wstring wide = UTF8ToWide(ascii);
  EXPECT_EQ(std::wstring(100, L'x'), wide);
  EXPECT_EQ(100u, wide.capacity());
  const std::string narrow = WideToUTF8(wide);
  EXPECT_EQ(ascii, narrow);
  EXPECT_EQ(100u, narrow.capacity());
  EXPECT_EQ(L"", UTF8ToWide(StringPiece()));
  EXPECT_EQ("", UTF16ToUTF8(StringPiece16()));
}

TEST(UTFStringConversionsTest, AsciiConversions) {
  EXPECT_EQ(L"abc", ASCIIToUTF16("abc"));
  EXPECT_EQ(L"abc", ASCIIToWide("abc"));
  // Bytes above ASCII widen as signed values.
  EXPECT_EQ(Units({0xFF80, 0xFFFF}), ASCIIToUTF16("\x80\xFF"));
  EXPECT_EQ("abc", UTF16ToASCII(L"abc"));
  EXPECT_EQ("A", UTF16ToASCII(Units({0x141})));
  EXPECT_EQ("abc", WideToASCII(L"abc"));
}

TEST(UTFStringConversionsTest, WideStreamOutputIsUTF8) {
  std::ostringstream out;
  out << StringPiece16(Units({'a', 0xE9}));
  EXPECT_EQ("a\xC3\xA9", out.str());
}

TEST(UTFStringConversionUtilsTest, ReadUnicodeCharacterUTF8) {
  const char text[] = "a\xC3\xA9\xE0\x80z";
  const int32_t len = static_cast<int32_t>(strlen(text));
  int32_t index = 0;
  uint32_t cp = 0;
  EXPECT_TRUE(ReadUnicodeCharacter(text, len, &index, &cp));
  EXPECT_EQ(static_cast<uint32_t>('a'), cp);
  EXPECT_EQ(0, index);
  index = 1;
  EXPECT_TRUE(ReadUnicodeCharacter(text, len, &index, &cp));
  EXPECT_EQ(0xE9u, cp);
  EXPECT_EQ(2, index);  // On the last byte consumed.
  index = 3;
  EXPECT_FALSE(ReadUnicodeCharacter(text, len, &index, &cp));
  EXPECT_EQ(0xFFFFFFFFu, cp);
  EXPECT_EQ(3, index);  // Only the lead byte was acceptable.
}

TEST(UTFStringConversionUtilsTest, ReadUnicodeCharacterUTF16) {
  const std::wstring text = Units({0xD83D, 0xDE00, 0xDE00, 'a', 0xD83D});
  const int32_t len = static_cast<int32_t>(text.size());
  int32_t index = 0;
  uint32_t cp = 0;
  EXPECT_TRUE(ReadUnicodeCharacter(text.data(), len, &index, &cp));
  EXPECT_EQ(0x1F600u, cp);
  EXPECT_EQ(1, index);
  index = 2;
  cp = 7;
  EXPECT_FALSE(ReadUnicodeCharacter(text.data(), len, &index, &cp));
  EXPECT_EQ(2, index);
  EXPECT_EQ(7u, cp);  // Nothing stored.
  index = 3;
  EXPECT_TRUE(ReadUnicodeCharacter(text.data(), len, &index, &cp));
  EXPECT_EQ(static_cast<uint32_t>('a'), cp);
}

// A lead surrogate as the very last unit of the input: the unit behind it
// is not part of the input, even when it is a trail surrogate in memory.
TEST(UTFStringConversionsTest, LoneLeadSurrogateAtTheEndOfTheInput) {
  const struct {
    std::wstring units;  // The input is all but the last unit.
    const char* expected;
  } kCases[] = {
      {Units({0xD83D, 0xDE00}), "\xEF\xBF\xBD"},
      {Units({'a', 0xD83D, 0xDE00}), "a\xEF\xBF\xBD"},
      {Units({0xD83D, 0xDE00, 0xD83D, 0xDE00}), "\xF0\x9F\x98\x80\xEF\xBF\xBD"},
      {Units({0xDE00, 0xD83D, 0xDE00}), "\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto& c : kCases) {
    const StringPiece16 input(c.units.data(), c.units.size() - 1);
    EXPECT_EQ(c.expected, UTF16ToUTF8(input));
    int32_t index = static_cast<int32_t>(input.size()) - 1;
    uint32_t cp = 7;
    EXPECT_FALSE(ReadUnicodeCharacter(
        input.data(), static_cast<int32_t>(input.size()), &index, &cp));
    EXPECT_EQ(static_cast<int32_t>(input.size()) - 1, index);
    EXPECT_EQ(7u, cp);
  }

  // The same with the input ending right at an inaccessible page: reading
  // one unit too far faults.
  const size_t kPage = 4096;
  char* pages = static_cast<char*>(::VirtualAlloc(
      nullptr, 2 * kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_TRUE(pages);
  DWORD old_protection = 0;
  ASSERT_TRUE(
      ::VirtualProtect(pages + kPage, kPage, PAGE_NOACCESS, &old_protection));
  wchar_t* end = reinterpret_cast<wchar_t*>(pages + kPage);
  end[-2] = L'a';
  end[-1] = static_cast<wchar_t>(0xD83D);
  EXPECT_EQ("a\xEF\xBF\xBD", UTF16ToUTF8(StringPiece16(end - 2, 2)));
  ::VirtualFree(pages, 0, MEM_RELEASE);
}

TEST(UTFStringConversionUtilsTest, WriteUnicodeCharacterLengths) {
  std::string out = "x";
  EXPECT_EQ(1u, WriteUnicodeCharacter(0x41, &out));
  EXPECT_EQ(2u, WriteUnicodeCharacter(0x7FF, &out));
  EXPECT_EQ(3u, WriteUnicodeCharacter(0xFFFD, &out));
  EXPECT_EQ(4u, WriteUnicodeCharacter(0x1F600, &out));
  EXPECT_EQ("xA\xDF\xBF\xEF\xBF\xBD\xF0\x9F\x98\x80", out);
  std::wstring wide;
  EXPECT_EQ(1u, WriteUnicodeCharacter(0xFFFF, &wide));
  EXPECT_EQ(2u, WriteUnicodeCharacter(0x10FFFF, &wide));
  EXPECT_EQ(Units({0xFFFF, 0xDBFF, 0xDFFF}), wide);
}

TEST(UTFStringConversionUtilsTest, PrepareReservesByFirstUnit) {
  std::string narrow = "old";
  PrepareForUTF8Output(L"\xE9xxxxxxxxxxxxxxxxxxx", 20, &narrow);
  EXPECT_TRUE(narrow.empty());
  EXPECT_GE(narrow.capacity(), 60u);
  std::wstring wide = L"old";
  PrepareForUTF16Or32Output("\xC3\xA9xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx",
                            40, &wide);
  EXPECT_TRUE(wide.empty());
  EXPECT_GE(wide.capacity(), 20u);
}

TEST(UTF8ReaderTest, SentinelModeStepsOverMaximalSubpart) {
  struct Case {
    const char* bytes;
    int32_t expected_cp;
    int32_t expected_index;
  } cases[] = {
      {"\xF0\x9F\x98", -1, 3},      // Truncated four-byte form.
      {"\xF0\x8F\x80\x80", -1, 1},  // Overlong: second byte refused.
      {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4},
      {"\xE0\xA0\x80", 0x800, 3},
      {"\xED\x9F\xBF", 0xD7FF, 3},
      {"\xC2\x80", 0x80, 2},
      {"\xC1\xBF", -1, 1},
      {"\xFF", -1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    int32_t index = 0;
    const int32_t cp =
        ReadUTF8CodePoint(reinterpret_cast<const uint8_t*>(c.bytes), &index,
                          static_cast<int32_t>(strlen(c.bytes)));
    EXPECT_EQ(c.expected_cp, cp);
    EXPECT_EQ(c.expected_index, index);
  }
}

TEST(SysStringConversionsTest, RoundTripsThroughThePlatform) {
  EXPECT_EQ("", SysWideToUTF8(L""));
  EXPECT_EQ(L"", SysUTF8ToWide(""));
  const std::wstring wide = Units({'a', 0xE9, 0x20AC, 0xD83D, 0xDE00});
  const std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  EXPECT_EQ(utf8, SysWideToUTF8(wide));
  EXPECT_EQ(wide, SysUTF8ToWide(utf8));
  // Code page 1252 has the euro sign at 0x80.
  EXPECT_EQ("\x80", SysWideToMultiByte(Units({0x20AC}), 1252));
  EXPECT_EQ(Units({0x20AC}), SysMultiByteToWide("\x80", 1252));
  // A code page the system does not know is refused: empty result.
  EXPECT_EQ("", SysWideToMultiByte(L"abc", 12345));
}

}  // namespace base
