#ifndef BASE_STRINGS_UTF_STRING_CONVERSIONS_H_
#define BASE_STRINGS_UTF_STRING_CONVERSIONS_H_

// Conversions between UTF-8 (narrow) and UTF-16 (wide) text, and between
// wide text and ASCII. They never fail: each maximal ill-formed part of a
// UTF-8 sequence and each unpaired UTF-16 surrogate becomes one U+FFFD, so
// callers always get a usable string. Input of 2^31 units or more is outside
// their range.

#include <stddef.h>

#include <string>

#include "base/strings/string16.h"
#include "base/strings/string_piece.h"

namespace base {

// The output forms return whether the input was well formed; the output is
// complete (with replacements) either way.
bool UTF8ToWide(const char* src, size_t src_len, std::wstring* output);
std::wstring UTF8ToWide(StringPiece utf8);
bool UTF8ToUTF16(const char* src, size_t src_len, std::wstring* output);
std::wstring UTF8ToUTF16(StringPiece utf8);

bool WideToUTF8(const wchar_t* src, size_t src_len, std::string* output);
std::string WideToUTF8(const std::wstring& wide);
bool UTF16ToUTF8(const wchar_t* src, size_t src_len, std::string* output);
std::string UTF16ToUTF8(StringPiece16 utf16);

// ASCII in, one unit per byte out. A byte of 0x80 or more is widened as a
// signed value (0xFF80..0xFFFF); callers pass ASCII only.
std::wstring ASCIIToUTF16(StringPiece ascii);
std::wstring ASCIIToWide(StringPiece ascii);

// ASCII in, the low byte of each unit out; callers pass ASCII only.
std::string UTF16ToASCII(StringPiece16 utf16);
std::string WideToASCII(StringPiece16 wide);

}  // namespace base

#endif  // BASE_STRINGS_UTF_STRING_CONVERSIONS_H_
