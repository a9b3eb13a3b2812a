#ifndef BASE_TIME_CLOCK_H_
#define BASE_TIME_CLOCK_H_

#include "base/time/time.h"

namespace base {

// A source of wall-clock time that components are given rather than reading
// Time::Now themselves, so that tests can hand them a clock of their own.
class Clock {
 public:
  virtual ~Clock();

  virtual Time Now() = 0;
};

}  // namespace base

#endif  // BASE_TIME_CLOCK_H_
