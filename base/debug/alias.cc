#include "base/debug/alias.h"

namespace base {
namespace debug {

// Out of line and opaque: the optimiser cannot see that nothing happens.
__attribute__((noinline)) void Alias(const void* var) {
  __asm__ volatile("" : : "r"(var) : "memory");
}

}  // namespace debug
}  // namespace base
