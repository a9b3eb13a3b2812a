#ifndef BASE_TIME_TICK_CLOCK_H_
#define BASE_TIME_TICK_CLOCK_H_

#include "base/time/time.h"

namespace base {

// A source of TimeTicks that components are given, so that tests can step
// time by hand.
class TickClock {
 public:
  virtual ~TickClock();

  virtual TimeTicks NowTicks() const = 0;
};

// Reads TimeTicks::Now.
class DefaultTickClock : public TickClock {
 public:
  ~DefaultTickClock() override;

  TimeTicks NowTicks() const override;

  // A process-wide instance, never destroyed.
  static const DefaultTickClock* GetInstance();
};

}  // namespace base

#endif  // BASE_TIME_TICK_CLOCK_H_
