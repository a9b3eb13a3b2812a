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

// The same digest over data that arrives in pieces, so that a large file
// need not be held in memory: Update as often as needed, then Finish once.
class SHA1Hasher {
 public:
  SHA1Hasher();

  void Update(const unsigned char* data, size_t length);
  // Writes the 20-byte digest to |hash|; the hasher is spent afterwards.
  void Finish(unsigned char* hash);

  // The running state; public only so the block functions can reach it.
  struct State {
    uint32_t A, B, C, D, E;
    uint32_t H[5];
    // The block buffer doubles as the 80-word schedule, so a block is
    // processed without a second buffer.
    union {
      uint32_t W[80];
      uint8_t M[64];
    };
    uint32_t cursor;
    uint64_t length;
  };

 private:
  State state_;
};

}  // namespace base

#endif  // BASE_SHA1_H_
