#ifndef BASE_STRINGS_DECIMAL_CONVERSION_H_
#define BASE_STRINGS_DECIMAL_CONVERSION_H_

// Exact conversions between doubles and decimal text. Every double is
// written with the fewest digits that read back as the same double, and
// decimal text is read as the double nearest to its exact value (ties to
// even), however many digits it has. Neither direction depends on the C
// runtime's locale.

namespace base {

// Position reported by DoubleToDigits for Infinity and NaN.
constexpr int kNonFiniteDecimalPoint = 9999;

// Shortest round-trip digits of |value|: the value is 0.d1d2...dn times
// 10^*decimal_point. The digits carry no leading or trailing zeros, except
// that zero gives "0" (point 1). Infinity gives "Infinity" and NaN "NaN",
// each with the point at 9999. *sign is 1 when the sign bit is set (negative
// zero and negative NaN included), else 0. When |end| is given it receives
// the position of the terminating NUL. The result must be released with
// FreeDigits.
char* DoubleToDigits(double value, int* decimal_point, int* sign, char** end);
void FreeDigits(char* digits);

// Writes the shortest text of |value| and a NUL into |buffer|, which must
// hold at least 25 bytes, and returns |buffer|. The layout: an optional "-";
// "Infinity" or "NaN"; or, for a decimal point position p and n digits,
// exponent form "d[.ddd]e+XX" when p <= -4 or p > n + 5, ".000ddd" (no "0"
// before the point) when p <= 0, else the digits with a point inside or
// zeros appended.
char* FormatShortestDouble(char* buffer, double value);

// Reads a number at the start of the NUL-terminated |text|: optional leading
// space/tab/LF/VT/FF/CR, an optional sign, decimal digits with at most one
// ".", an optional exponent; or "inf"/"infinity"/"nan"/"nan(hex)" in any
// case. Hexadecimal numbers are not recognised. When |end| is given it
// receives the position after the last character used, or |text| itself when
// no number was found (the result is then +0). Overflow (infinity returned)
// and results that underflow to zero or land below the smallest normal
// double set errno to ERANGE; success leaves errno untouched.
double ParseDouble(const char* text, const char** end);

}  // namespace base

#endif  // BASE_STRINGS_DECIMAL_CONVERSION_H_
