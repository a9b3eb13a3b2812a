#ifndef CRYPTO_SYMMETRIC_KEY_H_
#define CRYPTO_SYMMETRIC_KEY_H_

#include <stddef.h>

#include <memory>
#include <string>

#include "base/macros.h"

namespace crypto {

// Key material for symmetric algorithms. The bytes are zeroed before their
// memory is released.
class SymmetricKey {
 public:
  enum Algorithm {
    AES = 0,
  };

  virtual ~SymmetricKey();

  // Derives a key of |key_size_in_bits| / 8 bytes from |password| and |salt|
  // with PBKDF2-HMAC-SHA1. Null when the size does not suit |algorithm|
  // (AES takes 128 or 256 bits), is below 8 bits, or the derivation failed
  // (the library refuses an empty salt and zero iterations).
  [[nodiscard]] static std::unique_ptr<SymmetricKey> DeriveKeyFromPassword(
      Algorithm algorithm,
      const std::string& password,
      const std::string& salt,
      size_t iterations,
      size_t key_size_in_bits);

  // A key holding exactly |raw_key|, so that tests can use published
  // vectors whose keys no derivation gives.
  static std::unique_ptr<SymmetricKey> CreateForTesting(
      const std::string& raw_key);

  const std::string& key() const { return key_; }

 private:
  SymmetricKey() {}

  std::string key_;

  DISALLOW_COPY_AND_ASSIGN(SymmetricKey);
};

}  // namespace crypto

#endif  // CRYPTO_SYMMETRIC_KEY_H_
