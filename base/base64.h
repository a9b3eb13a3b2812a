#ifndef BASE_BASE64_H_
#define BASE_BASE64_H_

#include <string>

#include "base/strings/string_piece.h"

namespace base {

// Standard alphabet with '=' padding and no line breaks. |output| is
// replaced by the encoding.
void Base64Encode(StringPiece input, std::string* output);

// Accepts only padded text made of the standard alphabet; the unused low
// bits of the last character are ignored. On failure |output| is left as
// it was.
[[nodiscard]] bool Base64Decode(StringPiece input, std::string* output);

}  // namespace base

#endif  // BASE_BASE64_H_
