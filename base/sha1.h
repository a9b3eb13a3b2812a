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

 private:
  uint32_t h_[5];
  // The tail of the input that does not fill a block yet.
  uint8_t buffer_[64];
  size_t buffered_ = 0;
  uint64_t total_bytes_ = 0;
};

}  // namespace base

#endif  // BASE_SHA1_H_
