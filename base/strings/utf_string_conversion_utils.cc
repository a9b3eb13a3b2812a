#include "base/strings/utf_string_conversion_utils.h"

#include "base/strings/utf8_reader.h"

namespace base {

bool ReadUnicodeCharacter(const char* src,
                          int32_t src_len,
                          int32_t* char_index,
                          uint32_t* code_point) {
  const int32_t cp = ReadUTF8CodePoint(reinterpret_cast<const uint8_t*>(src),
                                       char_index, src_len);
  *code_point = static_cast<uint32_t>(cp);
  // The reader moved past the character; callers expect to be left on its
  // last unit.
  --(*char_index);
  return IsValidCodepoint(*code_point);
}

bool ReadUnicodeCharacter(const wchar_t* src,
                          int32_t src_len,
                          int32_t* char_index,
                          uint32_t* code_point) {
  const uint32_t unit = static_cast<uint16_t>(src[*char_index]);
  if (unit < 0xD800u || unit > 0xDFFFu) {
    *code_point = unit;
    return true;
  }
  // A surrogate must be a high one followed by a low one.
  if (unit > 0xDBFFu || *char_index + 1 >= src_len)
    return false;
  const uint32_t low = static_cast<uint16_t>(src[*char_index + 1]);
  if (low < 0xDC00u || low > 0xDFFFu)
    return false;
  *code_point = 0x10000u + ((unit - 0xD800u) << 10) + (low - 0xDC00u);
  ++(*char_index);
  return true;
}

size_t WriteUnicodeCharacter(uint32_t code_point, std::string* output) {
  if (code_point <= 0x7Fu) {
    output->push_back(static_cast<char>(code_point));
    return 1;
  }
  // Grow by the longest form, write in place, then cut back.
  const size_t start = output->length();
  output->resize(start + 4);
  char* p = &(*output)[start];
  size_t n;
  if (code_point <= 0x7FFu) {
    p[0] = static_cast<char>(0xC0 | (code_point >> 6));
    p[1] = static_cast<char>(0x80 | (code_point & 0x3F));
    n = 2;
  } else if (code_point <= 0xFFFFu) {
    p[0] = static_cast<char>(0xE0 | (code_point >> 12));
    p[1] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    p[2] = static_cast<char>(0x80 | (code_point & 0x3F));
    n = 3;
  } else {
    p[0] = static_cast<char>(0xF0 | ((code_point >> 18) & 0x07));
    p[1] = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    p[2] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    p[3] = static_cast<char>(0x80 | (code_point & 0x3F));
    n = 4;
  }
  output->resize(start + n);
  return n;
}

size_t WriteUnicodeCharacter(uint32_t code_point, std::wstring* output) {
  if (code_point <= 0xFFFFu) {
    output->push_back(static_cast<wchar_t>(code_point));
    return 1;
  }
  const uint32_t v = code_point - 0x10000u;
  output->push_back(static_cast<wchar_t>(0xD800u + (v >> 10)));
  output->push_back(static_cast<wchar_t>(0xDC00u + (v & 0x3FFu)));
  return 2;
}

void PrepareForUTF8Output(const wchar_t* src,
                          size_t src_len,
                          std::string* output) {
  output->clear();
  if (src_len == 0)
    return;
  if (static_cast<uint16_t>(src[0]) < 0x80)
    output->reserve(src_len);
  else
    output->reserve(src_len * 3);
}

void PrepareForUTF16Or32Output(const char* src,
                               size_t src_len,
                               std::wstring* output) {
  output->clear();
  if (src_len == 0)
    return;
  if (static_cast<unsigned char>(src[0]) < 0x80)
    output->reserve(src_len);
  else
    output->reserve(src_len / 2);
}

}  // namespace base
