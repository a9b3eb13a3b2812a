#ifndef BASE_THREADING_PLATFORM_THREAD_H_
#define BASE_THREADING_PLATFORM_THREAD_H_

#include <stdint.h>

namespace base {

// The kernel id of a thread (GetCurrentThreadId); never 0 for a live thread.
typedef uint32_t PlatformThreadId;

// Thread facilities that need no object.
class PlatformThread {
 public:
  PlatformThread() = delete;

  // The calling thread's kernel id.
  static PlatformThreadId CurrentId();
};

}  // namespace base

#endif  // BASE_THREADING_PLATFORM_THREAD_H_
