#include "base/rand_util.h"

#include <windows.h>
#include <stdint.h>

#include <algorithm>
#include <limits>

#include "base/check.h"

// The system generator (exported by advapi32 as SystemFunction036, documented
// as RtlGenRandom). Declared here because the SDK header only declares it
// under a name that needs extra setup.
extern "C" BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);

namespace base {

void RandBytes(void* output, size_t output_length) {
  char* out = static_cast<char*>(output);
  while (output_length > 0) {
    const ULONG chunk = static_cast<ULONG>(
        std::min<size_t>(output_length, std::numeric_limits<ULONG>::max()));
    const bool success = SystemFunction036(out, chunk) != FALSE;
    CHECK(success);
    out += chunk;
    output_length -= chunk;
  }
}

int RandInt(int min, int max) {
  CHECK(min <= max);
  // Widening both ends with their sign makes the span of the full int range
  // (2^32) representable.
  const uint64_t range = static_cast<uint64_t>(static_cast<int64_t>(max) -
                                               static_cast<int64_t>(min) + 1);
  // Values above the largest multiple of |range| would favour the low
  // results; draw again instead.
  const uint64_t kMax = std::numeric_limits<uint64_t>::max();
  const uint64_t limit = kMax - 1 - (kMax % range);
  uint64_t value;
  do {
    RandBytes(&value, sizeof(value));
  } while (value > limit);
  return static_cast<int>(static_cast<int64_t>(min) +
                          static_cast<int64_t>(value % range));
}

}  // namespace base
