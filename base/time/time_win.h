#ifndef BASE_TIME_TIME_WIN_H_
#define BASE_TIME_TIME_WIN_H_

// The Windows clocks' moving parts, for the clocks themselves and for tests
// that drive them with made-up readings.

#include <windows.h>

#include <stdint.h>

#include "base/macros.h"
#include "base/time/time.h"

namespace base {

class CPU;

namespace internal {

using TickSourceFunction = TimeTicks (*)();

// The system calls the clocks make.
struct TimeSystemCalls {
  DWORD(WINAPI* time_get_time)();
  void(WINAPI* get_system_time_as_file_time)(FILETIME*);
  BOOL(WINAPI* query_performance_frequency)(LARGE_INTEGER*);
  BOOL(WINAPI* query_performance_counter)(LARGE_INTEGER*);
  UINT(WINAPI* time_begin_period)(UINT);
  UINT(WINAPI* time_end_period)(UINT);
};

// The real ones.
const TimeSystemCalls& RealTimeSystemCalls();

// The tick-source pointer's first value: chooses the tick source, makes it
// the source for every later reading and returns its reading.
TimeTicks SelectTickSource();
// The high-resolution performance counter, scaled by the frequency stored
// at selection.
TimeTicks PerformanceCounterNow();
// timeGetTime's millisecond count extended past its 32-bit wrap.
TimeTicks ExtendedTickCountNow();

// The choice SelectTickSource makes for a performance-counter |frequency|
// (0 when unavailable) on |cpu|: the performance counter needs an invariant
// time-stamp counter, and is never trusted on AMD's family 0Fh-based parts.
TickSourceFunction ChooseTickSource(int64_t frequency, const CPU& cpu);
// Whether thread CPU time can be measured on |cpu|.
bool IsThreadTicksSupportedBy(const CPU& cpu);

// Time-stamp-counter ticks per second, measured against the performance
// counter; 0 until 50 ms have passed since the first attempt.
double TimeStampCounterFrequency();

// Test only: while alive, the clocks make |calls| instead of the system's and,
// when |tick_source| is not null, read it as their tick source (TimeTicks::Now
// included). The clocks' state starts afresh: no wall-clock
// synchronisation yet, a zero rollover word, no timer-period activation, no
// time-stamp-counter measurement. Everything is restored at destruction. Not
// to be nested; other threads must not read the clocks meanwhile.
class ScopedTimeWinOverrideForTesting {
 public:
  ScopedTimeWinOverrideForTesting(const TimeSystemCalls& calls,
                                  TickSourceFunction tick_source);
  ~ScopedTimeWinOverrideForTesting();

  // The state the overrides start afresh.
  static TickSourceFunction tick_source();
  static void set_tick_source(TickSourceFunction tick_source);
  static uint32_t rollover_word();
  static void set_rollover_word(uint32_t word);
  static int64_t performance_frequency();
  static void set_performance_frequency(int64_t frequency);
  static uint32_t timer_period_activations();

 private:
  struct SavedState;
  SavedState* saved_;

  DISALLOW_COPY_AND_ASSIGN(ScopedTimeWinOverrideForTesting);
};

}  // namespace internal
}  // namespace base

#endif  // BASE_TIME_TIME_WIN_H_
