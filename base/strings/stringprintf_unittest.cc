#include "base/strings/stringprintf.h"

#include <stdarg.h>

#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(StringPrintfTest, Narrow) {
  EXPECT_EQ("", StringPrintf("%s", ""));
  EXPECT_EQ("1 two 3.5 x ff",
            StringPrintf("%d %s %.1f %c %x", 1, "two", 3.5, 'x', 255));
  EXPECT_EQ("-2147483648", StringPrintf("%d", -2147483647 - 1));
  EXPECT_EQ("[   42]", StringPrintf("[%5d]", 42));
  // Wide text in a narrow format.
  EXPECT_EQ("wide", StringPrintf("%ls", L"wide"));
}

TEST(StringPrintfTest, Wide) {
  EXPECT_EQ(L"", StringPrintf(L"%ls", L""));
  EXPECT_EQ(L"7 text \x263a z",
            StringPrintf(L"%d %ls %lc %lc", 7, L"text", L'\x263a', L'z'));
  EXPECT_EQ(L"00ab", StringPrintf(L"%04x", 0xab));
}

TEST(StringPrintfTest, AppendF) {
  std::string narrow = "start:";
  StringAppendF(&narrow, "%d,%s", 5, "five");
  EXPECT_EQ("start:5,five", narrow);

  std::wstring wide = L"w:";
  StringAppendF(&wide, L"%ls%d", L"x", 9);
  EXPECT_EQ(L"w:x9", wide);
}

// 1023 units fit the stack buffer with its terminator; 1024 take the heap
// path, and nothing may be lost at either boundary.
TEST(StringPrintfTest, StackAndHeapBoundaries) {
  for (size_t length : {1022u, 1023u, 1024u, 1025u, 5000u, 100000u}) {
    SCOPED_TRACE(length);
    std::string expected(length - 1, 'a');
    expected.push_back('z');
    std::string text = expected.substr(0, length - 1);
    EXPECT_EQ(expected, StringPrintf("%sz", text.c_str()));

    // Padding produces the text inside the formatter, not from an argument.
    std::string padded = StringPrintf("%*d", static_cast<int>(length), 7);
    ASSERT_EQ(length, padded.size());
    EXPECT_EQ('7', padded.back());
    EXPECT_EQ(' ', padded.front());

    std::wstring wide_expected(length - 1, L'\x263a');
    wide_expected.push_back(L'z');
    std::wstring wide_text = wide_expected.substr(0, length - 1);
    EXPECT_EQ(wide_expected, StringPrintf(L"%lsz", wide_text.c_str()));

    std::string appended = "prefix";
    StringAppendF(&appended, "%s", expected.c_str());
    EXPECT_EQ("prefix" + expected, appended);
  }
}

TEST(StringPrintfTest, ConversionNulIsKept) {
  std::string text = StringPrintf("a%cb", '\0');
  EXPECT_EQ(std::string("a\0b", 3), text);

  std::string big = StringPrintf("%c%2000d", '\0', 1);
  ASSERT_EQ(2001u, big.size());
  EXPECT_EQ('\0', big[0]);
}

TEST(StringPrintfTest, SizeLimit) {
  // The largest result that is produced: one unit below the limit, which
  // counts the terminator.
  std::string largest = StringPrintf("%*d", 32 * 1024 * 1024 - 1, 1);
  EXPECT_EQ(32u * 1024 * 1024 - 1, largest.size());
  largest.clear();
  largest.shrink_to_fit();

  std::string too_large = "kept";
  StringAppendF(&too_large, "%*d", 32 * 1024 * 1024, 1);
  EXPECT_EQ("kept", too_large);
  EXPECT_EQ(L"", StringPrintf(L"%*d", 32 * 1024 * 1024, 1));
}

// A formatter failure leaves the destination as it was.
TEST(StringPrintfTest, FormatterFailureAppendsNothing) {
  // Wide text without a narrow form cannot be written by a narrow format.
  std::string narrow = "kept";
  StringAppendF(&narrow, "%ls", L"\x4e2d\x6587");
  EXPECT_EQ("kept", narrow);
  EXPECT_EQ("", StringPrintf("%ls", L"\x4e2d\x6587"));
}

void AppendVHelper(std::string* dst, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  StringAppendV(dst, format, ap);
  va_end(ap);
}

TEST(StringPrintfTest, AppendVReadsItsArgumentsOnEveryPass) {
  // The heap path formats the same argument list a second time.
  std::string long_text(3000, 'q');
  std::string dst;
  AppendVHelper(&dst, "%s|%d|%s", long_text.c_str(), 12, "end");
  EXPECT_EQ(long_text + "|12|end", dst);
}

}  // namespace
}  // namespace base
