#include "base/strings/string_split.h"

#include <type_traits>

#include "base/strings/string_util.h"

namespace base {

namespace {

template <typename Str>
BasicStringPiece<Str> WhitespaceFor();

template <>
StringPiece WhitespaceFor<std::string>() {
  return StringPiece(kWhitespaceASCII);
}

template <>
StringPiece16 WhitespaceFor<string16>() {
  return StringPiece16(kWhitespaceWide);
}

// A view stays a view; a string is copied out of it.
template <typename Output, typename Str>
Output PieceToOutput(BasicStringPiece<Str> piece) {
  if constexpr (std::is_same<Output, BasicStringPiece<Str>>::value)
    return piece;
  else
    return piece.as_string();
}

template <typename Str, typename Output>
std::vector<Output> SplitStringT(BasicStringPiece<Str> input,
                                 BasicStringPiece<Str> separators,
                                 WhitespaceHandling whitespace,
                                 SplitResult result_type) {
  std::vector<Output> result;
  if (input.empty())
    return result;

  using Piece = BasicStringPiece<Str>;
  size_t start = 0;
  while (start != Piece::npos) {
    const size_t end = separators.size() == 1
                           ? input.find(separators[0], start)
                           : input.find_first_of(separators, start);
    Piece piece;
    if (end == Piece::npos) {
      piece = input.substr(start);
      start = Piece::npos;
    } else {
      piece = input.substr(start, end - start);
      start = end + 1;
    }

    if (whitespace == TRIM_WHITESPACE)
      piece = TrimString(piece, WhitespaceFor<Str>(), TRIM_ALL);

    if (result_type == SPLIT_WANT_ALL || !piece.empty())
      result.push_back(PieceToOutput<Output>(piece));
  }
  return result;
}

}  // namespace

std::vector<std::string> SplitString(StringPiece input,
                                     StringPiece separators,
                                     WhitespaceHandling whitespace,
                                     SplitResult result_type) {
  return SplitStringT<std::string, std::string>(input, separators, whitespace,
                                                result_type);
}

std::vector<string16> SplitString(StringPiece16 input,
                                  StringPiece16 separators,
                                  WhitespaceHandling whitespace,
                                  SplitResult result_type) {
  return SplitStringT<string16, string16>(input, separators, whitespace,
                                          result_type);
}

std::vector<StringPiece> SplitStringPiece(StringPiece input,
                                          StringPiece separators,
                                          WhitespaceHandling whitespace,
                                          SplitResult result_type) {
  return SplitStringT<std::string, StringPiece>(input, separators, whitespace,
                                                result_type);
}

bool SplitStringIntoKeyValuePairs(StringPiece input,
                                  char key_value_delimiter,
                                  char key_value_pair_delimiter,
                                  StringPairs* key_value_pairs) {
  key_value_pairs->clear();

  std::vector<StringPiece> pairs =
      SplitStringPiece(input, StringPiece(&key_value_pair_delimiter, 1),
                       TRIM_WHITESPACE, SPLIT_WANT_NONEMPTY);
  key_value_pairs->reserve(pairs.size());

  bool success = true;
  for (const StringPiece& pair : pairs) {
    key_value_pairs->emplace_back();
    std::pair<std::string, std::string>& entry = key_value_pairs->back();

    const size_t end_key = pair.find(key_value_delimiter);
    if (end_key == StringPiece::npos) {
      success = false;
      continue;
    }
    entry.first.assign(pair.data(), end_key);

    // The value starts after the whole run of delimiters: "a==b" is (a, b).
    StringPiece rest = pair.substr(end_key);
    const size_t begin_value = rest.find_first_not_of(key_value_delimiter);
    if (begin_value == StringPiece::npos) {
      success = false;
      continue;
    }
    StringPiece value = rest.substr(begin_value);
    entry.second.assign(value.data(), value.size());
  }
  return success;
}

}  // namespace base
