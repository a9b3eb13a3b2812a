#ifndef BASE_STRINGS_STRING_NUMBER_CONVERSIONS_H_
#define BASE_STRINGS_STRING_NUMBER_CONVERSIONS_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "base/strings/string16.h"
#include "base/strings/string_piece.h"

// Locale-independent conversions between numbers and text.
//
// Numbers to text: decimal digits, a leading '-' for negative values, no
// leading zeros, "0" for zero.
//
// Text to numbers: every parser writes its best value through the pointer
// even when it returns false, so a caller that ignores the result still gets
// a deterministic number. Integer parsing is strict: leading or trailing
// white space, a trailing character or a value out of range make the result
// false (out of range writes the type's maximum or minimum; other failures
// write the value accumulated before the offending character).

namespace base {

std::string IntToString(int value);
string16 IntToString16(int value);
std::string UintToString(unsigned int value);
string16 UintToString16(unsigned int value);
std::string Int64ToString(int64_t value);
string16 Int64ToString16(int64_t value);
std::string Uint64ToString(uint64_t value);
string16 Uint64ToString16(uint64_t value);

// The shortest text that reads back as the same double (".5", "1e+06",
// "-0", "NaN", "Infinity").
std::string DoubleToString(double value);

bool StringToInt(StringPiece input, int* output);
bool StringToInt(StringPiece16 input, int* output);
bool StringToUint(StringPiece input, unsigned int* output);
bool StringToUint(StringPiece16 input, unsigned int* output);
bool StringToInt64(StringPiece input, int64_t* output);
bool StringToInt64(StringPiece16 input, int64_t* output);
bool StringToUint64(StringPiece input, uint64_t* output);
bool StringToSizeT(StringPiece input, size_t* output);

// Base 16, with an optional "0x"/"0X" after the sign (only when at least one
// digit follows it).
bool HexStringToInt(StringPiece input, int* output);

// True only when the whole of |input| is a number in range: no leading or
// trailing white space, no embedded NUL, no overflow or underflow. The
// parsed value is written in every case. errno is left as it was on success;
// a range error stays visible in it.
bool StringToDouble(const std::string& input, double* output);

// 2 x |size| upper-case hexadecimal characters, high nibble first.
std::string HexEncode(const void* bytes, size_t size);

// Appends one byte per pair of hexadecimal characters. Empty or odd-length
// input appends nothing; a bad character stops with the earlier pairs'
// bytes appended. True when every pair was good.
bool HexStringToBytes(StringPiece input, std::vector<uint8_t>* output);

}  // namespace base

#endif  // BASE_STRINGS_STRING_NUMBER_CONVERSIONS_H_
