#include "crypto/hmac.h"

#include <string.h>

#include <memory>
#include <string>

#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "crypto/symmetric_key.h"
#include "gtest/gtest.h"

namespace crypto {
namespace {

std::string Hex(const unsigned char* bytes, size_t size) {
  return base::ToLowerASCII(base::HexEncode(bytes, size));
}

struct Vector {
  std::string key;
  std::string data;
  const char* digest;  // Hex of the full digest.
};

std::string Bytes(size_t count, char byte) {
  return std::string(count, byte);
}

std::string Counting(size_t count) {
  std::string s;
  for (size_t i = 1; i <= count; ++i)
    s.push_back(static_cast<char>(i));
  return s;
}

std::string SignHex(HMAC::HashAlgorithm alg,
                    const std::string& key,
                    const std::string& data,
                    size_t length) {
  std::unique_ptr<SymmetricKey> sym = SymmetricKey::CreateForTesting(key);
  HMAC hmac(alg);
  EXPECT_TRUE(hmac.Init(sym.get()));
  unsigned char digest[64];
  if (!hmac.Sign(data, digest, length))
    return "failed";
  return Hex(digest, length);
}

TEST(HMACTest, DigestLength) {
  EXPECT_EQ(20u, HMAC(HMAC::SHA1).DigestLength());
  EXPECT_EQ(32u, HMAC(HMAC::SHA256).DigestLength());
  EXPECT_EQ(0u, HMAC(static_cast<HMAC::HashAlgorithm>(7)).DigestLength());
}

// RFC 4231, test cases 1-4, 6 and 7 (case 5 is the truncation one, below).
TEST(HMACTest, SHA256Vectors) {
  const std::string kLongData =
      "This is a test using a larger than block-size key and a larger than "
      "block-size data. The key needs to be hashed before being used by the "
      "HMAC algorithm.";
  const Vector kVectors[] = {
      {Bytes(20, 0x0b), "Hi There",
       "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
      {"Jefe", "what do ya want for nothing?",
       "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
      {Bytes(20, '\xaa'), Bytes(50, '\xdd'),
       "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
      {Counting(25), Bytes(50, '\xcd'),
       "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
      {Bytes(131, '\xaa'),
       "Test Using Larger Than Block-Size Key - Hash Key First",
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
      {Bytes(131, '\xaa'), kLongData,
       "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
  };
  for (const Vector& v : kVectors)
    EXPECT_EQ(v.digest, SignHex(HMAC::SHA256, v.key, v.data, 32)) << v.data;
}

TEST(HMACTest, SHA256Truncation) {
  // RFC 4231 test case 5: the digest truncated to 128 bits.
  EXPECT_EQ("a3b6167473100ee06e0c796c2955552b",
            SignHex(HMAC::SHA256, Bytes(20, 0x0c), "Test With Truncation", 16));
}

// RFC 2202, HMAC-SHA-1 test cases 1-7.
TEST(HMACTest, SHA1Vectors) {
  const Vector kVectors[] = {
      {Bytes(20, 0x0b), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
      {"Jefe", "what do ya want for nothing?",
       "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
      {Bytes(20, '\xaa'), Bytes(50, '\xdd'),
       "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
      {Counting(25), Bytes(50, '\xcd'),
       "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
      {Bytes(20, 0x0c), "Test With Truncation",
       "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
      {Bytes(80, '\xaa'),
       "Test Using Larger Than Block-Size Key - Hash Key First",
       "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
      {Bytes(80, '\xaa'),
       "Test Using Larger Than Block-Size Key and Larger Than One "
       "Block-Size Data",
       "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
  };
  for (const Vector& v : kVectors)
    EXPECT_EQ(v.digest, SignHex(HMAC::SHA1, v.key, v.data, 20)) << v.data;
}

TEST(HMACTest, ShortDigestIsPrefixAndWritesNothingBeyond) {
  const std::string key = Bytes(20, 0x0b);
  unsigned char digest[32];
  memset(digest, 0x77, sizeof(digest));
  std::unique_ptr<SymmetricKey> sym = SymmetricKey::CreateForTesting(key);
  HMAC hmac(HMAC::SHA256);
  ASSERT_TRUE(hmac.Init(sym.get()));
  ASSERT_TRUE(hmac.Sign("Hi There", digest, 10));
  EXPECT_EQ("b0344c61d8db38535ca8", Hex(digest, 10));
  for (size_t i = 10; i < sizeof(digest); ++i)
    EXPECT_EQ(0x77, digest[i]) << i;

  EXPECT_EQ("b617318655057264e28b", SignHex(HMAC::SHA1, key, "Hi There", 10));
}

TEST(HMACTest, EmptyKeyAndData) {
  EXPECT_EQ("b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad",
            SignHex(HMAC::SHA256, std::string(), std::string(), 32));
}

TEST(HMACTest, UnknownAlgorithmSignsWithSHA256) {
  EXPECT_EQ("b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7",
            SignHex(static_cast<HMAC::HashAlgorithm>(7), Bytes(20, 0x0b),
                    "Hi There", 32));
}

TEST(HMACTest, KeyedFromDerivedKey) {
  // The statistics signature's way: a derived 128-bit key, then SHA-256.
  std::unique_ptr<SymmetricKey> key = SymmetricKey::DeriveKeyFromPassword(
      SymmetricKey::AES, "password", "salt", 5, 128);
  ASSERT_TRUE(key);
  HMAC hmac(HMAC::SHA256);
  ASSERT_TRUE(hmac.Init(key.get()));
  unsigned char a[32], b[32];
  ASSERT_TRUE(hmac.Sign("message", a, sizeof(a)));
  EXPECT_EQ(Hex(a, 32), SignHex(HMAC::SHA256, key->key(), "message", 32));
  // Signing is repeatable and the key survives the signer's other uses.
  ASSERT_TRUE(hmac.Sign("message", b, sizeof(b)));
  EXPECT_EQ(0, memcmp(a, b, sizeof(a)));
}

}  // namespace
}  // namespace crypto
