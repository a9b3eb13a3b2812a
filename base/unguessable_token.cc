#include "base/unguessable_token.h"

#include "base/rand_util.h"
#include "base/strings/stringprintf.h"

namespace base {

// static
UnguessableToken UnguessableToken::Create() {
  uint64_t halves[2] = {};
  // Zero in 128 random bits does not happen; the loop keeps the promise
  // that Create never answers the empty token regardless.
  while (halves[0] == 0 && halves[1] == 0)
    RandBytes(halves, sizeof(halves));
  return UnguessableToken(halves[0], halves[1]);
}

// static
UnguessableToken UnguessableToken::Deserialize(uint64_t high, uint64_t low) {
  return UnguessableToken(high, low);
}

std::string UnguessableToken::ToString() const {
  return StringPrintf("%016llX%016llX", static_cast<unsigned long long>(high_),
                      static_cast<unsigned long long>(low_));
}

}  // namespace base
