#ifndef CRYPTO_SECURE_HASH_H_
#define CRYPTO_SECURE_HASH_H_

#include <stddef.h>

#include <memory>

namespace crypto {

// A streaming cryptographic hash: feed it with Update, read the digest once
// with Finish.
class SecureHash {
 public:
  enum Algorithm {
    SHA256 = 0,
  };

  virtual ~SecureHash() {}

  // Null, after logging, for an algorithm that is not implemented.
  static std::unique_ptr<SecureHash> Create(Algorithm type);

  virtual void Update(const void* input, size_t len) = 0;
  // Writes the first |len| bytes of the digest; |len| must not exceed
  // GetHashLength().
  virtual void Finish(void* output, size_t len) = 0;
  virtual size_t GetHashLength() const = 0;
  // A new, independent hasher that continues from the current state.
  virtual std::unique_ptr<SecureHash> Clone() const = 0;

 protected:
  SecureHash() {}

 private:
  SecureHash(const SecureHash&) = delete;
  SecureHash& operator=(const SecureHash&) = delete;
};

}  // namespace crypto

#endif  // CRYPTO_SECURE_HASH_H_
