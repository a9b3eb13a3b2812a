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

// RFC 6070 (PBKDF2-HMAC-SHA1; the 2^24-iteration case is left out for time)
// at several sizes: the AES sizes give the leading bytes of the same
// derivation, a remainder of bits is dropped, and the library's refusals
// (empty salt, zero iterations) come back as a null key, after which the
// library is still usable.
TEST(SymmetricKeyTest, Derivations) {
  const SymmetricKey::Algorithm kAES = SymmetricKey::AES;
  const std::string kLongPassword = "passwordPASSWORDpassword";
  const std::string kLongSalt = "saltSALTsaltSALTsaltSALTsaltSALTsalt";
  const struct {
    SymmetricKey::Algorithm algorithm;
    std::string password;
    std::string salt;
    size_t iterations;
    size_t bits;
    const char* expected;
  } kCases[] = {
      {kAnySize, "password", "salt", 1, 160,
       "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
      {kAnySize, "password", "salt", 2, 160,
       "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
      {kAnySize, "password", "salt", 4096, 160,
       "4b007901b765489abead49d926f721d065a429c1"},
      {kAnySize, kLongPassword, kLongSalt, 4096, 200,
       "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
      {kAnySize, std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096,
       128, "56fa6aa75548099dcc37d7f03425e0c3"},
      {kAES, "password", "salt", 1, 128, "0c60c80f961f0e71f3a9b524af601206"},
      {kAES, kLongPassword, kLongSalt, 4096, 256,
       "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038b6b89a48612c5a"},
      {kAES, "password", "salt", 1, 192, "null"},
      {kAES, "password", "salt", 1, 0, "null"},
      {kAES, "password", "salt", 1, 127, "null"},
      {kAnySize, "password", "salt", 1, 0, "null"},
      {kAnySize, "password", "salt", 1, 7, "null"},
      {kAnySize, "password", "salt", 1, 8, "0c"},
      {kAnySize, "password", "salt", 1, 23, "0c60"},
      {kAES, "", "salt", 5, 128, "1d2f3f8365768b514033214b4c712f4b"},
      {kAES, "password", "", 1, 128, "null"},
      {kAES, "password", "salt", 0, 128, "null"},
      {kAES, "password", "salt", 1, 128, "0c60c80f961f0e71f3a9b524af601206"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.expected,
              DeriveHex(c.algorithm, c.password, c.salt, c.iterations, c.bits))
        << c.password << " " << c.salt << " " << c.iterations << " " << c.bits;
  }
}

}  // namespace
}  // namespace crypto
