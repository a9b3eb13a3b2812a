#include "base/time/time_override.h"

namespace base {
namespace subtle {

ScopedTimeClockOverrides::ScopedTimeClockOverrides(
    TimeNowFunction time_override,
    TimeTicksNowFunction time_ticks_override,
    ThreadTicksNowFunction thread_ticks_override)
    : previous_time_now_(internal::g_time_now_function.load()),
      previous_time_now_from_system_time_(
          internal::g_time_now_from_system_time_function.load()),
      previous_time_ticks_now_(internal::g_time_ticks_now_function.load()),
      previous_thread_ticks_now_(internal::g_thread_ticks_now_function.load()) {
  if (time_override) {
    internal::g_time_now_function.store(time_override);
    internal::g_time_now_from_system_time_function.store(time_override);
  }
  if (time_ticks_override)
    internal::g_time_ticks_now_function.store(time_ticks_override);
  if (thread_ticks_override)
    internal::g_thread_ticks_now_function.store(thread_ticks_override);
}

ScopedTimeClockOverrides::~ScopedTimeClockOverrides() {
  internal::g_time_now_function.store(previous_time_now_);
  internal::g_time_now_from_system_time_function.store(
      previous_time_now_from_system_time_);
  internal::g_time_ticks_now_function.store(previous_time_ticks_now_);
  internal::g_thread_ticks_now_function.store(previous_thread_ticks_now_);
}

}  // namespace subtle
}  // namespace base
