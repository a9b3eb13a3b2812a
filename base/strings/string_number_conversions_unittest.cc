#include "base/strings/string_number_conversions.h"

#include <errno.h>
#include <stdint.h>
#include <string.h>

#include <limits>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

TEST(StringNumberConversionsTest, IntegersToText) {
  EXPECT_EQ("0", IntToString(0));
  EXPECT_EQ("-1", IntToString(-1));
  EXPECT_EQ("2147483647", IntToString(std::numeric_limits<int>::max()));
  EXPECT_EQ("-2147483648", IntToString(std::numeric_limits<int>::min()));
  EXPECT_EQ(L"-2147483648", IntToString16(std::numeric_limits<int>::min()));
  EXPECT_EQ(L"105", IntToString16(105));
  EXPECT_EQ("4294967295", UintToString(std::numeric_limits<unsigned>::max()));
  EXPECT_EQ(L"0", UintToString16(0));
  EXPECT_EQ("-9223372036854775808",
            Int64ToString(std::numeric_limits<int64_t>::min()));
  EXPECT_EQ(L"-9223372036854775808",
            Int64ToString16(std::numeric_limits<int64_t>::min()));
  EXPECT_EQ(L"9223372036854775807",
            Int64ToString16(std::numeric_limits<int64_t>::max()));
  EXPECT_EQ(L"18446744073709551615",
            Uint64ToString16(std::numeric_limits<uint64_t>::max()));
  EXPECT_EQ("10000000000", Uint64ToString(10000000000ull));
}

// The layouts themselves are the shortest-form formatter's, tested there.
TEST(StringNumberConversionsTest, DoubleToString) {
  EXPECT_EQ("-0", DoubleToString(-0.0));
  EXPECT_EQ(".5", DoubleToString(0.5));
  EXPECT_EQ("-Infinity",
            DoubleToString(-std::numeric_limits<double>::infinity()));
}

// Each case runs through the narrow and the wide parser.
struct IntCase {
  const char* input;
  int output;
  bool success;
};

TEST(StringNumberConversionsTest, StringToInt) {
  const IntCase cases[] = {
      {"0", 0, true},
      {"42", 42, true},
      {"+42", 42, true},
      {"-42", -42, true},
      {"007", 7, true},
      {"2147483647", 2147483647, true},
      {"2147483648", 2147483647, false},
      {"99999999999999999999", 2147483647, false},
      {"-2147483648", -2147483647 - 1, true},
      {"-2147483649", -2147483647 - 1, false},
      {" 42", 42, false},
      {"\t\n42", 42, false},
      {"42 ", 42, false},
      {"42x", 42, false},
      {"4x2", 4, false},
      {"x42", 0, false},
      {"", 0, false},
      {" ", 0, false},
      {"-", 0, false},
      {"+", 0, false},
      {"+-1", 0, false},
      {"--1", 0, false},
      {"- 1", 0, false},
      {"0x10", 0, false},
      // Range is checked before anything after the digit is looked at.
      {"2147483648x", 2147483647, false},
  };
  for (const IntCase& c : cases) {
    SCOPED_TRACE(c.input);
    int output = 12345;
    EXPECT_EQ(c.success, StringToInt(c.input, &output));
    EXPECT_EQ(c.output, output);

    std::wstring wide(c.input, c.input + strlen(c.input));
    output = 12345;
    EXPECT_EQ(c.success, StringToInt(wide, &output));
    EXPECT_EQ(c.output, output);
  }

  // An embedded NUL is a trailing character like any other.
  int output = 0;
  EXPECT_FALSE(StringToInt(StringPiece("6\0"
                                       "6",
                                       3),
                           &output));
  EXPECT_EQ(6, output);

  // The wide parser's white space is the wide classification.
  EXPECT_FALSE(StringToInt(StringPiece16(L"\x3000"
                                         L"5"),
                           &output));
  EXPECT_EQ(5, output);
  // Digits of other scripts are not digits.
  EXPECT_FALSE(StringToInt(StringPiece16(L"\xff11"), &output));
  EXPECT_EQ(0, output);
}

TEST(StringNumberConversionsTest, StringToUnsignedAndWide) {
  unsigned int u = 7;
  EXPECT_TRUE(StringToUint("4294967295", &u));
  EXPECT_EQ(4294967295u, u);
  EXPECT_FALSE(StringToUint("4294967296", &u));
  EXPECT_EQ(4294967295u, u);
  u = 7;
  EXPECT_FALSE(StringToUint("-0", &u));
  EXPECT_EQ(0u, u);
  u = 7;
  EXPECT_FALSE(StringToUint(StringPiece16(L"-1"), &u));
  EXPECT_EQ(0u, u);
  EXPECT_TRUE(StringToUint(StringPiece16(L"+12"), &u));
  EXPECT_EQ(12u, u);

  int64_t i64 = 0;
  EXPECT_TRUE(StringToInt64("-9223372036854775808", &i64));
  EXPECT_EQ(std::numeric_limits<int64_t>::min(), i64);
  EXPECT_FALSE(StringToInt64("-9223372036854775809", &i64));
  EXPECT_EQ(std::numeric_limits<int64_t>::min(), i64);
  EXPECT_TRUE(StringToInt64(StringPiece16(L"9223372036854775807"), &i64));
  EXPECT_EQ(std::numeric_limits<int64_t>::max(), i64);
  EXPECT_FALSE(StringToInt64(StringPiece16(L"9223372036854775808"), &i64));
  EXPECT_EQ(std::numeric_limits<int64_t>::max(), i64);

  uint64_t u64 = 0;
  EXPECT_TRUE(StringToUint64("18446744073709551615", &u64));
  EXPECT_EQ(std::numeric_limits<uint64_t>::max(), u64);
  u64 = 0;
  EXPECT_FALSE(StringToUint64("18446744073709551616", &u64));
  EXPECT_EQ(std::numeric_limits<uint64_t>::max(), u64);
  EXPECT_FALSE(StringToUint64("-1", &u64));
  EXPECT_EQ(0u, u64);

  size_t size = 1;
  EXPECT_TRUE(StringToSizeT("10000000000", &size));
  EXPECT_EQ(static_cast<size_t>(10000000000ull), size);
  EXPECT_FALSE(StringToSizeT("", &size));
  EXPECT_EQ(0u, size);
}

TEST(StringNumberConversionsTest, HexStringToInt) {
  const IntCase cases[] = {
      {"0x7fffffff", 2147483647, true},
      {"0X7FFFFFFF", 2147483647, true},
      {"7fffffff", 2147483647, true},
      {"80000000", 2147483647, false},
      {"0xffffffff", 2147483647, false},
      {"-0x80000000", -2147483647 - 1, true},
      {"-80000001", -2147483647 - 1, false},
      {"ff", 255, true},
      {"+0xAb", 171, true},
      {"-f", -15, true},
      {"0x", 0, false},
      {"0x0", 0, true},
      {"0xg", 0, false},
      {"0x0x1", 0, false},
      {"fg", 15, false},
      {" ff", 255, false},
      {"ff ", 255, false},
      {"", 0, false},
      {"-", 0, false},
  };
  for (const IntCase& c : cases) {
    SCOPED_TRACE(c.input);
    int output = 12345;
    EXPECT_EQ(c.success, HexStringToInt(c.input, &output));
    EXPECT_EQ(c.output, output);
  }
}

TEST(StringNumberConversionsTest, StringToDouble) {
  struct {
    const char* input;
    double output;
    bool success;
  } cases[] = {
      {"1.5", 1.5, true},
      {"-1.5e3", -1500.0, true},
      {".5", 0.5, true},
      {"Infinity", std::numeric_limits<double>::infinity(), true},
      {"1e-310", 1e-310, false},  // Range error: subnormal.
      {"1e999", std::numeric_limits<double>::infinity(), false},
      {" 1.5", 1.5, false},
      {"\n1.5", 1.5, false},
      {"1.5 ", 1.5, false},
      {"1.5x", 1.5, false},
      {"", 0.0, false},
      {"x", 0.0, false},
      {"0x10", 0.0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    double output = 77.0;
    EXPECT_EQ(c.success, StringToDouble(c.input, &output));
    EXPECT_EQ(c.output, output);
  }

  double output = 0;
  EXPECT_FALSE(StringToDouble(std::string("1.5\0"
                                          "5",
                                          5),
                              &output));
  EXPECT_EQ(1.5, output);
}

TEST(StringNumberConversionsTest, StringToDoubleKeepsErrno) {
  double output = 0;
  errno = EINVAL;
  EXPECT_TRUE(StringToDouble("2.5", &output));
  EXPECT_EQ(EINVAL, errno);
  // A refusal that is not a range error restores it too.
  EXPECT_FALSE(StringToDouble(" 2.5", &output));
  EXPECT_EQ(EINVAL, errno);
  // A range error is left for the caller to see.
  EXPECT_FALSE(StringToDouble("1e999", &output));
  EXPECT_EQ(ERANGE, errno);
  errno = 0;
}

TEST(StringNumberConversionsTest, HexEncode) {
  const uint8_t all[] = {0x00, 0x7f, 0x80, 0xff, 0x5a};
  EXPECT_EQ("007F80FF5A", HexEncode(all, sizeof(all)));
  EXPECT_EQ("", HexEncode(nullptr, 0));
}

TEST(StringNumberConversionsTest, HexStringToBytes) {
  std::vector<uint8_t> bytes = {0x42};
  EXPECT_TRUE(HexStringToBytes("01aBfF", &bytes));
  EXPECT_EQ((std::vector<uint8_t>{0x42, 0x01, 0xab, 0xff}), bytes);

  bytes.clear();
  EXPECT_FALSE(HexStringToBytes("", &bytes));
  EXPECT_FALSE(HexStringToBytes("abc", &bytes));
  EXPECT_FALSE(HexStringToBytes("0g", &bytes));
  EXPECT_FALSE(HexStringToBytes("g0", &bytes));
  EXPECT_TRUE(bytes.empty());
  EXPECT_FALSE(HexStringToBytes("010g", &bytes));
  EXPECT_EQ((std::vector<uint8_t>{0x01}), bytes);

  // Round trip through the encoder.
  std::vector<uint8_t> round;
  for (int i = 0; i < 256; ++i)
    round.push_back(static_cast<uint8_t>(i));
  std::vector<uint8_t> back;
  EXPECT_TRUE(HexStringToBytes(HexEncode(round.data(), round.size()), &back));
  EXPECT_EQ(round, back);
}

}  // namespace
}  // namespace base
