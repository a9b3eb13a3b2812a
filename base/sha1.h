#ifndef BASE_SHA1_H_
#define BASE_SHA1_H_

#include <stddef.h>
#include <stdint.h>

namespace base {

// Length of a SHA-1 digest in bytes.
constexpr size_t kSHA1Length = 20;

// Writes the 20-byte SHA-1 digest of |length| bytes at |data| to |hash|:
// H0 to H4, each big-endian.
void SHA1HashBytes(const unsigned char* data,
                   size_t length,
                   unsigned char* hash);

}  // namespace base

#endif  // BASE_SHA1_H_
