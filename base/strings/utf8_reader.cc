#include "base/strings/utf8_reader.h"

namespace base {

int32_t utf8_nextCharSafeBody(const uint8_t* s,
                              int32_t* index,
                              int32_t length,
                              int32_t c) {
  int32_t i = *index;
  // Each step below accepts one more byte or stops; on a stop, *index is
  // left past the bytes that were still acceptable.
  if (i < length && c >= 0xC2 && c <= 0xF4) {
    const uint8_t second = s[i];
    if (c >= 0xF0) {
      bool second_ok;
      if (c == 0xF0)
        second_ok = second >= 0x90 && second <= 0xBF;  // No overlong forms.
      else if (c == 0xF4)
        second_ok = second >= 0x80 && second <= 0x8F;  // Up to U+10FFFF.
      else
        second_ok = internal::IsTrailByte(second);
      if (second_ok) {
        int32_t cp = ((c & 0x07) << 6) | (second & 0x3F);
        ++i;
        if (i < length && internal::IsTrailByte(s[i])) {
          cp = (cp << 6) | (s[i] & 0x3F);
          ++i;
          if (i < length && internal::IsTrailByte(s[i])) {
            cp = (cp << 6) | (s[i] & 0x3F);
            *index = i + 1;
            return cp;
          }
        }
      }
    } else if (c >= 0xE0) {
      if (internal::IsValidSecondOfThree(static_cast<uint8_t>(c), second)) {
        int32_t cp = ((c & 0x0F) << 6) | (second & 0x3F);
        ++i;
        if (i < length && internal::IsTrailByte(s[i])) {
          cp = (cp << 6) | (s[i] & 0x3F);
          *index = i + 1;
          return cp;
        }
      }
    } else if (internal::IsTrailByte(second)) {
      *index = i + 1;
      return ((c & 0x1F) << 6) | (second & 0x3F);
    }
  }
  *index = i;
  return kUTF8Sentinel;
}

}  // namespace base
