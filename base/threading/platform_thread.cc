#include "base/threading/platform_thread.h"

#include <windows.h>

namespace base {

// static
PlatformThreadId PlatformThread::CurrentId() {
  return static_cast<PlatformThreadId>(::GetCurrentThreadId());
}

}  // namespace base
