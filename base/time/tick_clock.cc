#include "base/time/tick_clock.h"

namespace base {

TickClock::~TickClock() = default;

DefaultTickClock::~DefaultTickClock() = default;

TimeTicks DefaultTickClock::NowTicks() const {
  return TimeTicks::Now();
}

// static
const DefaultTickClock* DefaultTickClock::GetInstance() {
  static const DefaultTickClock* const instance = new DefaultTickClock();
  return instance;
}

}  // namespace base
