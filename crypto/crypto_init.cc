#include "crypto/crypto_init.h"

#include <gcrypt.h>

#include "base/check.h"

namespace crypto {

namespace {

bool InitLibrary() {
  // Checking the version is what initialises the library; a library older
  // than the headers we were built against would misread our calls.
  CHECK(gcry_check_version(GCRYPT_VERSION) != nullptr);
  // Keys here are short-lived and wiped by their owners; locked secure
  // memory needs privileges that an installer does not have and would only
  // print warnings.
  gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
  gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  return true;
}

}  // namespace

void EnsureCryptoInit() {
  // A function-local static is initialised exactly once, and concurrent
  // callers block until that initialisation has finished.
  static const bool initialised = InitLibrary();
  (void)initialised;
}

}  // namespace crypto
