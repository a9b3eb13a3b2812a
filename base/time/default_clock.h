#ifndef BASE_TIME_DEFAULT_CLOCK_H_
#define BASE_TIME_DEFAULT_CLOCK_H_

#include "base/time/clock.h"

namespace base {

// The system's wall clock: Now() is Time::Now().
class DefaultClock : public Clock {
 public:
  DefaultClock();
  ~DefaultClock() override;

  Time Now() override;

  // A process-wide instance, never destroyed.
  static DefaultClock* GetInstance();
};

}  // namespace base

#endif  // BASE_TIME_DEFAULT_CLOCK_H_
