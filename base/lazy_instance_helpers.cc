#include "base/lazy_instance_helpers.h"

#include <windows.h>

#include "base/at_exit.h"
#include "base/threading/platform_thread.h"
#include "base/time/time.h"

namespace base {
namespace internal {

bool NeedsLazyInstance(LazyInstanceState* state) {
  uintptr_t expected = kLazyInstanceStateNone;
  if (state->compare_exchange_strong(expected, kLazyInstanceStateCreating,
                                     std::memory_order_acquire,
                                     std::memory_order_acquire)) {
    return true;
  }
  if (expected != kLazyInstanceStateCreating)
    return false;

  // Creation is usually quick: give the creator the processor for the first
  // millisecond, then stop burning it.
  const TimeTicks start = TimeTicks::Now();
  while (state->load(std::memory_order_acquire) == kLazyInstanceStateCreating) {
    if (TimeTicks::Now() - start < TimeDelta::FromMilliseconds(1))
      PlatformThread::YieldCurrentThread();
    else
      PlatformThread::Sleep(TimeDelta::FromMilliseconds(1));
  }
  return false;
}

void CompleteLazyInstance(LazyInstanceState* state,
                          uintptr_t new_instance,
                          void (*destructor)(void*),
                          void* destructor_arg) {
  state->store(new_instance, std::memory_order_release);
  if (new_instance && destructor)
    AtExitManager::RegisterCallback(destructor, destructor_arg);
}

}  // namespace internal
}  // namespace base
