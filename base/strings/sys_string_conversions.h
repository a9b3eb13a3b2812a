#ifndef BASE_STRINGS_SYS_STRING_CONVERSIONS_H_
#define BASE_STRINGS_SYS_STRING_CONVERSIONS_H_

// Conversions through the system's own code-page support. Unlike the
// conversions of utf_string_conversions.h, ill-formed input is handled the
// way the system handles it, and a conversion the system refuses gives an
// empty result.

#include <stdint.h>

#include <string>

#include "base/strings/string_piece.h"

namespace base {

// UTF-8 (code page 65001) through the system.
std::string SysWideToUTF8(const std::wstring& wide);
std::wstring SysUTF8ToWide(StringPiece utf8);

// Any code page the system knows.
std::string SysWideToMultiByte(const std::wstring& wide, uint32_t code_page);
std::wstring SysMultiByteToWide(StringPiece mb, uint32_t code_page);

}  // namespace base

#endif  // BASE_STRINGS_SYS_STRING_CONVERSIONS_H_
