#ifndef BASE_MD5_H_
#define BASE_MD5_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace base {

// The 16 digest bytes in RFC 1321 order.
struct MD5Digest {
  uint8_t a[16];
};

// Incremental MD5 state. Callers own it; nothing is shared between contexts.
struct MD5Context {
  uint32_t buf[4];   // Chaining words A, B, C, D.
  uint32_t bits[2];  // Message length in bits, low word first.
  uint8_t in[64];    // Partial block.
};

void MD5Init(MD5Context* context);

// Absorbs |length| bytes. Any number of calls may follow MD5Init.
void MD5Update(MD5Context* context, const void* data, size_t length);

// Pads, writes the digest and wipes |context| to zeros.
void MD5Final(MD5Digest* digest, MD5Context* context);

// One-shot digest of a buffer.
void MD5Sum(const void* data, size_t length, MD5Digest* digest);

// Lower-case hexadecimal form of a digest, for tests and diagnostics.
std::string MD5DigestToBase16(const MD5Digest& digest);

}  // namespace base

#endif  // BASE_MD5_H_
