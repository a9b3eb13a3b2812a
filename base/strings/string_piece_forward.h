#ifndef BASE_STRINGS_STRING_PIECE_FORWARD_H_
#define BASE_STRINGS_STRING_PIECE_FORWARD_H_

#include <string>

namespace base {

template <typename STRING_TYPE>
class BasicStringPiece;

// Narrow (UTF-8 or ASCII) and wide (UTF-16) read-only views.
using StringPiece = BasicStringPiece<std::string>;
using StringPiece16 = BasicStringPiece<std::wstring>;

}  // namespace base

#endif  // BASE_STRINGS_STRING_PIECE_FORWARD_H_
