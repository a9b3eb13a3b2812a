#include "base/unguessable_token.h"

#include "base/rand_util.h"

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
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text(32, '0');
  for (int i = 0; i < 16; ++i) {
    const int shift = 60 - 4 * i;
    text[i] = kDigits[(high_ >> shift) & 0xF];
    text[16 + i] = kDigits[(low_ >> shift) & 0xF];
  }
  return text;
}

}  // namespace base
