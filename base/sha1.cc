#include "base/sha1.h"

#include <string.h>

namespace base {

namespace {

using Sha1State = SHA1Hasher::State;

inline uint32_t RotateLeft(uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

inline uint32_t Swap(uint32_t x) {
  return (x << 24) | ((x << 8) & 0x00ff0000) | ((x >> 8) & 0x0000ff00) |
         (x >> 24);
}

inline uint32_t RoundFunction(int t, uint32_t b, uint32_t c, uint32_t d) {
  if (t < 20)
    return (b & c) | (~b & d);
  if (t < 40)
    return b ^ c ^ d;
  if (t < 60)
    return (b & c) | (b & d) | (c & d);
  return b ^ c ^ d;
}

inline uint32_t RoundConstant(int t) {
  if (t < 20)
    return 0x5a827999;
  if (t < 40)
    return 0x6ed9eba1;
  if (t < 60)
    return 0x8f1bbcdc;
  return 0xca62c1d6;
}

void Init(Sha1State* s) {
  s->H[0] = 0x67452301;
  s->H[1] = 0xefcdab89;
  s->H[2] = 0x98badcfe;
  s->H[3] = 0x10325476;
  s->H[4] = 0xc3d2e1f0;
  s->cursor = 0;
  s->length = 0;
}

void Process(Sha1State* s) {
  // The block bytes are big-endian words; the machine is little-endian.
  for (int t = 0; t < 16; ++t)
    s->W[t] = Swap(s->W[t]);
  for (int t = 16; t < 80; ++t)
    s->W[t] =
        RotateLeft(s->W[t - 3] ^ s->W[t - 8] ^ s->W[t - 14] ^ s->W[t - 16], 1);

  s->A = s->H[0];
  s->B = s->H[1];
  s->C = s->H[2];
  s->D = s->H[3];
  s->E = s->H[4];
  for (int t = 0; t < 80; ++t) {
    uint32_t temp = RotateLeft(s->A, 5) + RoundFunction(t, s->B, s->C, s->D) +
                    s->E + s->W[t] + RoundConstant(t);
    s->E = s->D;
    s->D = s->C;
    s->C = RotateLeft(s->B, 30);
    s->B = s->A;
    s->A = temp;
  }
  s->H[0] += s->A;
  s->H[1] += s->B;
  s->H[2] += s->C;
  s->H[3] += s->D;
  s->H[4] += s->E;
  s->cursor = 0;
}

void Update(Sha1State* s, const uint8_t* data, size_t length) {
  while (length--) {
    s->M[s->cursor++] = *data++;
    if (s->cursor >= 64)
      Process(s);
    s->length += 8;
  }
}

void Final(Sha1State* s) {
  s->M[s->cursor++] = 0x80;
  if (s->cursor > 56) {
    while (s->cursor < 64)
      s->M[s->cursor++] = 0;
    Process(s);
  }
  while (s->cursor < 56)
    s->M[s->cursor++] = 0;
  for (int i = 0; i < 8; ++i)
    s->M[56 + i] = static_cast<uint8_t>(s->length >> (56 - 8 * i));
  Process(s);
}

}  // namespace

void SHA1HashBytes(const unsigned char* data,
                   size_t length,
                   unsigned char* hash) {
  SHA1Hasher hasher;
  hasher.Update(data, length);
  hasher.Finish(hash);
}

SHA1Hasher::SHA1Hasher() {
  Init(&state_);
}

void SHA1Hasher::Update(const unsigned char* data, size_t length) {
  base::Update(&state_, data, length);
}

void SHA1Hasher::Finish(unsigned char* hash) {
  Final(&state_);
  for (int i = 0; i < 5; ++i) {
    hash[i * 4] = static_cast<unsigned char>(state_.H[i] >> 24);
    hash[i * 4 + 1] = static_cast<unsigned char>(state_.H[i] >> 16);
    hash[i * 4 + 2] = static_cast<unsigned char>(state_.H[i] >> 8);
    hash[i * 4 + 3] = static_cast<unsigned char>(state_.H[i]);
  }
}

}  // namespace base
