#include "crypto/sha2.h"

#include <string>

#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "gtest/gtest.h"

namespace crypto {
namespace {

std::string Hex(const std::string& bytes) {
  return base::ToLowerASCII(base::HexEncode(bytes.data(), bytes.size()));
}

TEST(SHA256HashStringTest, EmptyAndShortTexts) {
  EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
            Hex(SHA256HashString(base::StringPiece())));
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
            Hex(SHA256HashString("abc")));
  EXPECT_EQ(kSHA256Length, SHA256HashString("abc").size());
}

TEST(SHA256HashStringTest, TwoBlockMessage) {
  // The FIPS 180 example whose padding spills into a second block.
  EXPECT_EQ("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
            Hex(SHA256HashString(
                "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")));
}

TEST(SHA256HashStringTest, ShortOutputIsAPrefix) {
  const std::string full = SHA256HashString("abc");
  unsigned char out[8];
  memset(out, 0xEE, sizeof(out));
  SHA256HashString("abc", out, 5);
  EXPECT_EQ(0, memcmp(out, full.data(), 5));
  // Nothing beyond the asked-for length is written.
  EXPECT_EQ(0xEE, out[5]);
  EXPECT_EQ(0xEE, out[7]);
}

}  // namespace
}  // namespace crypto
