#ifndef BASE_STRINGS_STRING_SPLIT_H_
#define BASE_STRINGS_STRING_SPLIT_H_

#include <string>
#include <utility>
#include <vector>

#include "base/strings/string16.h"
#include "base/strings/string_piece.h"

namespace base {

enum WhitespaceHandling {
  KEEP_WHITESPACE = 0,
  // Each piece is trimmed at both ends: ASCII white space for narrow text,
  // Unicode white space for wide text.
  TRIM_WHITESPACE = 1,
};

enum SplitResult {
  // Every piece, empty ones included: n separators give n + 1 pieces.
  SPLIT_WANT_ALL = 0,
  // Pieces that are empty (after any trimming) are dropped.
  SPLIT_WANT_NONEMPTY = 1,
};

// Cuts |input| at every character that is in |separators| (a set of single
// characters, not a multi-character delimiter). Empty input gives no pieces.
std::vector<std::string> SplitString(StringPiece input,
                                     StringPiece separators,
                                     WhitespaceHandling whitespace,
                                     SplitResult result_type);
std::vector<string16> SplitString(StringPiece16 input,
                                  StringPiece16 separators,
                                  WhitespaceHandling whitespace,
                                  SplitResult result_type);

// As SplitString, but the pieces are views into |input|, valid as long as the
// text that |input| views.
std::vector<StringPiece> SplitStringPiece(StringPiece input,
                                          StringPiece separators,
                                          WhitespaceHandling whitespace,
                                          SplitResult result_type);

using StringPairs = std::vector<std::pair<std::string, std::string>>;

// Splits |input| into pairs at |key_value_pair_delimiter| (each pair trimmed
// of white space, empty pairs skipped), and each pair into key and value at
// the first run of |key_value_delimiter|. Keys and values are not trimmed
// further: "a = b" gives "a " and " b". A pair without delimiter or without
// value still yields an entry (empty or with an empty value) and makes the
// result false; every pair is processed regardless.
bool SplitStringIntoKeyValuePairs(StringPiece input,
                                  char key_value_delimiter,
                                  char key_value_pair_delimiter,
                                  StringPairs* key_value_pairs);

}  // namespace base

#endif  // BASE_STRINGS_STRING_SPLIT_H_
