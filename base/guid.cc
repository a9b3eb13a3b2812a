#include "base/guid.h"

#include <stdint.h>

#include "base/rand_util.h"
#include "base/strings/stringprintf.h"

namespace base {

std::string GenerateGUID() {
  unsigned char bytes[16];
  RandBytes(bytes, sizeof(bytes));
  uint64_t w0 = 0;
  uint64_t w1 = 0;
  for (int i = 7; i >= 0; --i) {
    w0 = (w0 << 8) | bytes[i];
    w1 = (w1 << 8) | bytes[8 + i];
  }
  w0 = (w0 & 0xFFFFFFFFFFFF0FFFULL) | 0x4000ULL;
  w1 = (w1 & 0x3FFFFFFFFFFFFFFFULL) | 0x8000000000000000ULL;
  return StringPrintf("%08x-%04x-%04x-%04x-%012llx",
                      static_cast<unsigned int>(w0 >> 32),
                      static_cast<unsigned int>((w0 >> 16) & 0xFFFF),
                      static_cast<unsigned int>(w0 & 0xFFFF),
                      static_cast<unsigned int>(w1 >> 48),
                      static_cast<unsigned long long>(w1 & 0xFFFFFFFFFFFFULL));
}

}  // namespace base
