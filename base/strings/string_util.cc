#include "base/strings/string_util.h"

#include <stdint.h>
#include <string.h>

#include <algorithm>

#include "base/strings/utf8_reader.h"

namespace base {

const wchar_t kWhitespaceWide[] = {
    0x0009, 0x000A, 0x000B, 0x000C, 0x000D,  // Tab to carriage return.
    0x0020,                                  // Space.
    0x0085,                                  // Next line.
    0x00A0,                                  // No-break space.
    0x1680,                                  // Ogham space mark.
    0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005,
    0x2006, 0x2007, 0x2008, 0x2009, 0x200A,  // En quad to hair space.
    0x2028,                                  // Line separator.
    0x2029,                                  // Paragraph separator.
    0x202F,                                  // Narrow no-break space.
    0x205F,                                  // Medium mathematical space.
    0x3000,                                  // Ideographic space.
    0};

const char kWhitespaceASCII[] = {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0};

const wchar_t kWhitespaceASCIIAs16[] = {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0};

static_assert(sizeof(kWhitespaceWide) / sizeof(kWhitespaceWide[0]) == 26,
              "25 white-space units and a terminator");

namespace {

constexpr size_t npos = StringPiece::npos;

template <typename StringType>
StringType ToLowerASCIIImpl(BasicStringPiece<StringType> str) {
  StringType ret;
  ret.reserve(str.size());
  for (auto c : str)
    ret.push_back(ToLowerASCII(c));
  return ret;
}

template <typename StringType>
StringType ToUpperASCIIImpl(BasicStringPiece<StringType> str) {
  StringType ret;
  ret.reserve(str.size());
  for (auto c : str)
    ret.push_back(ToUpperASCII(c));
  return ret;
}

template <typename StringType>
bool EqualsCaseInsensitiveASCIIImpl(BasicStringPiece<StringType> a,
                                    BasicStringPiece<StringType> b) {
  if (a.length() != b.length())
    return false;
  for (size_t i = 0; i < a.length(); ++i) {
    if (ToLowerASCII(a[i]) != ToLowerASCII(b[i]))
      return false;
  }
  return true;
}

template <typename StringType>
bool LowerCaseEqualsASCIIImpl(BasicStringPiece<StringType> str,
                              StringPiece lowercase_ascii) {
  if (str.length() != lowercase_ascii.length())
    return false;
  for (size_t i = 0; i < str.length(); ++i) {
    const unsigned char expected =
        static_cast<unsigned char>(lowercase_ascii[i]);
    // Past this check |expected| is ASCII, which a unit of either width
    // (a negative char included) equals only when it is that same value.
    if (expected >= 0x80 || ToLowerASCII(str[i]) != expected)
      return false;
  }
  return true;
}

template <typename StringType>
bool CompareUnderCase(BasicStringPiece<StringType> a,
                      BasicStringPiece<StringType> b,
                      CompareCase case_sensitivity) {
  switch (case_sensitivity) {
    case CompareCase::SENSITIVE:
      return a == b;
    case CompareCase::INSENSITIVE_ASCII:
      return EqualsCaseInsensitiveASCIIImpl(a, b);
  }
  return false;
}

template <typename StringType>
bool StartsWithImpl(BasicStringPiece<StringType> str,
                    BasicStringPiece<StringType> search_for,
                    CompareCase case_sensitivity) {
  if (search_for.size() > str.size())
    return false;
  return CompareUnderCase(str.substr(0, search_for.size()), search_for,
                          case_sensitivity);
}

template <typename StringType>
bool EndsWithImpl(BasicStringPiece<StringType> str,
                  BasicStringPiece<StringType> search_for,
                  CompareCase case_sensitivity) {
  if (search_for.size() > str.size())
    return false;
  return CompareUnderCase(str.substr(str.size() - search_for.size()),
                          search_for, case_sensitivity);
}

// ORs every unit into a 64-bit accumulator and tests it once: single units
// until the pointer is 8-byte aligned, then whole words, then the rest.
// |mask| has the bits that no ASCII unit sets, in every unit of a word.
template <typename Char>
bool DoIsStringASCII(const Char* characters, size_t length, uint64_t mask) {
  if (length == 0)
    return true;
  using Unsigned = typename std::make_unsigned<Char>::type;
  uint64_t all_units = 0;
  const Char* p = characters;
  const Char* const end = p + length;
  while (p != end && (reinterpret_cast<uintptr_t>(p) & 7) != 0)
    all_units |= static_cast<Unsigned>(*p++);
  while (static_cast<size_t>(end - p) * sizeof(Char) >= sizeof(uint64_t)) {
    uint64_t word;
    memcpy(&word, p, sizeof(word));
    all_units |= word;
    p += sizeof(uint64_t) / sizeof(Char);
  }
  while (p != end)
    all_units |= static_cast<Unsigned>(*p++);
  return (all_units & mask) == 0;
}

template <typename StringType>
TrimPositions TrimStringT(const StringType& input,
                          BasicStringPiece<StringType> trim_chars,
                          TrimPositions positions,
                          StringType* output) {
  const BasicStringPiece<StringType> view(input);
  const size_t last_unit = input.length() - 1;
  const size_t first_good =
      (positions & TRIM_LEADING) ? view.find_first_not_of(trim_chars) : 0;
  const size_t last_good = (positions & TRIM_TRAILING)
                               ? view.find_last_not_of(trim_chars)
                               : last_unit;
  if (input.empty() || first_good == npos || last_good == npos) {
    // |input| may be |output|: look before clearing.
    const bool input_was_empty = input.empty();
    output->clear();
    return input_was_empty ? TRIM_NONE : positions;
  }
  *output = input.substr(first_good, last_good - first_good + 1);
  return static_cast<TrimPositions>(
      (first_good == 0 ? TRIM_NONE : TRIM_LEADING) |
      (last_good == last_unit ? TRIM_NONE : TRIM_TRAILING));
}

template <typename StringType>
BasicStringPiece<StringType> TrimStringPieceT(
    BasicStringPiece<StringType> input,
    BasicStringPiece<StringType> trim_chars,
    TrimPositions positions) {
  const size_t begin =
      (positions & TRIM_LEADING) ? input.find_first_not_of(trim_chars) : 0;
  // npos + 1 wraps to 0, so text of trim characters only gives an empty view.
  const size_t end = (positions & TRIM_TRAILING)
                         ? input.find_last_not_of(trim_chars) + 1
                         : input.size();
  return input.substr(begin, end - begin);
}

// Matchers for the replacing algorithm: each finds the next match at or after
// a position and knows the length of a match.
template <typename StringType>
class SubstringMatcher {
 public:
  explicit SubstringMatcher(BasicStringPiece<StringType> find_this)
      : find_this_(find_this) {}
  size_t MatchSize() const { return find_this_.size(); }
  size_t Find(const StringType& input, size_t pos) const {
    return input.find(find_this_.data(), pos, find_this_.size());
  }

 private:
  BasicStringPiece<StringType> find_this_;
};

template <typename StringType>
class CharacterMatcher {
 public:
  explicit CharacterMatcher(BasicStringPiece<StringType> chars)
      : chars_(chars) {}
  size_t MatchSize() const { return chars_.empty() ? 0 : 1; }
  size_t Find(const StringType& input, size_t pos) const {
    return input.find_first_of(chars_.data(), pos, chars_.size());
  }

 private:
  BasicStringPiece<StringType> chars_;
};

enum class ReplaceType { kReplaceAll, kReplaceFirst };

// Replaces matches at or after |initial_offset|. Every search resumes after
// the previous match in the text as it was before the call, so inserted text
// is never searched, and the tail is moved at most twice in total: the work
// is linear in the string's length.
template <typename StringType, typename Matcher>
bool DoReplaceMatchesAfterOffset(StringType* str,
                                 size_t initial_offset,
                                 const Matcher& matcher,
                                 BasicStringPiece<StringType> replace_with,
                                 ReplaceType replace_type) {
  using Traits = typename StringType::traits_type;
  using Char = typename StringType::value_type;

  const size_t find_length = matcher.MatchSize();
  if (find_length == 0)
    return false;

  const size_t first_match = matcher.Find(*str, initial_offset);
  if (first_match == npos)
    return false;

  const size_t replace_length = replace_with.length();
  if (replace_type == ReplaceType::kReplaceFirst) {
    if (replace_length)
      str->replace(first_match, find_length, replace_with.data(),
                   replace_length);
    else
      str->erase(first_match, find_length);
    return true;
  }

  if (find_length == replace_length) {
    // Same lengths: overwrite each match where it is.
    Char* buffer = &(*str)[0];
    for (size_t offset = first_match; offset != npos;
         offset = matcher.Find(*str, offset + replace_length)) {
      Traits::copy(buffer + offset, replace_with.data(), replace_length);
    }
    return true;
  }

  size_t str_length = str->length();
  size_t growth = 0;
  if (replace_length > find_length) {
    // Count the matches to learn the final length.
    const size_t growth_per_match = replace_length - find_length;
    size_t num_matches = 0;
    for (size_t match = first_match; match != npos;
         match = matcher.Find(*str, match + find_length)) {
      growth += growth_per_match;
      ++num_matches;
    }
    const size_t final_length = str_length + growth;

    if (str->capacity() < final_length) {
      // The buffer must grow anyway: build the result into a fresh one,
      // alternating the text before each match and the replacement.
      StringType src;
      str->swap(src);
      str->reserve(final_length);
      size_t pos = 0;
      for (size_t match = first_match;; match = matcher.Find(src, pos)) {
        str->append(src, pos, match - pos);
        str->append(replace_with.data(), replace_length);
        pos = match + find_length;
        if (--num_matches == 0)
          break;
      }
      str->append(src, pos, str_length - pos);
      return true;
    }

    // The result fits the existing buffer: move the text after the first
    // match right by the total growth, then compact leftwards below, reading
    // from the moved text.
    const size_t tail_start = first_match + find_length;
    str->resize(final_length);
    Char* buffer = &(*str)[0];
    Traits::move(buffer + tail_start + growth, buffer + tail_start,
                 str_length - tail_start);
    str_length = final_length;
  }

  // Compaction: write trails read, each match's replacement is written and
  // the text up to the next match is moved down behind it.
  Char* buffer = &(*str)[0];
  size_t write_offset = first_match;
  size_t read_offset = first_match + growth;
  do {
    if (replace_length) {
      Traits::copy(buffer + write_offset, replace_with.data(), replace_length);
      write_offset += replace_length;
    }
    read_offset += find_length;
    const size_t match = std::min(matcher.Find(*str, read_offset), str_length);
    const size_t between = match - read_offset;
    if (between) {
      Traits::move(buffer + write_offset, buffer + read_offset, between);
      write_offset += between;
      read_offset += between;
    }
  } while (read_offset < str_length);
  str->resize(write_offset);
  return true;
}

struct ReplacementOffset {
  uintptr_t parameter;
  int32_t offset;
};

template <typename StringType>
StringType DoReplaceStringPlaceholders(
    BasicStringPiece<StringType> format_string,
    const std::vector<StringType>& subst,
    std::vector<size_t>* offsets) {
  size_t subst_length = 0;
  for (const auto& s : subst)
    subst_length += s.length();

  StringType formatted;
  formatted.reserve(format_string.length() + subst_length);

  std::vector<ReplacementOffset> r_offsets;
  const size_t length = format_string.length();
  for (size_t i = 0; i < length; ++i) {
    const auto c = format_string[i];
    if (c != '$') {
      formatted.push_back(c);
      continue;
    }
    if (i + 1 == length)
      break;  // A trailing '$' is dropped.
    const auto next = format_string[i + 1];
    if (next == '$') {
      // The run of dollars from the second one is copied.
      size_t j = i + 1;
      while (j < length && format_string[j] == '$') {
        formatted.push_back('$');
        ++j;
      }
      i = j - 1;
      continue;
    }
    ++i;
    if (next < '1' || next > '9')
      continue;  // "$0" and "$x" vanish.
    const uintptr_t index = static_cast<uintptr_t>(next - '1');
    if (offsets) {
      const ReplacementOffset r_offset = {
          index, static_cast<int32_t>(formatted.size())};
      r_offsets.insert(
          std::upper_bound(
              r_offsets.begin(), r_offsets.end(), r_offset,
              [](const ReplacementOffset& a, const ReplacementOffset& b) {
                return a.parameter < b.parameter;
              }),
          r_offset);
    }
    if (index < subst.size())
      formatted.append(subst[index]);
  }
  if (offsets) {
    for (const auto& r_offset : r_offsets)
      offsets->push_back(static_cast<size_t>(r_offset.offset));
  }
  return formatted;
}

template <typename StringType, typename Part>
StringType JoinStringT(const Part* parts,
                       size_t count,
                       BasicStringPiece<StringType> separator) {
  StringType result;
  if (count == 0)
    return result;
  size_t total = (count - 1) * separator.size();
  for (size_t i = 0; i < count; ++i)
    total += parts[i].size();
  result.reserve(total);
  BasicStringPiece<StringType>(parts[0]).AppendToString(&result);
  for (size_t i = 1; i < count; ++i) {
    separator.AppendToString(&result);
    BasicStringPiece<StringType>(parts[i]).AppendToString(&result);
  }
  return result;
}

template <typename Char>
size_t lcpyT(Char* dst, const Char* src, size_t dst_size) {
  for (size_t i = 0; i < dst_size; ++i) {
    if ((dst[i] = src[i]) == 0)
      return i;
  }
  // No terminator fitted: cut the copy short and count the rest of |src|.
  if (dst_size != 0)
    dst[dst_size - 1] = 0;
  size_t length = dst_size;
  while (src[length])
    ++length;
  return length;
}

}  // namespace

bool IsUnicodeWhitespace(wchar_t c) {
  for (const wchar_t* p = kWhitespaceWide; *p; ++p) {
    if (*p == c)
      return true;
  }
  return false;
}

std::string ToLowerASCII(StringPiece str) {
  return ToLowerASCIIImpl(str);
}
std::wstring ToLowerASCII(StringPiece16 str) {
  return ToLowerASCIIImpl(str);
}
std::string ToUpperASCII(StringPiece str) {
  return ToUpperASCIIImpl(str);
}
std::wstring ToUpperASCII(StringPiece16 str) {
  return ToUpperASCIIImpl(str);
}

bool EqualsCaseInsensitiveASCII(StringPiece a, StringPiece b) {
  return EqualsCaseInsensitiveASCIIImpl(a, b);
}
bool EqualsCaseInsensitiveASCII(StringPiece16 a, StringPiece16 b) {
  return EqualsCaseInsensitiveASCIIImpl(a, b);
}

bool LowerCaseEqualsASCII(StringPiece16 str, StringPiece lowercase_ascii) {
  return LowerCaseEqualsASCIIImpl(str, lowercase_ascii);
}
bool LowerCaseEqualsASCII(StringPiece str, StringPiece lowercase_ascii) {
  return LowerCaseEqualsASCIIImpl(str, lowercase_ascii);
}

bool StartsWith(StringPiece str,
                StringPiece search_for,
                CompareCase case_sensitivity) {
  return StartsWithImpl(str, search_for, case_sensitivity);
}
bool StartsWith(StringPiece16 str,
                StringPiece16 search_for,
                CompareCase case_sensitivity) {
  return StartsWithImpl(str, search_for, case_sensitivity);
}
bool EndsWith(StringPiece16 str,
              StringPiece16 search_for,
              CompareCase case_sensitivity) {
  return EndsWithImpl(str, search_for, case_sensitivity);
}

bool IsStringASCII(StringPiece str) {
  return DoIsStringASCII(str.data(), str.length(), 0x8080808080808080ull);
}
bool IsStringASCII(StringPiece16 str) {
  return DoIsStringASCII(str.data(), str.length(), 0xFF80FF80FF80FF80ull);
}

TrimPositions TrimWhitespace(const std::wstring& input,
                             TrimPositions positions,
                             std::wstring* output) {
  return TrimStringT(input, StringPiece16(kWhitespaceWide), positions, output);
}
StringPiece16 TrimWhitespace(StringPiece16 input, TrimPositions positions) {
  return TrimStringPieceT(input, StringPiece16(kWhitespaceWide), positions);
}
TrimPositions TrimWhitespaceASCII(const std::string& input,
                                  TrimPositions positions,
                                  std::string* output) {
  return TrimStringT(input, StringPiece(kWhitespaceASCII), positions, output);
}
StringPiece TrimWhitespaceASCII(StringPiece input, TrimPositions positions) {
  return TrimStringPieceT(input, StringPiece(kWhitespaceASCII), positions);
}

StringPiece TrimString(StringPiece input,
                       StringPiece trim_chars,
                       TrimPositions positions) {
  return TrimStringPieceT(input, trim_chars, positions);
}
StringPiece16 TrimString(StringPiece16 input,
                         StringPiece16 trim_chars,
                         TrimPositions positions) {
  return TrimStringPieceT(input, trim_chars, positions);
}

std::string CollapseWhitespaceASCII(const std::string& text,
                                    bool trim_sequences_with_line_breaks) {
  std::string result;
  result.resize(text.size());
  size_t written = 0;
  // Starting "in white space" and "already trimmed" drops leading white
  // space.
  bool in_whitespace = true;
  bool already_trimmed = true;
  for (char c : text) {
    if (!IsAsciiWhitespace(c)) {
      in_whitespace = false;
      already_trimmed = false;
      result[written++] = c;
      continue;
    }
    if (!in_whitespace) {
      in_whitespace = true;
      result[written++] = ' ';
    }
    if (trim_sequences_with_line_breaks && !already_trimmed &&
        (c == '\n' || c == '\r')) {
      // A run with a line break vanishes: take back its space.
      --written;
      already_trimmed = true;
    }
  }
  if (in_whitespace && !already_trimmed)
    --written;  // The trailing space.
  result.resize(written);
  return result;
}

bool ReplaceChars(const std::string& input,
                  StringPiece replace_chars,
                  const std::string& replace_with,
                  std::string* output) {
  if (output != &input)
    *output = input;
  return DoReplaceMatchesAfterOffset(
      output, 0, CharacterMatcher<std::string>(replace_chars),
      StringPiece(replace_with), ReplaceType::kReplaceAll);
}

void ReplaceSubstringsAfterOffset(std::string* str,
                                  size_t start_offset,
                                  StringPiece find_this,
                                  StringPiece replace_with) {
  DoReplaceMatchesAfterOffset(str, start_offset,
                              SubstringMatcher<std::string>(find_this),
                              replace_with, ReplaceType::kReplaceAll);
}
void ReplaceSubstringsAfterOffset(std::wstring* str,
                                  size_t start_offset,
                                  StringPiece16 find_this,
                                  StringPiece16 replace_with) {
  DoReplaceMatchesAfterOffset(str, start_offset,
                              SubstringMatcher<std::wstring>(find_this),
                              replace_with, ReplaceType::kReplaceAll);
}
void ReplaceFirstSubstringAfterOffset(std::string* str,
                                      size_t start_offset,
                                      StringPiece find_this,
                                      StringPiece replace_with) {
  DoReplaceMatchesAfterOffset(str, start_offset,
                              SubstringMatcher<std::string>(find_this),
                              replace_with, ReplaceType::kReplaceFirst);
}
void ReplaceFirstSubstringAfterOffset(std::wstring* str,
                                      size_t start_offset,
                                      StringPiece16 find_this,
                                      StringPiece16 replace_with) {
  DoReplaceMatchesAfterOffset(str, start_offset,
                              SubstringMatcher<std::wstring>(find_this),
                              replace_with, ReplaceType::kReplaceFirst);
}

std::wstring ReplaceStringPlaceholders(const std::wstring& format_string,
                                       const std::vector<std::wstring>& subst,
                                       std::vector<size_t>* offsets) {
  return DoReplaceStringPlaceholders(StringPiece16(format_string), subst,
                                     offsets);
}
std::string ReplaceStringPlaceholders(StringPiece format_string,
                                      const std::vector<std::string>& subst,
                                      std::vector<size_t>* offsets) {
  return DoReplaceStringPlaceholders(format_string, subst, offsets);
}

std::string JoinString(const std::vector<std::string>& parts,
                       StringPiece separator) {
  return JoinStringT<std::string>(parts.data(), parts.size(), separator);
}
std::wstring JoinString(const std::vector<std::wstring>& parts,
                        StringPiece16 separator) {
  return JoinStringT<std::wstring>(parts.data(), parts.size(), separator);
}
std::string JoinString(const std::vector<StringPiece>& parts,
                       StringPiece separator) {
  return JoinStringT<std::string>(parts.data(), parts.size(), separator);
}
std::string JoinString(std::initializer_list<StringPiece> parts,
                       StringPiece separator) {
  return JoinStringT<std::string>(parts.begin(), parts.size(), separator);
}

size_t strlcpy(char* dst, const char* src, size_t dst_size) {
  return lcpyT(dst, src, dst_size);
}
size_t wcslcpy(wchar_t* dst, const wchar_t* src, size_t dst_size) {
  return lcpyT(dst, src, dst_size);
}

namespace {

// Outcome of trying one literal segment of a pattern at one eval position.
enum class SegmentResult {
  kMatched,    // Reached a wildcard, or the pattern's end with eval's end.
  kMismatch,   // May be tried again one character further on.
  kEvalEnded,  // Eval ran out first: no later start can do better.
};

bool IsWildcard(uint8_t c) {
  return c == '*' || c == '?';
}

// Compares the literal segment at *p with eval at *e, character by
// character. On kMatched, *p and *e are left past what was matched.
SegmentResult MatchSegment(const uint8_t* pattern,
                           int32_t pattern_len,
                           int32_t* p,
                           const uint8_t* eval,
                           int32_t eval_len,
                           int32_t* e) {
  int32_t pi = *p;
  int32_t ei = *e;
  for (;;) {
    if (pi < pattern_len && pattern[pi] == '\\')
      ++pi;  // The next pattern character is literal, whatever it is.
    else if (pi < pattern_len && IsWildcard(pattern[pi]))
      break;
    if (pi == pattern_len) {
      if (ei != eval_len)
        return SegmentResult::kMismatch;
      break;
    }
    const int32_t pattern_char = ReadUTF8CodePoint(pattern, &pi, pattern_len);
    if (ei == eval_len)
      return SegmentResult::kEvalEnded;
    const int32_t eval_char = ReadUTF8CodePoint(eval, &ei, eval_len);
    if (pattern_char == kUTF8Sentinel || pattern_char != eval_char)
      return SegmentResult::kMismatch;
  }
  *p = pi;
  *e = ei;
  return SegmentResult::kMatched;
}

}  // namespace

bool MatchPattern(StringPiece eval, StringPiece pattern) {
  const uint8_t* const eval_data =
      reinterpret_cast<const uint8_t*>(eval.data());
  const uint8_t* const pattern_data =
      reinterpret_cast<const uint8_t*>(pattern.data());
  const int32_t eval_len = static_cast<int32_t>(eval.length());
  const int32_t pattern_len = static_cast<int32_t>(pattern.length());
  int32_t p = 0;
  int32_t e = 0;
  // At least one round, so that an empty pattern still demands empty eval.
  do {
    // Swallow the run of wildcards; it may skip any number of characters
    // when it holds a '*', else up to its count of '?'.
    bool unlimited = false;
    int32_t limit = 0;
    while (p < pattern_len && IsWildcard(pattern_data[p])) {
      if (pattern_data[p] == '*')
        unlimited = true;
      else
        ++limit;
      ++p;
    }
    // Take the following literal segment at the first place it fits.
    for (;;) {
      const SegmentResult result =
          MatchSegment(pattern_data, pattern_len, &p, eval_data, eval_len, &e);
      if (result == SegmentResult::kMatched)
        break;
      if (result == SegmentResult::kEvalEnded)
        return false;
      if (!unlimited) {
        if (limit == 0)
          return false;
        --limit;
      }
      if (e == eval_len)
        return false;
      ReadUTF8CodePoint(eval_data, &e, eval_len);
    }
  } while (p < pattern_len);
  return true;
}

}  // namespace base
