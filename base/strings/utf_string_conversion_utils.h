#ifndef BASE_STRINGS_UTF_STRING_CONVERSION_UTILS_H_
#define BASE_STRINGS_UTF_STRING_CONVERSION_UTILS_H_

// Reading and writing single code points, for code that walks UTF-8 or
// UTF-16 text itself.

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace base {

// A code point is valid when it is below U+D800 or in U+E000..U+10FFFF.
// Non-characters such as U+FFFE count as valid and pass through unchanged.
inline bool IsValidCodepoint(uint32_t code_point) {
  return code_point < 0xD800u ||
         (code_point >= 0xE000u && code_point <= 0x10FFFFu);
}

// Reads the code point at *char_index into *code_point and returns whether
// it is valid. *char_index is left on the last unit consumed, one before the
// next character, so that a loop's ++ steps to it.
//
// UTF-8: an ill-formed sequence stores 0xFFFFFFFF, returns false and leaves
// *char_index on the last byte of its maximal ill-formed part.
bool ReadUnicodeCharacter(const char* src,
                          int32_t src_len,
                          int32_t* char_index,
                          uint32_t* code_point);

// UTF-16: an unpaired surrogate returns false, stores nothing and leaves
// *char_index where it was.
bool ReadUnicodeCharacter(const wchar_t* src,
                          int32_t src_len,
                          int32_t* char_index,
                          uint32_t* code_point);

// Appends the UTF-8 form of |code_point|; returns the number of bytes added.
size_t WriteUnicodeCharacter(uint32_t code_point, std::string* output);

// Appends the UTF-16 form of |code_point|; returns the number of units added.
size_t WriteUnicodeCharacter(uint32_t code_point, std::wstring* output);

// Clear |output| and reserve room for converting |src|: its length when it
// starts with ASCII, otherwise three bytes per unit (to UTF-8) or half a
// unit per byte (to UTF-16).
void PrepareForUTF8Output(const wchar_t* src,
                          size_t src_len,
                          std::string* output);
void PrepareForUTF16Or32Output(const char* src,
                               size_t src_len,
                               std::wstring* output);

}  // namespace base

#endif  // BASE_STRINGS_UTF_STRING_CONVERSION_UTILS_H_
