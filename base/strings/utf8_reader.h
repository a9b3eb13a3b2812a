#ifndef BASE_STRINGS_UTF8_READER_H_
#define BASE_STRINGS_UTF8_READER_H_

// Reading one code point from UTF-8 text, for code that walks text itself
// (the conversions, the JSON reader, wildcard matching).
//
// Decoding follows the Unicode Standard's table of well-formed byte
// sequences: lead bytes 0xC2..0xF4 only, with a narrowed second-byte range
// after 0xE0, 0xED, 0xF0 and 0xF4. Overlong forms, encoded surrogates and
// values above U+10FFFF are ill formed. An ill-formed sequence reads as the
// sentinel -1 and the reader steps over its maximal ill-formed part (at
// least the lead byte), so that one replacement character stands for it.

#include <stdint.h>

namespace base {

// The sentinel that an ill-formed sequence reads as.
constexpr int32_t kUTF8Sentinel = -1;

// The slow path of every UTF-8 reader here. Entered with *index one past the
// lead byte |c|; on return *index is past the sequence (or past its maximal
// ill-formed part) and the result is the code point or -1.
int32_t utf8_nextCharSafeBody(const uint8_t* s,
                              int32_t* index,
                              int32_t length,
                              int32_t c);

namespace internal {

// The second byte that may follow a three-byte lead: 0xE0 needs 0xA0..0xBF
// (no overlong forms), 0xED 0x80..0x9F (no surrogates), others 0x80..0xBF.
inline bool IsValidSecondOfThree(uint8_t lead, uint8_t second) {
  if (lead == 0xE0)
    return second >= 0xA0 && second <= 0xBF;
  if (lead == 0xED)
    return second >= 0x80 && second <= 0x9F;
  return second >= 0x80 && second <= 0xBF;
}

inline bool IsTrailByte(uint8_t b) {
  return (b & 0xC0) == 0x80;
}

}  // namespace internal

// Reads the code point at *index (which must be below |length|) and moves
// *index past it. ASCII and well-formed two- and three-byte sequences are
// decoded inline; everything else takes the slow path, which agrees with it.
inline int32_t ReadUTF8CodePoint(const uint8_t* s,
                                 int32_t* index,
                                 int32_t length) {
  const int32_t i = *index;
  const uint8_t lead = s[i];
  if (lead < 0x80) {
    *index = i + 1;
    return lead;
  }
  if (lead >= 0xE0 && lead <= 0xEF && i + 2 < length &&
      internal::IsValidSecondOfThree(lead, s[i + 1]) &&
      internal::IsTrailByte(s[i + 2])) {
    *index = i + 3;
    return ((lead & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
  }
  if (lead >= 0xC2 && lead <= 0xDF && i + 1 < length &&
      internal::IsTrailByte(s[i + 1])) {
    *index = i + 2;
    return ((lead & 0x1F) << 6) | (s[i + 1] & 0x3F);
  }
  *index = i + 1;
  return utf8_nextCharSafeBody(s, index, length, lead);
}

}  // namespace base

#endif  // BASE_STRINGS_UTF8_READER_H_
