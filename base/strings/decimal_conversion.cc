#include "base/strings/decimal_conversion.h"

#include <errno.h>
#include <stdint.h>
#include <string.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "base/check.h"

namespace base {

namespace {

// 17 significant digits always suffice for a double.
constexpr int kMaxShortestDigits = 17;

// Written exponents saturate here. The mantissa's own digits shift the
// value's scale by at most the length of the text, which is far below this,
// so a saturated exponent still overflows or underflows every mantissa, and
// the sums of exponents and digit counts stay far from integer overflow.
constexpr int64_t kExponentLimit = 100000000000000000;  // 10^17.

// Significant digits kept for the conversion. Every point half way between
// two adjacent doubles has at most 767 significant digits, so a value cut
// after this many digits, with a non-zero digit put behind when anything
// non-zero was cut, lies on the same side of every such point as the full
// value and rounds the same way.
constexpr size_t kMaxSignificantDigits = 800;

// A value 0.d1d2... x 10^p with p above this exceeds the largest double
// (about 1.8 x 10^308); with p below the other, it is less than half the
// smallest subnormal (about 4.9 x 10^-324) and rounds to zero.
constexpr int64_t kOverflowPoint = 310;
constexpr int64_t kUnderflowPoint = -325;

constexpr uint64_t kSignBit = 0x8000000000000000ull;
constexpr uint64_t kExponentMask = 0x7ff0000000000000ull;
constexpr uint64_t kSignificandMask = 0x000fffffffffffffull;
constexpr uint64_t kDefaultNaNBits = 0x7ff8000000000000ull;

uint64_t BitsOf(double d) {
  uint64_t bits;
  memcpy(&bits, &d, sizeof(bits));
  return bits;
}

double DoubleFromBits(uint64_t bits) {
  double d;
  memcpy(&d, &bits, sizeof(d));
  return d;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

char ToLowerASCII(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

// True when |text| starts with the lower-case |word| in any mix of case.
bool StartsWithNoCase(const char* text, const char* word) {
  for (; *word; ++text, ++word) {
    if (ToLowerASCII(*text) != *word)
      return false;
  }
  return true;
}

// Shortest round-trip digits of a finite, non-negative |magnitude| into
// |digits| (no NUL); returns their count and sets |*point| so that the value
// is 0.d1d2...dn x 10^point. The standard library's shortest scientific form
// is exactly the digit string wanted: fewest digits that read back, and the
// one nearest the binary value among those.
int ShortestDigits(double magnitude, char* digits, int* point) {
  if (magnitude == 0) {
    digits[0] = '0';
    *point = 1;
    return 1;
  }
  char text[32];
  std::to_chars_result r = std::to_chars(text, text + sizeof(text), magnitude,
                                         std::chars_format::scientific);
  CHECK(r.ec == std::errc());
  // The text is "d[.ddd]e(+|-)xx[x]".
  const char* p = text;
  int count = 0;
  digits[count++] = *p++;
  if (*p == '.') {
    for (++p; *p != 'e' && count < kMaxShortestDigits; ++p)
      digits[count++] = *p;
  }
  CHECK(*p == 'e');
  ++p;
  const bool negative_exponent = *p == '-';
  int exponent = 0;
  for (++p; p < r.ptr; ++p)
    exponent = exponent * 10 + (*p - '0');
  while (count > 1 && digits[count - 1] == '0')
    --count;
  *point = (negative_exponent ? -exponent : exponent) + 1;
  return count;
}

// Reads "(payload)" after "nan". Returns true and sets |*end| past the ")"
// and |*payload| when the form is complete: an optional "0x", hexadecimal
// digits (none at all is an empty, zero payload), then ")".
bool ParseNaNPayload(const char* s, const char** end, uint64_t* payload) {
  if (*s != '(')
    return false;
  ++s;
  if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
    s += 2;
  uint64_t value = 0;
  for (;; ++s) {
    const int digit = HexDigitValue(*s);
    if (digit >= 0) {
      value = (value << 4) | static_cast<uint64_t>(digit);
      continue;
    }
    if (*s == ')') {
      *end = s + 1;
      *payload = value & kSignificandMask;
      return true;
    }
    return false;
  }
}

// The decimal value digits x 10^exponent (digits without leading or trailing
// zeros, at least one, at most kMaxSignificantDigits + 1) rounded to the
// nearest double, with the errno rules. |point| is the decimal point
// position of the value, 0.d1d2... x 10^point.
double DigitsToDouble(const char* digits,
                      size_t count,
                      int64_t exponent,
                      int64_t point,
                      bool negative) {
  double value = 0;
  if (point > kOverflowPoint) {
    errno = ERANGE;
    value = std::numeric_limits<double>::infinity();
  } else if (point < kUnderflowPoint) {
    errno = ERANGE;
  } else {
    // "<digits>e<exponent>"; the exponent needs at most 20 bytes.
    char text[kMaxSignificantDigits + 1 + 24];
    CHECK(count <= kMaxSignificantDigits + 1);
    memcpy(text, digits, count);
    text[count] = 'e';
    std::to_chars_result w =
        std::to_chars(text + count + 1, text + sizeof(text), exponent);
    CHECK(w.ec == std::errc());
    std::from_chars_result r =
        std::from_chars(text, w.ptr, value, std::chars_format::scientific);
    if (r.ec == std::errc::result_out_of_range) {
      errno = ERANGE;
      // A positive decimal magnitude can only have overflowed when its
      // point lies right of the first digit.
      value = point > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else {
      CHECK(r.ec == std::errc() && r.ptr == w.ptr);
      if (value < std::numeric_limits<double>::min())
        errno = ERANGE;  // Below the normal range counts as an underflow.
    }
  }
  return negative ? -value : value;
}

}  // namespace

char* DoubleToDigits(double value, int* decimal_point, int* sign, char** end) {
  const uint64_t bits = BitsOf(value);
  *sign = (bits & kSignBit) ? 1 : 0;
  char* result;
  size_t length;
  if ((bits & kExponentMask) == kExponentMask) {
    const char* word = (bits & kSignificandMask) ? "NaN" : "Infinity";
    length = strlen(word);
    result = new char[length + 1];
    memcpy(result, word, length + 1);
    *decimal_point = kNonFiniteDecimalPoint;
  } else {
    char digits[kMaxShortestDigits];
    length = static_cast<size_t>(
        ShortestDigits(std::fabs(value), digits, decimal_point));
    result = new char[length + 1];
    memcpy(result, digits, length);
    result[length] = '\0';
  }
  if (end)
    *end = result + length;
  return result;
}

void FreeDigits(char* digits) {
  delete[] digits;
}

char* FormatShortestDouble(char* buffer, double value) {
  const uint64_t bits = BitsOf(value);
  char* out = buffer;
  if (bits & kSignBit)
    *out++ = '-';
  if ((bits & kExponentMask) == kExponentMask) {
    const char* word = (bits & kSignificandMask) ? "NaN" : "Infinity";
    memcpy(out, word, strlen(word) + 1);
    return buffer;
  }

  char digits[kMaxShortestDigits];
  int point;
  const int count = ShortestDigits(std::fabs(value), digits, &point);

  if (point <= -4 || point > count + 5) {
    *out++ = digits[0];
    if (count > 1) {
      *out++ = '.';
      memcpy(out, digits + 1, static_cast<size_t>(count - 1));
      out += count - 1;
    }
    *out++ = 'e';
    int exponent = point - 1;
    if (exponent >= 0) {
      *out++ = '+';
    } else {
      *out++ = '-';
      exponent = -exponent;
    }
    if (exponent >= 100)
      *out++ = static_cast<char>('0' + exponent / 100);
    *out++ = static_cast<char>('0' + exponent / 10 % 10);
    *out++ = static_cast<char>('0' + exponent % 10);
  } else if (point <= 0) {
    *out++ = '.';
    for (int i = point; i < 0; ++i)
      *out++ = '0';
    memcpy(out, digits, static_cast<size_t>(count));
    out += count;
  } else {
    for (int i = 0; i < count; ++i) {
      if (i == point)
        *out++ = '.';
      *out++ = digits[i];
    }
    for (int i = count; i < point; ++i)
      *out++ = '0';
  }
  *out = '\0';
  return buffer;
}

double ParseDouble(const char* text, const char** end) {
  const char* s = text;
  while (*s == ' ' || (*s >= '\t' && *s <= '\r'))
    ++s;

  bool negative = false;
  if (*s == '+' || *s == '-') {
    negative = *s == '-';
    ++s;
  }

  // Mantissa. The significant digits run from the first non-zero digit to
  // the last non-zero one; where the point lies becomes a power of ten.
  const char* first_significant = nullptr;
  const char* last_significant = nullptr;
  bool seen_digit = false;
  bool seen_point = false;
  // |fraction_digits| counts the digits seen after the point;
  // |point_shift| is that count at the last non-zero digit, i.e. how many
  // places the last significant digit lies after the point.
  int64_t point_shift = 0;
  int64_t fraction_digits = 0;
  for (;; ++s) {
    if (IsDigit(*s)) {
      seen_digit = true;
      if (seen_point)
        ++fraction_digits;
      if (*s != '0') {
        if (!first_significant)
          first_significant = s;
        last_significant = s;
        point_shift = fraction_digits;
      }
    } else if (*s == '.' && !seen_point) {
      seen_point = true;
    } else {
      break;
    }
  }

  if (!seen_digit) {
    if (!seen_point) {
      if (StartsWithNoCase(s, "inf")) {
        s += StartsWithNoCase(s, "infinity") ? 8 : 3;
        if (end)
          *end = s;
        const double inf = std::numeric_limits<double>::infinity();
        return negative ? -inf : inf;
      }
      if (StartsWithNoCase(s, "nan")) {
        s += 3;
        uint64_t bits = kDefaultNaNBits;
        uint64_t payload = 0;
        if (ParseNaNPayload(s, &s, &payload) && payload != 0)
          bits = kExponentMask | payload;
        if (negative)
          bits |= kSignBit;
        if (end)
          *end = s;
        return DoubleFromBits(bits);
      }
    }
    if (end)
      *end = text;
    return 0.0;
  }

  // Exponent; an "e" without digits behind it is not part of the number.
  int64_t exponent = 0;
  if (*s == 'e' || *s == 'E') {
    const char* e = s + 1;
    bool negative_exponent = false;
    if (*e == '+' || *e == '-') {
      negative_exponent = *e == '-';
      ++e;
    }
    if (IsDigit(*e)) {
      int64_t value = 0;
      for (; IsDigit(*e); ++e) {
        if (value < kExponentLimit)
          value = value * 10 + (*e - '0');
      }
      if (value > kExponentLimit)
        value = kExponentLimit;
      exponent = negative_exponent ? -value : value;
      s = e;
    }
  }
  if (end)
    *end = s;

  if (!first_significant)
    return negative ? -0.0 : 0.0;  // Zero digits: zero, whatever the exponent.

  // Gather the significant digits without the point, at most
  // kMaxSignificantDigits of them; a non-zero digit among those cut off
  // becomes one more digit "1", which keeps the rounding of the full value.
  char digits[kMaxSignificantDigits + 1];
  size_t kept = 0;
  int64_t dropped = 0;
  bool dropped_non_zero = false;
  for (const char* p = first_significant; p <= last_significant; ++p) {
    if (*p == '.')
      continue;
    if (kept < kMaxSignificantDigits) {
      digits[kept++] = *p;
    } else {
      ++dropped;
      dropped_non_zero |= *p != '0';
    }
  }
  // The last significant digit has weight 10^-point_shift when it lies after
  // the point; before the point, the zeros that follow it up to the point
  // (or the end of the digits) scale it.
  int64_t scale = -point_shift;
  if (point_shift == 0) {
    const char* p = last_significant + 1;
    while (*p == '0')
      ++p, ++scale;
  }
  const int64_t point = exponent + scale + static_cast<int64_t>(kept) + dropped;
  int64_t digits_exponent = exponent + scale + dropped;
  if (dropped_non_zero) {
    digits[kept++] = '1';
    --digits_exponent;
  }
  return DigitsToDouble(digits, kept, digits_exponent, point, negative);
}

}  // namespace base
