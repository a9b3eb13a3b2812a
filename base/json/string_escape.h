#ifndef BASE_JSON_STRING_ESCAPE_H_
#define BASE_JSON_STRING_ESCAPE_H_

#include <stdint.h>

#include <string>

#include "base/strings/string_piece.h"

namespace base {

// Appends |str| to |dest| escaped as a JSON string, in double quotes when
// |put_in_quotes| is set. '<' is escaped so that the text can sit inside an
// HTML script block, and U+2028/U+2029 so that it stays valid script.
// Returns false when |str| held invalid UTF-8 or code points that JSON text
// must not carry; each such sequence was written as U+FFFD.
bool EscapeJSONString(StringPiece str, bool put_in_quotes, std::string* dest);

// |str| escaped and in quotes; invalid input is replaced, as above.
std::string GetQuotedJSONString(StringPiece str);

namespace internal {

// Code points that the JSON reader and writer accept: not a surrogate, not
// U+FDD0..U+FDEF, not a code point ending in FFFE or FFFF, and at most
// U+10FFFF.
inline bool IsValidJSONCharacter(int32_t code_point) {
  return code_point >= 0 && (code_point < 0xD800 ||
                             (code_point >= 0xE000 && code_point < 0xFDD0) ||
                             (code_point > 0xFDEF && code_point <= 0x10FFFF &&
                              (code_point & 0xFFFE) != 0xFFFE));
}

}  // namespace internal

}  // namespace base

#endif  // BASE_JSON_STRING_ESCAPE_H_
