#ifndef BASE_TIME_TIME_OVERRIDE_H_
#define BASE_TIME_TIME_OVERRIDE_H_

#include <atomic>

#include "base/macros.h"
#include "base/time/time.h"

namespace base {

using TimeNowFunction = Time (*)();
using TimeTicksNowFunction = TimeTicks (*)();
using ThreadTicksNowFunction = ThreadTicks (*)();

namespace internal {

// The process-wide now-functions that Time::Now, Time::NowFromSystemTime,
// TimeTicks::Now and ThreadTicks::Now call through. Each starts at the
// platform implementation; TimeTicks::Now's is replaced by the chosen tick
// source once it is known, unless a test has replaced it.
extern std::atomic<TimeNowFunction> g_time_now_function;
extern std::atomic<TimeNowFunction> g_time_now_from_system_time_function;
extern std::atomic<TimeTicksNowFunction> g_time_ticks_now_function;
extern std::atomic<ThreadTicksNowFunction> g_thread_ticks_now_function;

}  // namespace internal

namespace subtle {

// Test only: while alive, Time::Now (and Time::NowFromSystemTime),
// TimeTicks::Now and ThreadTicks::Now answer with the given functions; a
// null function leaves that clock as it is. Lets tests move time forward
// without waiting for it. Overrides nest and must be destroyed in reverse
// order of creation; the functions must be callable from any thread.
class ScopedTimeClockOverrides {
 public:
  ScopedTimeClockOverrides(TimeNowFunction time_override,
                           TimeTicksNowFunction time_ticks_override,
                           ThreadTicksNowFunction thread_ticks_override);
  ~ScopedTimeClockOverrides();

 private:
  TimeNowFunction previous_time_now_;
  TimeNowFunction previous_time_now_from_system_time_;
  TimeTicksNowFunction previous_time_ticks_now_;
  ThreadTicksNowFunction previous_thread_ticks_now_;

  DISALLOW_COPY_AND_ASSIGN(ScopedTimeClockOverrides);
};

// The platform clocks, whatever is overridden: for overrides that want to
// build on the real time.
Time TimeNowIgnoringOverride();
Time TimeNowFromSystemTimeIgnoringOverride();
TimeTicks TimeTicksNowIgnoringOverride();
ThreadTicks ThreadTicksNowIgnoringOverride();

}  // namespace subtle
}  // namespace base

#endif  // BASE_TIME_TIME_OVERRIDE_H_
