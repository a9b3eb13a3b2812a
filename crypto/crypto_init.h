#ifndef CRYPTO_CRYPTO_INIT_H_
#define CRYPTO_CRYPTO_INIT_H_

namespace crypto {

// Initialises the cryptographic library for this process. Safe to call from
// any thread, any number of times; only the first call does the work and
// every other caller waits until it is done.
void EnsureCryptoInit();

}  // namespace crypto

#endif  // CRYPTO_CRYPTO_INIT_H_
