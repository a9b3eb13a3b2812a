#ifndef CRYPTO_SHA2_H_
#define CRYPTO_SHA2_H_

#include <stddef.h>

#include <string>

#include "base/strings/string_piece.h"

namespace crypto {

static const size_t kSHA256Length = 32;  // Bytes of a SHA-256 digest.

// Writes the first |len| bytes (at most kSHA256Length) of the SHA-256 of
// |str| to |output|.
void SHA256HashString(base::StringPiece str, void* output, size_t len);

// The 32-byte binary SHA-256 of |str|.
std::string SHA256HashString(base::StringPiece str);

}  // namespace crypto

#endif  // CRYPTO_SHA2_H_
