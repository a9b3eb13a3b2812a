#ifndef BASE_TEST_SCOPED_FAKE_TICKS_H_
#define BASE_TEST_SCOPED_FAKE_TICKS_H_

#include <memory>

#include "base/macros.h"
#include "base/time/tick_clock.h"
#include "base/time/time.h"
#include "base/time/time_override.h"

namespace base {

// While it lives, TimeTicks::Now() reads a clock that moves only when the
// test moves it, and counts its readings. The clock is one for the process
// (as the override is): make one at a time. Now() may also be handed on
// where a function pointer is wanted.
class ScopedFakeTicks {
 public:
  // The start is non-zero: a null TimeTicks means "never" in some places.
  static constexpr int64_t kDefaultStartMicroseconds = 1000000;

  explicit ScopedFakeTicks(
      TimeTicks start = TimeTicks() +
                        TimeDelta::FromMicroseconds(kDefaultStartMicroseconds));
  ~ScopedFakeTicks();

  // The fake time; counts as a reading.
  static TimeTicks Now();

  void Advance(TimeDelta delta);
  void SetNow(TimeTicks now);
  // Readings of Now() since this object was made.
  int reads() const;

  // A tick clock that reads Now(), for code that takes one; it must not
  // outlive this object.
  std::unique_ptr<TickClock> CreateTickClock() const;

 private:
  subtle::ScopedTimeClockOverrides overrides_;

  DISALLOW_COPY_AND_ASSIGN(ScopedFakeTicks);
};

}  // namespace base

#endif  // BASE_TEST_SCOPED_FAKE_TICKS_H_
