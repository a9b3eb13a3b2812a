#include "base/md5.h"

#include <string.h>

namespace base {

namespace {

inline uint32_t RotateLeft(uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) {
  return z ^ (x & (y ^ z));
}
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) {
  return y ^ (z & (x ^ y));
}
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) {
  return x ^ y ^ z;
}
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) {
  return y ^ (x | ~z);
}

// Additive constants: floor(abs(sin(i + 1)) * 2^32).
const uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a,
    0xa8304613, 0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be,
    0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340,
    0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8,
    0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c,
    0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
    0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92,
    0xffeff47d, 0x85845dd1, 0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1,
    0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

const int kShift[4][4] = {
    {7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

void MD5Transform(uint32_t buf[4], const uint8_t block[64]) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) {
    x[i] = static_cast<uint32_t>(block[i * 4]) |
           static_cast<uint32_t>(block[i * 4 + 1]) << 8 |
           static_cast<uint32_t>(block[i * 4 + 2]) << 16 |
           static_cast<uint32_t>(block[i * 4 + 3]) << 24;
  }
  uint32_t a = buf[0], b = buf[1], c = buf[2], d = buf[3];
  for (int i = 0; i < 64; ++i) {
    uint32_t f;
    int k;
    switch (i / 16) {
      case 0:
        f = F(b, c, d);
        k = i;
        break;
      case 1:
        f = G(b, c, d);
        k = (5 * i + 1) % 16;
        break;
      case 2:
        f = H(b, c, d);
        k = (3 * i + 5) % 16;
        break;
      default:
        f = I(b, c, d);
        k = (7 * i) % 16;
        break;
    }
    uint32_t t = d;
    d = c;
    c = b;
    b = b + RotateLeft(a + f + kSine[i] + x[k], kShift[i / 16][i % 4]);
    a = t;
  }
  buf[0] += a;
  buf[1] += b;
  buf[2] += c;
  buf[3] += d;
}

}  // namespace

void MD5Init(MD5Context* context) {
  context->buf[0] = 0x67452301;
  context->buf[1] = 0xefcdab89;
  context->buf[2] = 0x98badcfe;
  context->buf[3] = 0x10325476;
  context->bits[0] = 0;
  context->bits[1] = 0;
}

void MD5Update(MD5Context* context, const void* data, size_t length) {
  const uint8_t* in = static_cast<const uint8_t*>(data);
  uint32_t used = (context->bits[0] >> 3) & 0x3f;
  uint64_t bit_count =
      (static_cast<uint64_t>(context->bits[1]) << 32 | context->bits[0]) +
      (static_cast<uint64_t>(length) << 3);
  context->bits[0] = static_cast<uint32_t>(bit_count);
  context->bits[1] = static_cast<uint32_t>(bit_count >> 32);

  if (used) {
    size_t room = 64 - used;
    if (length < room) {
      memcpy(context->in + used, in, length);
      return;
    }
    memcpy(context->in + used, in, room);
    MD5Transform(context->buf, context->in);
    in += room;
    length -= room;
  }
  while (length >= 64) {
    memcpy(context->in, in, 64);
    MD5Transform(context->buf, context->in);
    in += 64;
    length -= 64;
  }
  memcpy(context->in, in, length);
}

void MD5Final(MD5Digest* digest, MD5Context* context) {
  uint32_t used = (context->bits[0] >> 3) & 0x3f;
  uint8_t* p = context->in + used;
  *p++ = 0x80;
  uint32_t room = 64 - 1 - used;
  if (room < 8) {
    memset(p, 0, room);
    MD5Transform(context->buf, context->in);
    memset(context->in, 0, 56);
  } else {
    memset(p, 0, room - 8);
  }
  for (int i = 0; i < 4; ++i) {
    context->in[56 + i] = static_cast<uint8_t>(context->bits[0] >> (8 * i));
    context->in[60 + i] = static_cast<uint8_t>(context->bits[1] >> (8 * i));
  }
  MD5Transform(context->buf, context->in);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j)
      digest->a[i * 4 + j] = static_cast<uint8_t>(context->buf[i] >> (8 * j));
  }
  // The state may have seen secret input; leave nothing of it behind.
  memset(context, 0, sizeof(*context));
}

void MD5Sum(const void* data, size_t length, MD5Digest* digest) {
  MD5Context context;
  MD5Init(&context);
  MD5Update(&context, data, length);
  MD5Final(digest, &context);
}

std::string MD5DigestToBase16(const MD5Digest& digest) {
  static const char kHex[] = "0123456789abcdef";
  std::string result(32, '0');
  for (int i = 0; i < 16; ++i) {
    result[i * 2] = kHex[digest.a[i] >> 4];
    result[i * 2 + 1] = kHex[digest.a[i] & 0xf];
  }
  return result;
}

}  // namespace base
