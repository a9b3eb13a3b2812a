#ifndef CRYPTO_HMAC_H_
#define CRYPTO_HMAC_H_

#include <stddef.h>

#include <vector>

#include "base/macros.h"
#include "base/strings/string_piece.h"

namespace crypto {

class SymmetricKey;

// Keyed hashing (HMAC) with SHA-1 or SHA-256.
class HMAC {
 public:
  enum HashAlgorithm {
    SHA1 = 0,
    SHA256 = 1,
  };

  explicit HMAC(HashAlgorithm hash_alg);
  // Zeroes the key bytes before they are released.
  ~HMAC();

  // Digest bytes of the algorithm: 20 for SHA1, 32 for SHA256, else 0.
  size_t DigestLength() const;

  // Takes a copy of the key's bytes. Always succeeds.
  [[nodiscard]] bool Init(const SymmetricKey* key);

  // Writes the first |digest_length| bytes (at most DigestLength()) of the
  // HMAC of |data| to |digest|. False when the library failed; the digest is
  // then undefined.
  [[nodiscard]] bool Sign(base::StringPiece data,
                          unsigned char* digest,
                          size_t digest_length) const;

 private:
  HashAlgorithm hash_alg_;
  bool initialized_;
  std::vector<unsigned char> key_;

  DISALLOW_COPY_AND_ASSIGN(HMAC);
};

}  // namespace crypto

#endif  // CRYPTO_HMAC_H_
