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

TEST(SHA1Test, Fips180Vectors) {
  EXPECT_EQ("da39a3ee5e6b4b0d3255bfef95601890afd80709", SHA1Hex(""));
  EXPECT_EQ("a9993e364706816aba3e25717850c26c9cd0d89d", SHA1Hex("abc"));
  EXPECT_EQ(
      "84983e441c3bd26ebaae4aa1f95129e5e54670f1",
      SHA1Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"));
  // Longer than a block and not uniform, so whole blocks are hashed
  // straight from the input at the right offsets.
  EXPECT_EQ("a49b2446a02c645bf419f995b67091253a04a259",
            SHA1Hex("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmn"
                    "hijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu"));
  EXPECT_EQ("34aa973cd4c4daa4f61eeb2bdbad27316534016f",
            SHA1Hex(std::string(1000000, 'a')));
}

// 55 bytes leave room for the length in one block; 56 to 63 need a second
// block; 64 fill a block exactly.
TEST(SHA1Test, PaddingBoundaries) {
  EXPECT_EQ("c1c8bbdc22796e28c0e15163d20899b65621d65a",
            SHA1Hex(std::string(55, 'a')));
  EXPECT_EQ("c2db330f6083854c99d4b5bfb6e8f29f201be699",
            SHA1Hex(std::string(56, 'a')));
  EXPECT_EQ("03f09f5b158a7a8cdad920bddc29b81c18a551f5",
            SHA1Hex(std::string(63, 'a')));
  EXPECT_EQ("0098ba824b5c16427bd7a1122a5a442a25ec644d",
            SHA1Hex(std::string(64, 'a')));
  EXPECT_EQ("11655326c708d70319be2610e8a57d9a5b959d3b",
            SHA1Hex(std::string(65, 'a')));
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
