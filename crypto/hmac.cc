#include "crypto/hmac.h"

#include <gcrypt.h>
#include <string.h>

#include "base/check.h"
#include "crypto/crypto_init.h"
#include "crypto/symmetric_key.h"

namespace crypto {

namespace {

// The largest digest the library may write for an HMAC: short caller buffers
// are filled through a private buffer of this size.
constexpr size_t kMaxDigestSize = 64;

void ZeroBytes(void* p, size_t len) {
  volatile unsigned char* bytes = static_cast<volatile unsigned char*>(p);
  while (len--)
    *bytes++ = 0;
}

}  // namespace

HMAC::HMAC(HashAlgorithm hash_alg) : hash_alg_(hash_alg), initialized_(false) {}

HMAC::~HMAC() {
  // The key must not linger in freed memory.
  if (!key_.empty())
    ZeroBytes(key_.data(), key_.size());
  key_.clear();
  key_.shrink_to_fit();
}

size_t HMAC::DigestLength() const {
  switch (hash_alg_) {
    case SHA1:
      return 20;
    case SHA256:
      return 32;
  }
  return 0;
}

bool HMAC::Init(const SymmetricKey* key) {
  const std::string& bytes = key->key();
  key_.assign(bytes.begin(), bytes.end());
  initialized_ = true;
  return true;
}

bool HMAC::Sign(base::StringPiece data,
                unsigned char* digest,
                size_t digest_length) const {
  DCHECK(initialized_);
  EnsureCryptoInit();
  const int algo = hash_alg_ == SHA1 ? GCRY_MD_SHA1 : GCRY_MD_SHA256;
  const size_t full_length = gcry_md_get_algo_dlen(algo);
  DCHECK(digest_length <= full_length);

  // The library's one-shot form takes the key as the first buffer. It reads
  // nothing from an empty buffer, but still wants a valid address.
  static unsigned char nothing = 0;
  gcry_buffer_t buffers[2];
  memset(buffers, 0, sizeof(buffers));
  buffers[0].data =
      key_.empty() ? &nothing : const_cast<unsigned char*>(key_.data());
  buffers[0].len = key_.size();
  buffers[0].size = key_.size();
  buffers[1].data = data.empty() ? static_cast<void*>(&nothing)
                                 : const_cast<char*>(data.data());
  buffers[1].len = data.size();
  buffers[1].size = data.size();

  unsigned char result[kMaxDigestSize];
  unsigned char* out = digest_length < kMaxDigestSize ? result : digest;
  const bool ok =
      gcry_md_hash_buffers(algo, GCRY_MD_FLAG_HMAC, out, buffers, 2) == 0;
  if (out == result) {
    if (ok)
      memcpy(digest, result,
             digest_length < full_length ? digest_length : full_length);
    ZeroBytes(result, sizeof(result));
  }
  return ok;
}

}  // namespace crypto
