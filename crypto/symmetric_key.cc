#include "crypto/symmetric_key.h"

#include <gcrypt.h>

#include "base/strings/string_util.h"
#include "crypto/crypto_init.h"

namespace crypto {

SymmetricKey::~SymmetricKey() {
  // Overwrite every key byte before the string gives its memory back.
  if (!key_.empty()) {
    volatile char* bytes = &key_[0];
    for (size_t i = 0; i < key_.size(); ++i)
      bytes[i] = 0;
  }
}

// static
std::unique_ptr<SymmetricKey> SymmetricKey::CreateForTesting(
    const std::string& raw_key) {
  std::unique_ptr<SymmetricKey> key(new SymmetricKey());
  key->key_ = raw_key;
  return key;
}

// static
std::unique_ptr<SymmetricKey> SymmetricKey::DeriveKeyFromPassword(
    Algorithm algorithm,
    const std::string& password,
    const std::string& salt,
    size_t iterations,
    size_t key_size_in_bits) {
  if (algorithm == AES && key_size_in_bits != 128 && key_size_in_bits != 256)
    return nullptr;
  if (key_size_in_bits < 8)
    return nullptr;
  const size_t key_size_in_bytes = key_size_in_bits / 8;

  // The library reports a failure only through its return value: it keeps
  // no per-thread error record that would need clearing afterwards.
  EnsureCryptoInit();

  std::unique_ptr<SymmetricKey> key(new SymmetricKey());
  char* key_data = base::WriteInto(&key->key_, key_size_in_bytes + 1);
  // std::string::data() of an empty string is still a valid address, which
  // the library insists on even for an empty password.
  const gpg_error_t rv = gcry_kdf_derive(
      password.data(), password.size(), GCRY_KDF_PBKDF2, GCRY_MD_SHA1,
      salt.data(), salt.size(), iterations, key_size_in_bytes, key_data);
  if (rv != 0)
    return nullptr;  // The key's destructor zeroes what was written.
  return key;
}

}  // namespace crypto
