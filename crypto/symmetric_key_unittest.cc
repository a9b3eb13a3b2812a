#include "crypto/symmetric_key.h"

#include <memory>
#include <string>

#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "gtest/gtest.h"

namespace crypto {
namespace {

// Any value but AES takes every key size of 8 bits or more.
const SymmetricKey::Algorithm kAnySize =
    static_cast<SymmetricKey::Algorithm>(1);

std::string DeriveHex(SymmetricKey::Algorithm algorithm,
                      const std::string& password,
                      const std::string& salt,
                      size_t iterations,
                      size_t bits) {
  std::unique_ptr<SymmetricKey> key = SymmetricKey::DeriveKeyFromPassword(
      algorithm, password, salt, iterations, bits);
  if (!key)
    return "null";
  return base::ToLowerASCII(
      base::HexEncode(key->key().data(), key->key().size()));
}

// RFC 6070 (PBKDF2-HMAC-SHA1); the 2^24-iteration case is left out for time.
TEST(SymmetricKeyTest, RFC6070Vectors) {
  EXPECT_EQ("0c60c80f961f0e71f3a9b524af6012062fe037a6",
            DeriveHex(kAnySize, "password", "salt", 1, 160));
  EXPECT_EQ("ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957",
            DeriveHex(kAnySize, "password", "salt", 2, 160));
  EXPECT_EQ("4b007901b765489abead49d926f721d065a429c1",
            DeriveHex(kAnySize, "password", "salt", 4096, 160));
  EXPECT_EQ("3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038",
            DeriveHex(kAnySize, "passwordPASSWORDpassword",
                      "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 200));
  EXPECT_EQ("56fa6aa75548099dcc37d7f03425e0c3",
            DeriveHex(kAnySize, std::string("pass\0word", 9),
                      std::string("sa\0lt", 5), 4096, 128));
}

TEST(SymmetricKeyTest, AESKeySizes) {
  // The AES sizes give the leading bytes of the same derivation.
  EXPECT_EQ("0c60c80f961f0e71f3a9b524af601206",
            DeriveHex(SymmetricKey::AES, "password", "salt", 1, 128));
  EXPECT_EQ(
      "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038b6b89a48612c5a",
      DeriveHex(SymmetricKey::AES, "passwordPASSWORDpassword",
                "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 256));
  EXPECT_EQ("null", DeriveHex(SymmetricKey::AES, "password", "salt", 1, 192));
  EXPECT_EQ("null", DeriveHex(SymmetricKey::AES, "password", "salt", 1, 0));
  EXPECT_EQ("null", DeriveHex(SymmetricKey::AES, "password", "salt", 1, 127));
}

TEST(SymmetricKeyTest, SmallAndOddSizes) {
  EXPECT_EQ("null", DeriveHex(kAnySize, "password", "salt", 1, 0));
  EXPECT_EQ("null", DeriveHex(kAnySize, "password", "salt", 1, 7));
  EXPECT_EQ("0c", DeriveHex(kAnySize, "password", "salt", 1, 8));
  // A remainder of bits is dropped.
  EXPECT_EQ("0c60", DeriveHex(kAnySize, "password", "salt", 1, 23));
}

TEST(SymmetricKeyTest, EmptyPassword) {
  std::unique_ptr<SymmetricKey> key = SymmetricKey::DeriveKeyFromPassword(
      SymmetricKey::AES, std::string(), "salt", 5, 128);
  ASSERT_TRUE(key);
  EXPECT_EQ(16u, key->key().size());
  EXPECT_EQ("1d2f3f8365768b514033214b4c712f4b",
            base::ToLowerASCII(
                base::HexEncode(key->key().data(), key->key().size())));
}

TEST(SymmetricKeyTest, LibraryRefusalsGiveNull) {
  // The library takes neither an empty salt nor zero iterations; either
  // failure must come back as a null key, not a half-made one.
  EXPECT_EQ("null", DeriveHex(SymmetricKey::AES, "password", "", 1, 128));
  EXPECT_EQ("null", DeriveHex(SymmetricKey::AES, "password", "salt", 0, 128));
  // And the library is still usable afterwards.
  EXPECT_EQ("0c60c80f961f0e71f3a9b524af601206",
            DeriveHex(SymmetricKey::AES, "password", "salt", 1, 128));
}

}  // namespace
}  // namespace crypto
