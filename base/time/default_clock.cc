#include "base/time/default_clock.h"

namespace base {

DefaultClock::DefaultClock() = default;

DefaultClock::~DefaultClock() = default;

Time DefaultClock::Now() {
  return Time::Now();
}

// static
DefaultClock* DefaultClock::GetInstance() {
  static DefaultClock* const instance = new DefaultClock();
  return instance;
}

}  // namespace base
