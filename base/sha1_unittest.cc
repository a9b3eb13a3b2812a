#include "base/sha1.h"

#include <string.h>

#include <algorithm>
#include <string>

#include "gtest/gtest.h"

namespace base {
namespace {

std::string SHA1Hex(const std::string& input) {
  unsigned char hash[kSHA1Length];
  SHA1HashBytes(reinterpret_cast<const unsigned char*>(input.data()),
                input.size(), hash);
  static const char kHex[] = "0123456789abcdef";
  std::string result;
  for (unsigned char byte : hash) {
    result += kHex[byte >> 4];
    result += kHex[byte & 0xf];
  }
  return result;
}

// The published vectors, and lengths around the padding: 55 bytes leave
// room for the length in one block, 56 to 63 need a second block, 64 fill
// a block exactly. The 112-byte vector is longer than a block and not
// uniform, so whole blocks are hashed straight from the input at the right
// offsets.
TEST(SHA1Test, KnownDigests) {
  const struct {
    std::string input;
    const char* digest;
  } kCases[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmn"
       "hijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
       "a49b2446a02c645bf419f995b67091253a04a259"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
      {std::string(55, 'a'), "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
      {std::string(56, 'a'), "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
      {std::string(63, 'a'), "03f09f5b158a7a8cdad920bddc29b81c18a551f5"},
      {std::string(64, 'a'), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
      {std::string(65, 'a'), "11655326c708d70319be2610e8a57d9a5b959d3b"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.input.size());
    EXPECT_EQ(c.digest, SHA1Hex(c.input));
  }
}

// Pieces that end inside, at and across block boundaries give the one-shot
// digest; the input varies byte by byte so a misplaced block shows.
TEST(SHA1Test, StreamingMatchesOneShot) {
  std::string input(100003, '\0');
  for (size_t i = 0; i < input.size(); ++i)
    input[i] = static_cast<char>(i * 131 % 251);
  for (size_t piece :
       {size_t{1}, size_t{63}, size_t{64}, size_t{100}, size_t{65536}}) {
    SCOPED_TRACE(piece);
    SHA1Hasher hasher;
    const auto* data = reinterpret_cast<const unsigned char*>(input.data());
    for (size_t done = 0; done < input.size(); done += piece)
      hasher.Update(data + done, std::min(piece, input.size() - done));
    unsigned char streamed[kSHA1Length];
    hasher.Finish(streamed);
    unsigned char whole[kSHA1Length];
    SHA1HashBytes(data, input.size(), whole);
    EXPECT_EQ(0, memcmp(whole, streamed, kSHA1Length));
  }
}

}  // namespace
}  // namespace base
