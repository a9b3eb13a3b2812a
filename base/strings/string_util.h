#ifndef BASE_STRINGS_STRING_UTIL_H_
#define BASE_STRINGS_STRING_UTIL_H_

// Stateless functions on narrow (ASCII or UTF-8) and wide (UTF-16) text.
// None of them depends on the C runtime's locale, and case mapping is ASCII
// only: no Unicode case rules anywhere.

#include <stddef.h>
#include <stdint.h>

#include <initializer_list>
#include <string>
#include <type_traits>
#include <vector>

#include "base/strings/string16.h"
#include "base/strings/string_piece.h"

namespace base {

// The Unicode white-space set (25 units) and the ASCII white-space set (six
// bytes), each NUL-terminated so that it converts to a view of its members.
// Every wide trim and split uses the first, every narrow one the second.
extern const wchar_t kWhitespaceWide[];
extern const char kWhitespaceASCII[];
// The same ASCII set as wide units, for wide text that should be trimmed of
// ASCII white space only.
extern const wchar_t kWhitespaceASCIIAs16[];

// Bits telling which ends to trim, and which ends were trimmed.
enum TrimPositions {
  TRIM_NONE = 0,
  TRIM_LEADING = 1 << 0,
  TRIM_TRAILING = 1 << 1,
  TRIM_ALL = TRIM_LEADING | TRIM_TRAILING,
};

enum class CompareCase {
  SENSITIVE,          // Unit-exact.
  INSENSITIVE_ASCII,  // Equal after ASCII lowering of both sides.
};

// Single-unit helpers. Only 'A'..'Z' and 'a'..'z' are mapped; in wide text
// the whole 16-bit value must lie in those ranges. They take character types
// only, so that a string argument picks the string overloads below.
#define BASE_STRINGS_CHAR_ONLY(Char) \
  typename std::enable_if<std::is_integral<Char>::value, int>::type = 0
template <typename Char, BASE_STRINGS_CHAR_ONLY(Char)>
inline Char ToLowerASCII(Char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<Char>(c + ('a' - 'A')) : c;
}
template <typename Char, BASE_STRINGS_CHAR_ONLY(Char)>
inline Char ToUpperASCII(Char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<Char>(c - ('a' - 'A')) : c;
}
template <typename Char, BASE_STRINGS_CHAR_ONLY(Char)>
inline bool IsAsciiWhitespace(Char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' ||
         c == '\r';
}
template <typename Char, BASE_STRINGS_CHAR_ONLY(Char)>
inline bool IsAsciiAlpha(Char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
template <typename Char, BASE_STRINGS_CHAR_ONLY(Char)>
inline bool IsAsciiDigit(Char c) {
  return c >= '0' && c <= '9';
}
#undef BASE_STRINGS_CHAR_ONLY

// True for the members of kWhitespaceWide.
bool IsUnicodeWhitespace(wchar_t c);

// Case mapping and comparison.
std::string ToLowerASCII(StringPiece str);
std::wstring ToLowerASCII(StringPiece16 str);
std::string ToUpperASCII(StringPiece str);
std::wstring ToUpperASCII(StringPiece16 str);

bool EqualsCaseInsensitiveASCII(StringPiece a, StringPiece b);
bool EqualsCaseInsensitiveASCII(StringPiece16 a, StringPiece16 b);

// True when the lengths are equal and each unit of |str|, lowered, equals
// the byte of |lowercase_ascii| at the same position. A byte of 0x80 or more
// in |lowercase_ascii| never matches.
bool LowerCaseEqualsASCII(StringPiece16 str, StringPiece lowercase_ascii);
bool LowerCaseEqualsASCII(StringPiece str, StringPiece lowercase_ascii);

// A CompareCase other than the two named values makes these return false.
bool StartsWith(StringPiece str,
                StringPiece search_for,
                CompareCase case_sensitivity);
bool StartsWith(StringPiece16 str,
                StringPiece16 search_for,
                CompareCase case_sensitivity);
bool EndsWith(StringPiece16 str,
              StringPiece16 search_for,
              CompareCase case_sensitivity);

// True when every unit is below 0x80 (and for empty text).
bool IsStringASCII(StringPiece str);
bool IsStringASCII(StringPiece16 str);

// Trimming. The output forms return the ends actually trimmed; |input| and
// |output| may be the same string. Text made of white space only gives an
// empty output and returns the positions asked for.
TrimPositions TrimWhitespace(const std::wstring& input,
                             TrimPositions positions,
                             std::wstring* output);
StringPiece16 TrimWhitespace(StringPiece16 input, TrimPositions positions);
TrimPositions TrimWhitespaceASCII(const std::string& input,
                                  TrimPositions positions,
                                  std::string* output);
StringPiece TrimWhitespaceASCII(StringPiece input, TrimPositions positions);

// The sub-view of |input| without the leading and/or trailing units that are
// in |trim_chars|.
StringPiece TrimString(StringPiece input,
                       StringPiece trim_chars,
                       TrimPositions positions);
StringPiece16 TrimString(StringPiece16 input,
                         StringPiece16 trim_chars,
                         TrimPositions positions);

// Drops leading and trailing white space and turns every inner run of white
// space into one space. With |trim_sequences_with_line_breaks|, an inner run
// that holds a CR or LF is dropped entirely.
std::string CollapseWhitespaceASCII(const std::string& text,
                                    bool trim_sequences_with_line_breaks);

// Copies |input| to |output| with every byte that is in |replace_chars|
// replaced by the whole of |replace_with|. |input| and |output| may be the
// same string. Returns true when anything was replaced.
bool ReplaceChars(const std::string& input,
                  StringPiece replace_chars,
                  const std::string& replace_with,
                  std::string* output);

// Replace every (or only the first) non-overlapping occurrence of
// |find_this| at or after |start_offset|, leftmost first. Text that a
// replacement inserts is never searched again; the work is linear in the
// length of |str|. An empty |find_this| changes nothing.
void ReplaceSubstringsAfterOffset(std::string* str,
                                  size_t start_offset,
                                  StringPiece find_this,
                                  StringPiece replace_with);
void ReplaceSubstringsAfterOffset(std::wstring* str,
                                  size_t start_offset,
                                  StringPiece16 find_this,
                                  StringPiece16 replace_with);
void ReplaceFirstSubstringAfterOffset(std::string* str,
                                      size_t start_offset,
                                      StringPiece find_this,
                                      StringPiece replace_with);
void ReplaceFirstSubstringAfterOffset(std::wstring* str,
                                      size_t start_offset,
                                      StringPiece16 find_this,
                                      StringPiece16 replace_with);

// Replaces "$1".."$9" in |format_string| with subst[0]..subst[8] (nothing
// for an index past the end of |subst|). "$$" runs lose one dollar, "$0" and
// "$" before any other unit are dropped, a "$" at the end is dropped. When
// |offsets| is not null, the result positions of the placeholders are
// appended to it ordered by placeholder index, ties in order of appearance.
std::wstring ReplaceStringPlaceholders(const std::wstring& format_string,
                                       const std::vector<std::wstring>& subst,
                                       std::vector<size_t>* offsets);
std::string ReplaceStringPlaceholders(StringPiece format_string,
                                      const std::vector<std::string>& subst,
                                      std::vector<size_t>* offsets);

// The parts with |separator| between each two; "" for no parts.
std::string JoinString(const std::vector<std::string>& parts,
                       StringPiece separator);
std::wstring JoinString(const std::vector<std::wstring>& parts,
                        StringPiece16 separator);
std::string JoinString(const std::vector<StringPiece>& parts,
                       StringPiece separator);
std::string JoinString(std::initializer_list<StringPiece> parts,
                       StringPiece separator);

// Lends |str|'s buffer to a platform call that writes a NUL-terminated
// result: sizes the string to length_with_null - 1 units (new units zero)
// with room for the terminator, and returns its first unit. The caller
// passes the buffer length including the terminator, at least 1, and
// usually trims the string to the written length afterwards.
template <typename StringType>
inline typename StringType::value_type* WriteInto(StringType* str,
                                                  size_t length_with_null) {
  str->reserve(length_with_null);
  str->resize(length_with_null - 1);
  return &((*str)[0]);
}

// Copies |src| into |dst| up to and including its NUL, at most |dst_size|
// units; the copy is always NUL-terminated when dst_size > 0. Returns the
// length of |src|, so a result >= dst_size means the copy was cut short.
size_t strlcpy(char* dst, const char* src, size_t dst_size);
size_t wcslcpy(wchar_t* dst, const wchar_t* src, size_t dst_size);

// True when the whole of |eval| matches |pattern| (both UTF-8). '*' matches
// any run of characters, '?' at most one; a backslash makes the next pattern
// character literal. Each literal part of the pattern is taken at the first
// place the wildcards before it allow and never reconsidered, so matching is
// linear-ish and has no recursion: "*a?c" does not match "abac".
bool MatchPattern(StringPiece eval, StringPiece pattern);

}  // namespace base

#endif  // BASE_STRINGS_STRING_UTIL_H_
