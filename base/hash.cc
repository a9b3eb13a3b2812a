#include "base/hash.h"

#include <limits>

namespace base {

namespace {

inline uint32_t Get16Bits(const char* d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(d[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(d[1])) << 8;
}

// A byte widened with its sign, as the hash has always been defined.
inline uint32_t SignedByte(char c) {
  return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(c)));
}

}  // namespace

uint32_t SuperFastHash(const char* data, int length) {
  if (!data || length <= 0)
    return 0;
  uint32_t hash = static_cast<uint32_t>(length);
  int rem = length & 3;
  for (int groups = length >> 2; groups > 0; --groups) {
    hash += Get16Bits(data);
    uint32_t tmp = (Get16Bits(data + 2) << 11) ^ hash;
    hash = (hash << 16) ^ tmp;
    data += 4;
    hash += hash >> 11;
  }
  switch (rem) {
    case 3:
      hash += Get16Bits(data);
      hash ^= hash << 16;
      hash ^= SignedByte(data[2]) << 18;
      hash += hash >> 11;
      break;
    case 2:
      hash += Get16Bits(data);
      hash ^= hash << 11;
      hash += hash >> 17;
      break;
    case 1:
      hash += SignedByte(data[0]);
      hash ^= hash << 10;
      hash += hash >> 1;
      break;
  }
  hash ^= hash << 3;
  hash += hash >> 5;
  hash ^= hash << 4;
  hash += hash >> 17;
  hash ^= hash << 25;
  hash += hash >> 6;
  return hash;
}

uint32_t Hash(const void* data, size_t length) {
  if (length > static_cast<size_t>(std::numeric_limits<int>::max()))
    return 0;
  return SuperFastHash(static_cast<const char*>(data),
                       static_cast<int>(length));
}

uint32_t Hash(const std::string& str) {
  return Hash(str.data(), str.size());
}

}  // namespace base
