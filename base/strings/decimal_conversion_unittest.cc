#include "base/strings/decimal_conversion.h"

#include <errno.h>
#include <stdint.h>
#include <string.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

uint64_t Bits(double d) {
  uint64_t bits;
  memcpy(&bits, &d, sizeof(bits));
  return bits;
}

double FromBits(uint64_t bits) {
  double d;
  memcpy(&d, &bits, sizeof(d));
  return d;
}

std::string Format(double value) {
  char buffer[32];
  memset(buffer, 'X', sizeof(buffer));
  char* result = FormatShortestDouble(buffer, value);
  EXPECT_EQ(buffer, result);
  EXPECT_LE(strlen(buffer), 24u);
  return buffer;
}

struct Parsed {
  double value;
  size_t end;  // Offset of the end position from the start of the text.
  bool erange;
};

Parsed Parse(const std::string& text) {
  errno = 0;
  const char* end = nullptr;
  Parsed parsed;
  parsed.value = ParseDouble(text.c_str(), &end);
  parsed.end = static_cast<size_t>(end - text.c_str());
  parsed.erange = errno == ERANGE;
  return parsed;
}

const double kMaxDouble = std::numeric_limits<double>::max();
const double kMinSubnormal = std::numeric_limits<double>::denorm_min();
const double kInfinity = std::numeric_limits<double>::infinity();

TEST(DecimalConversionTest, FormatLayouts) {
  EXPECT_EQ("0", Format(0.0));
  EXPECT_EQ("-0", Format(-0.0));
  EXPECT_EQ("1", Format(1.0));
  EXPECT_EQ("-1", Format(-1.0));
  EXPECT_EQ(".5", Format(0.5));
  EXPECT_EQ(".1", Format(0.1));
  EXPECT_EQ(".3333333333333333", Format(1.0 / 3.0));
  EXPECT_EQ(".0001", Format(0.0001));
  EXPECT_EQ(".00012", Format(0.00012));
  EXPECT_EQ("1e-05", Format(0.00001));
  EXPECT_EQ("1.5e-05", Format(0.000015));
  EXPECT_EQ("100000", Format(100000.0));
  EXPECT_EQ("1e+06", Format(1000000.0));
  EXPECT_EQ("1234567", Format(1234567.0));
  EXPECT_EQ("12345600000", Format(12345600000.0));
  EXPECT_EQ("123456700000", Format(123456700000.0));
  EXPECT_EQ("1.234567e+12", Format(1234567000000.0));
  EXPECT_EQ("12.25", Format(12.25));
  EXPECT_EQ("1e+21", Format(1e21));
  EXPECT_EQ("1.5e+300", Format(1.5e300));
  EXPECT_EQ("1e-100", Format(1e-100));
  EXPECT_EQ("1.7976931348623157e+308", Format(kMaxDouble));
  EXPECT_EQ("-1.7976931348623157e+308", Format(-kMaxDouble));
  EXPECT_EQ("2.2250738585072014e-308",
            Format(std::numeric_limits<double>::min()));
  EXPECT_EQ("5e-324", Format(kMinSubnormal));
  EXPECT_EQ("Infinity", Format(kInfinity));
  EXPECT_EQ("-Infinity", Format(-kInfinity));
  EXPECT_EQ("NaN", Format(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_EQ("-NaN", Format(FromBits(0xfff8000000000000ull)));
  EXPECT_EQ("NaN", Format(FromBits(0x7ff0000000000001ull)));
}

TEST(DecimalConversionTest, DoubleToDigits) {
  const struct {
    double value;
    const char* digits;
    int point;
    int sign;
  } kCases[] = {
      {-1234.5, "12345", 4, 1},
      {0.0, "0", 1, 0},
      {-0.0, "0", 1, 1},
      {1e-7, "1", -6, 0},
      {-kInfinity, "Infinity", 9999, 1},
      {FromBits(0xfff8000000000000ull), "NaN", 9999, 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.digits);
    int point = 0, sign = 0;
    char* end = nullptr;
    char* digits = DoubleToDigits(c.value, &point, &sign, &end);
    EXPECT_STREQ(c.digits, digits);
    EXPECT_EQ(c.point, point);
    EXPECT_EQ(c.sign, sign);
    EXPECT_EQ(digits + strlen(c.digits), end);
    FreeDigits(digits);
  }
  // A null end pointer is allowed.
  int point = 0, sign = 0;
  FreeDigits(DoubleToDigits(1.0, &point, &sign, nullptr));
}

TEST(DecimalConversionTest, ParseSyntaxAndEndPositions) {
  struct {
    const char* text;
    double value;
    size_t end;
  } cases[] = {
      {" \t\n\v\f\r1.5x", 1.5, 9},
      {"1.5", 1.5, 3},
      {"+2", 2.0, 2},
      {"-2.", -2.0, 3},
      {"5", 5.0, 1},
      {"5.", 5.0, 2},
      {".5", 0.5, 2},
      {"5.25", 5.25, 4},
      {"007", 7.0, 3},
      {"1.e2", 100.0, 4},
      {"1e", 1.0, 1},
      {"1e+", 1.0, 1},
      {"1E-", 1.0, 1},
      {"1ex", 1.0, 1},
      {"1E+2", 100.0, 4},
      {"25e-1", 2.5, 5},
      {"1e0000000000000000002", 100.0, 21},
      {"1.5.5", 1.5, 3},
      {"1,5", 1.0, 1},
      {"0x1p3", 0.0, 1},
      {"0x10", 0.0, 1},
      {"12300", 12300.0, 5},
      {"0.000123e3", 0.123, 10},
      {"123.000", 123.0, 7},
      // No number: +0 and the end at the very start, before any white space.
      {"-", 0.0, 0},
      {"+", 0.0, 0},
      {" -", 0.0, 0},
      {"- 1", 0.0, 0},
      {".", 0.0, 0},
      {"-.", 0.0, 0},
      {".e5", 0.0, 0},
      {"e5", 0.0, 0},
      {"", 0.0, 0},
      {"   ", 0.0, 0},
      {"x1", 0.0, 0},
      {"in", 0.0, 0},
      {"na", 0.0, 0},
      {"\xA0"
       "1",
       0.0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Parsed parsed = Parse(c.text);
    EXPECT_EQ(Bits(c.value), Bits(parsed.value));
    EXPECT_EQ(c.end, parsed.end);
    EXPECT_FALSE(parsed.erange);
  }

  // A null end pointer is allowed.
  EXPECT_EQ(2.5, ParseDouble("2.5", nullptr));
}

TEST(DecimalConversionTest, ParseInfinityAndNaN) {
  struct {
    const char* text;
    uint64_t bits;
    size_t end;
  } cases[] = {
      {"inf", 0x7ff0000000000000ull, 3},
      {"INF", 0x7ff0000000000000ull, 3},
      {"Infinity", 0x7ff0000000000000ull, 8},
      {"-iNfInItY!", 0xfff0000000000000ull, 9},
      {"+infinit", 0x7ff0000000000000ull, 4},
      {"infinityy", 0x7ff0000000000000ull, 8},
      {"nan", 0x7ff8000000000000ull, 3},
      {"-nan", 0xfff8000000000000ull, 4},
      {"NaN", 0x7ff8000000000000ull, 3},
      {" nanx", 0x7ff8000000000000ull, 4},
      {"nan(0x1234)", 0x7ff0000000001234ull, 11},
      {"nan(0X1)z", 0x7ff0000000000001ull, 8},
      {"nan(abcdef)", 0x7ff0000000abcdefull, 11},
      {"-nan(8000000000000)", 0xfff8000000000000ull, 19},
      // Only the low 52 significand bits are kept.
      {"nan(1fffffffffffff)", 0x7fffffffffffffffull, 19},
      {"nan(10000000000000)", 0x7ff8000000000000ull, 19},
      // A zero payload keeps the default NaN but the ")" is still used.
      {"nan(0)", 0x7ff8000000000000ull, 6},
      // Incomplete or ill-formed payloads leave the end after "nan".
      {"nan(", 0x7ff8000000000000ull, 3},
      {"nan(12", 0x7ff8000000000000ull, 3},
      {"nan(12g)", 0x7ff8000000000000ull, 3},
      {"nan(0x", 0x7ff8000000000000ull, 3},
      // An empty payload is a zero payload, and the ")" is used.
      {"nan()", 0x7ff8000000000000ull, 5},
      {"nan(0x)", 0x7ff8000000000000ull, 7},
      {"-NAN(0X)1", 0xfff8000000000000ull, 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Parsed parsed = Parse(c.text);
    EXPECT_EQ(c.bits, Bits(parsed.value));
    EXPECT_EQ(c.end, parsed.end);
    EXPECT_FALSE(parsed.erange);
  }
}

// Texts at and beyond the ends of the double range, and short decimals that
// must read exactly; each text is read whole.
TEST(DecimalConversionTest, ParseRangeEnds) {
  const struct {
    std::string text;
    double value;
    bool erange;
  } kCases[] = {
      {"1e400", kInfinity, true},
      {"-1e400", -kInfinity, true},
      {"1.7976931348623159e308", kInfinity, true},  // Rounds past the largest.
      {"1.7976931348623158e308", kMaxDouble, false},  // Rounds down to it.
      {"1e-400", 0.0, true},
      {"-1e-400", -0.0, true},
      // Zero is exact whatever its exponent.
      {"0e-400", 0.0, false},
      {"-0.000e99999999999", -0.0, false},
      {"1e-310", 1e-310, true},
      {"4.9e-324", kMinSubnormal, true},
      // Just above half the smallest subnormal rounds up to it; exactly half
      // rounds to even, which is zero.
      {"2.4703282292062328e-324", kMinSubnormal, true},
      {"2.4703282292062327e-324", 0.0, true},
      {"2.2250738585072014e-308", std::numeric_limits<double>::min(), false},
      // Exponents far beyond any mantissa's length.
      {"1e999999999999", kInfinity, true},
      {"1e-999999999999", 0.0, true},
      // Leading zeros of the exponent are not significant.
      {"1e-00000000000000000300", 1e-300, false},
      // A long string of leading fraction zeros is not lost to the clamp.
      {"0." + std::string(400, '0') + "1e400", 0.1, false},
      {"0.1", 0.1, false},
      {".3", 0.3, false},
      {"123456789012345", 123456789012345.0, false},
      {"1e22", 1e22, false},
      {"1e23", 1e23, false},
      {"9007199254740993", 9007199254740992.0, false},  // Ties to even.
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text.substr(0, 30));
    Parsed parsed = Parse(c.text);
    EXPECT_EQ(Bits(c.value), Bits(parsed.value));
    EXPECT_EQ(c.text.size(), parsed.end);
    EXPECT_EQ(c.erange, parsed.erange);
  }

  // Success leaves errno alone.
  errno = EINVAL;
  EXPECT_EQ(1.0, ParseDouble("1", nullptr));
  EXPECT_EQ(EINVAL, errno);
}

// Long mantissas whose own digits make up for an exponent that is large in
// magnitude: the value is that of the whole text.
TEST(DecimalConversionTest, ParseMantissaDigitsOffsetTheExponent) {
  const std::string z20000(20000, '0');
  const std::string z30000(30000, '0');
  const struct {
    std::string text;
    double expected;
  } kCases[] = {
      {"1" + z20000 + "e-20000", 1.0},
      {"1" + z20000 + "e-19901", 1e99},
      {"-1" + z20000 + "e-20001", -0.1},
      {"1" + z30000 + "e-30307", 1e-307},
      {"17976931348623157" + z30000 + "e-30000", 17976931348623157.0},
      {"15" + z20000 + "e-20001", 1.5},
      // Leading zeros and long fractional parts.
      {"0." + z20000 + "1e20001", 1.0},
      {"0." + z30000 + "25e30000", 0.25},
      {"000000" + z20000 + "3.0e-1", 0.3},
      {"0." + z20000 + "1e20309", 1e308},
      {"." + z20000 + "123e19998", 1.23e-3},
      // Exponents beyond the old clamp cancelled by the mantissa's length.
      {"1" + z20000 + "e-20100", 1e-100},
      {"0." + z30000 + "1e30010", 1e9},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text.substr(0, 20) + "..." +
                 c.text.substr(c.text.size() - 10));
    Parsed parsed = Parse(c.text);
    EXPECT_EQ(Bits(c.expected), Bits(parsed.value));
    EXPECT_EQ(c.text.size(), parsed.end);
    EXPECT_FALSE(parsed.erange);
  }

  // Long digit strings round on every digit, the far ones included: the
  // half-way point between 1 and the next double, a non-zero digit 20,000
  // places behind it, and an exponent that takes the mantissa's length back.
  const std::string half =
      "100000000000000011102230246251565404236316680908203125";
  EXPECT_EQ(
      1.0, Parse(half + z20000 + "e-" + std::to_string(half.size() - 1 + 20000))
               .value);
  EXPECT_EQ(
      std::nextafter(1.0, 2.0),
      Parse(half + z20000 + "1e-" + std::to_string(half.size() - 1 + 20001))
          .value);

  // Still out of range when the digits do not make up for the exponent.
  Parsed parsed = Parse("1" + z20000 + "e-20400");
  EXPECT_EQ(0.0, parsed.value);
  EXPECT_TRUE(parsed.erange);
  parsed = Parse("0." + z20000 + "1e20400");
  EXPECT_EQ(kInfinity, parsed.value);
  EXPECT_TRUE(parsed.erange);
}

TEST(DecimalConversionTest, ParseLongMantissasRoundCorrectly) {
  // 1 + 2^-53 is exactly half way between 1 and the next double up.
  const std::string half =
      "1.00000000000000011102230246251565404236316680908203125";
  const double next_up = std::nextafter(1.0, 2.0);

  // Exactly half way: ties to even, which is 1.
  EXPECT_EQ(1.0, Parse(half).value);
  // 800 digits in all, the last one tipping the balance upwards.
  std::string above = half + std::string(800 - half.size() + 1, '0');
  above.back() = '1';
  ASSERT_EQ(801u, above.size());  // 800 digits and the point.
  Parsed parsed = Parse(above);
  EXPECT_EQ(next_up, parsed.value);
  EXPECT_EQ(above.size(), parsed.end);
  // The same with trailing zeros only stays on the tie.
  std::string zeros = half + std::string(700, '0');
  EXPECT_EQ(1.0, Parse(zeros).value);
  // Just below the tie, with 800 nines.
  std::string below =
      "1.00000000000000011102230246251565404236316680908203124" +
      std::string(800, '9');
  EXPECT_EQ(1.0, Parse(below).value);

  // An 800-digit integer: 10^799 has its own nearest double.
  std::string big = "1" + std::string(799, '0');
  parsed = Parse(big);
  EXPECT_EQ(kInfinity, parsed.value);
  EXPECT_TRUE(parsed.erange);
  std::string scaled = big + "e-500";
  EXPECT_EQ(1e299, Parse(scaled).value);
}

// Every finite double reads back from its text bit for bit, and the text is
// the shortest that does.
TEST(DecimalConversionTest, RoundTripRandomBitPatterns) {
  std::mt19937_64 random(0x5eed5eedu);
  uint64_t specials[] = {
      0,
      0x8000000000000000ull,
      1,
      0x000fffffffffffffull,
      0x0010000000000000ull,
      0x7fefffffffffffffull,
      0xffefffffffffffffull,
      0x3ff0000000000000ull,
      0x4340000000000000ull,  // 2^53
  };
  int checked = 0;
  auto check = [&checked](uint64_t bits) {
    const double value = FromBits(bits);
    char buffer[32];
    FormatShortestDouble(buffer, value);
    const char* end = nullptr;
    const double back = ParseDouble(buffer, &end);
    if (Bits(back) != bits || *end != '\0') {
      ADD_FAILURE() << "bits " << std::hex << bits << " text " << buffer;
      return false;
    }
    ++checked;
    return true;
  };
  for (uint64_t bits : specials)
    ASSERT_TRUE(check(bits));

  for (int i = 0; i < 1000000; ++i) {
    uint64_t bits = random();
    // Every eighth pattern is a subnormal or a small integer, which pure
    // random bits hardly ever reach.
    if (i % 16 == 1)
      bits &= 0x800fffffffffffffull;
    else if (i % 16 == 9)
      bits = Bits(static_cast<double>(bits >> (11 + bits % 53)));
    if ((bits & 0x7ff0000000000000ull) == 0x7ff0000000000000ull)
      continue;  // Not finite.
    if (!check(bits))
      break;
  }
  EXPECT_GT(checked, 990000);
}

TEST(DecimalConversionTest, DigitsAreShortest) {
  std::mt19937_64 random(42);
  for (int i = 0; i < 20000; ++i) {
    const double value = FromBits(random() & 0x7fefffffffffffffull);
    int point, sign;
    char* end;
    char* digits = DoubleToDigits(value, &point, &sign, &end);
    const int count = static_cast<int>(end - digits);
    EXPECT_LE(count, 17);
    EXPECT_NE('0', digits[count - 1]);
    if (count > 1) {
      // One digit fewer, correctly rounded, no longer reads back.
      char text[40];
      std::to_chars_result r =
          std::to_chars(text, text + sizeof(text), value,
                        std::chars_format::scientific, count - 2);
      double back = 0;
      std::from_chars(text, r.ptr, back);
      EXPECT_NE(value, back) << text;
    }
    FreeDigits(digits);
  }
}

}  // namespace
}  // namespace base
