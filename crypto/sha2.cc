#include "crypto/sha2.h"

#include <memory>

#include "crypto/secure_hash.h"

namespace crypto {

void SHA256HashString(base::StringPiece str, void* output, size_t len) {
  std::unique_ptr<SecureHash> ctx(SecureHash::Create(SecureHash::SHA256));
  ctx->Update(str.data(), str.size());
  ctx->Finish(output, len);
}

std::string SHA256HashString(base::StringPiece str) {
  std::string output(kSHA256Length, 0);
  SHA256HashString(str, &output[0], output.size());
  return output;
}

}  // namespace crypto
