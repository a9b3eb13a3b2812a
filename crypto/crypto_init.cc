#include "crypto/crypto_init.h"

#include <gcrypt.h>
#include <stdlib.h>

#include <string>

#include "base/check.h"

namespace crypto {

namespace {

const char kForceFipsVariable[] = "LIBGCRYPT_FORCE_FIPS_MODE";

bool InitLibrary() {
  // The library switches to FIPS mode when LIBGCRYPT_FORCE_FIPS_MODE is set
  // while it initialises; in that mode it refuses PBKDF2 with short
  // passwords and HMAC with short keys, which callers of this glue rely on.
  // Any user can set the variable, so it must not decide what this process
  // computes. The library's own command for this (GCRYCTL_NO_FIPS_MODE) is
  // given, but the library version we ship ignores it when the variable is
  // set, so the variable is also hidden from the library's getenv (the C
  // runtime's copy of the environment) while it initialises, and put back
  // afterwards for the rest of the process and its children.
  const char* forced = getenv(kForceFipsVariable);
  const bool had_forced = forced != nullptr;
  const std::string forced_value = had_forced ? forced : "";
  if (had_forced)
    _putenv((std::string(kForceFipsVariable) + "=").c_str());
  gcry_control(GCRYCTL_NO_FIPS_MODE, 0);

  // Checking the version is what initialises the library; a library older
  // than the headers we were built against would misread our calls.
  CHECK(gcry_check_version(GCRYPT_VERSION) != nullptr);
  // Keys here are short-lived and wiped by their owners; locked secure
  // memory needs privileges that an installer does not have and would only
  // print warnings.
  gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
  gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  if (had_forced)
    _putenv((std::string(kForceFipsVariable) + "=" + forced_value).c_str());
  // Should a later library find another way into FIPS mode, every
  // derivation would fail far from the cause; stop here instead.
  CHECK(!gcry_fips_mode_active());
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
