#include "base/time/clock.h"

namespace base {

Clock::~Clock() = default;

}  // namespace base
