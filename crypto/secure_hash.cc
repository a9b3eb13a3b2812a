#include "crypto/secure_hash.h"

#include <gcrypt.h>
#include <string.h>

#include "base/check.h"
#include "base/logging.h"
#include "crypto/crypto_init.h"

namespace crypto {

namespace {

constexpr size_t kSHA256DigestLength = 32;

class SecureHashSHA256 : public SecureHash {
 public:
  SecureHashSHA256() {
    EnsureCryptoInit();
    CHECK(gcry_md_open(&context_, GCRY_MD_SHA256, 0) == 0);
  }

  // The library wipes the hashing state before it frees it.
  ~SecureHashSHA256() override { gcry_md_close(context_); }

  void Update(const void* input, size_t len) override {
    if (len)
      gcry_md_write(context_, input, len);
  }

  void Finish(void* output, size_t len) override;
  size_t GetHashLength() const override { return kSHA256DigestLength; }

  std::unique_ptr<SecureHash> Clone() const override {
    return std::unique_ptr<SecureHash>(new SecureHashSHA256(context_));
  }

 private:
  explicit SecureHashSHA256(gcry_md_hd_t other) {
    CHECK(gcry_md_copy(&context_, other) == 0);
  }

  static void SecureZero(void* p, size_t len) {
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(p);
    while (len--)
      *bytes++ = 0;
  }

  gcry_md_hd_t context_ = nullptr;
};

}  // namespace

std::unique_ptr<SecureHash> SecureHash::Create(Algorithm algorithm) {
  if (algorithm == SHA256)
    return std::unique_ptr<SecureHash>(new SecureHashSHA256());
  // The statement names its file as a path from the source root rather than
  // the build machine's path, so that the line reads the same from every
  // build.
  if (base::logging::ShouldCreateLogMessage(base::logging::LOG_ERROR)) {
    base::logging::LogMessage("crypto/secure_hash", __LINE__,
                              base::logging::LOG_ERROR)
            .stream()
        << "NOT IMPLEMENTED";
  }
  return nullptr;
}

void SecureHashSHA256::Finish(void* output, size_t len) {
  DCHECK(len <= kSHA256DigestLength);
  const unsigned char* digest = gcry_md_read(context_, GCRY_MD_SHA256);
  CHECK(digest);
  if (len < kSHA256DigestLength) {
    // Truncated through a buffer of our own, wiped afterwards, so that no
    // digest bytes beyond what the caller asked for are handed out.
    unsigned char result[kSHA256DigestLength];
    memcpy(result, digest, sizeof(result));
    memcpy(output, result, len);
    SecureZero(result, sizeof(result));
  } else {
    memcpy(output, digest, kSHA256DigestLength);
  }
}

}  // namespace crypto
