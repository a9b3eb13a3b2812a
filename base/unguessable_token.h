#ifndef BASE_UNGUESSABLE_TOKEN_H_
#define BASE_UNGUESSABLE_TOKEN_H_

#include <stdint.h>

#include <string>

namespace base {

// A 128-bit value drawn from the system's cryptographic random source, for
// names that another process must not be able to guess. The all-zero value
// is the empty token, which Create never gives.
class UnguessableToken {
 public:
  // The empty token.
  constexpr UnguessableToken() = default;

  static UnguessableToken Create();
  // A token received from elsewhere; (0, 0) is the empty token.
  static UnguessableToken Deserialize(uint64_t high, uint64_t low);

  uint64_t GetHighForSerialization() const { return high_; }
  uint64_t GetLowForSerialization() const { return low_; }

  bool is_empty() const { return high_ == 0 && low_ == 0; }

  // 32 upper-case hexadecimal digits, the high half first. Every half is
  // printed at full width: with variable widths two tokens could share a
  // text (1|23 and 12|3).
  std::string ToString() const;

  bool operator==(const UnguessableToken& other) const {
    return high_ == other.high_ && low_ == other.low_;
  }
  bool operator!=(const UnguessableToken& other) const {
    return !(*this == other);
  }

 private:
  constexpr UnguessableToken(uint64_t high, uint64_t low)
      : high_(high), low_(low) {}

  uint64_t high_ = 0;
  uint64_t low_ = 0;
};

}  // namespace base

#endif  // BASE_UNGUESSABLE_TOKEN_H_
