#include "base/sha1.h"

#include <string.h>

namespace base {

namespace {

inline uint32_t RotateLeft(uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

inline uint32_t LoadBigEndian(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) |
         (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// Folds one 64-byte block into |h|. The block is read in place, so whole
// blocks of the caller's input need no copy.
void ProcessBlock(uint32_t* h, const uint8_t* block) {
  uint32_t w[80];
  for (int t = 0; t < 16; ++t)
    w[t] = LoadBigEndian(block + 4 * t);
  for (int t = 16; t < 80; ++t)
    w[t] = RotateLeft(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);

  uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
  for (int t = 0; t < 80; ++t) {
    uint32_t f, k;
    if (t < 20) {
      f = (b & c) | (~b & d);
      k = 0x5a827999;
    } else if (t < 40) {
      f = b ^ c ^ d;
      k = 0x6ed9eba1;
    } else if (t < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8f1bbcdc;
    } else {
      f = b ^ c ^ d;
      k = 0xca62c1d6;
    }
    uint32_t temp = RotateLeft(a, 5) + f + e + w[t] + k;
    e = d;
    d = c;
    c = RotateLeft(b, 30);
    b = a;
    a = temp;
  }
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  h[4] += e;
}

}  // namespace

void SHA1HashBytes(const unsigned char* data,
                   size_t length,
                   unsigned char* hash) {
  SHA1Hasher hasher;
  hasher.Update(data, length);
  hasher.Finish(hash);
}

SHA1Hasher::SHA1Hasher()
    : h_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0} {}

void SHA1Hasher::Update(const unsigned char* data, size_t length) {
  if (length == 0)
    return;
  total_bytes_ += length;
  if (buffered_ > 0) {
    size_t take = 64 - buffered_;
    if (take > length)
      take = length;
    memcpy(buffer_ + buffered_, data, take);
    buffered_ += take;
    data += take;
    length -= take;
    if (buffered_ < 64)
      return;
    ProcessBlock(h_, buffer_);
    buffered_ = 0;
  }
  for (; length >= 64; data += 64, length -= 64)
    ProcessBlock(h_, data);
  if (length > 0) {
    memcpy(buffer_, data, length);
    buffered_ = length;
  }
}

void SHA1Hasher::Finish(unsigned char* hash) {
  const uint64_t bit_length = total_bytes_ * 8;
  buffer_[buffered_++] = 0x80;
  if (buffered_ > 56) {
    memset(buffer_ + buffered_, 0, 64 - buffered_);
    ProcessBlock(h_, buffer_);
    buffered_ = 0;
  }
  memset(buffer_ + buffered_, 0, 56 - buffered_);
  for (int i = 0; i < 8; ++i)
    buffer_[56 + i] = static_cast<uint8_t>(bit_length >> (56 - 8 * i));
  ProcessBlock(h_, buffer_);
  buffered_ = 0;
  for (int i = 0; i < 5; ++i) {
    hash[i * 4] = static_cast<unsigned char>(h_[i] >> 24);
    hash[i * 4 + 1] = static_cast<unsigned char>(h_[i] >> 16);
    hash[i * 4 + 2] = static_cast<unsigned char>(h_[i] >> 8);
    hash[i * 4 + 3] = static_cast<unsigned char>(h_[i]);
  }
}

}  // namespace base
