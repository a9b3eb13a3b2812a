#include "base/time/time.h"

#include <math.h>

#include <limits>

#include "base/time/time_override.h"

namespace base {

namespace {

constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();

}  // namespace

// TimeDelta -------------------------------------------------------------------

// static
TimeDelta TimeDelta::FromDouble(double value) {
  if (isnan(value))
    return TimeDelta();
  // 2^63 is the first double above the range.
  if (value >= 9223372036854775808.0)
    return Max();
  if (value <= static_cast<double>(kInt64Min))
    return TimeDelta(kInt64Min);
  return TimeDelta(static_cast<int64_t>(value));
}

int TimeDelta::InDays() const {
  if (is_max())
    return std::numeric_limits<int>::max();
  return static_cast<int>(delta_ / kMicrosecondsPerDay);
}

int TimeDelta::InHours() const {
  if (is_max())
    return std::numeric_limits<int>::max();
  return static_cast<int>(delta_ / kMicrosecondsPerHour);
}

int TimeDelta::InMinutes() const {
  if (is_max())
    return std::numeric_limits<int>::max();
  return static_cast<int>(delta_ / kMicrosecondsPerMinute);
}

double TimeDelta::InSecondsF() const {
  if (is_max())
    return std::numeric_limits<double>::infinity();
  return static_cast<double>(delta_) / kMicrosecondsPerSecond;
}

int64_t TimeDelta::InSeconds() const {
  if (is_max())
    return kInt64Max;
  return delta_ / kMicrosecondsPerSecond;
}

double TimeDelta::InMillisecondsF() const {
  if (is_max())
    return std::numeric_limits<double>::infinity();
  return static_cast<double>(delta_) / kMicrosecondsPerMillisecond;
}

int64_t TimeDelta::InMilliseconds() const {
  if (is_max())
    return kInt64Max;
  return delta_ / kMicrosecondsPerMillisecond;
}

int64_t TimeDelta::InMillisecondsRoundedUp() const {
  if (is_max())
    return kInt64Max;
  return time_internal::SaturatedAdd(delta_, kMicrosecondsPerMillisecond - 1) /
         kMicrosecondsPerMillisecond;
}

// Time ------------------------------------------------------------------------

// static
Time Time::Now() {
  return internal::g_time_now_function.load(std::memory_order_relaxed)();
}

// static
Time Time::NowFromSystemTime() {
  return internal::g_time_now_from_system_time_function.load(
      std::memory_order_relaxed)();
}

// static
Time Time::FromTimeT(int64_t tt) {
  if (tt == 0)
    return Time();
  if (tt == kInt64Max)
    return Max();
  return Time(time_internal::SaturatedAdd(TimeDelta::FromSeconds(tt).delta_,
                                          kTimeTToMicrosecondsOffset));
}

int64_t Time::ToTimeT() const {
  if (is_null())
    return 0;
  if (us_ >= kInt64Max - kTimeTToMicrosecondsOffset)
    return kInt64Max;
  return (us_ - kTimeTToMicrosecondsOffset) / TimeDelta::kMicrosecondsPerSecond;
}

// static
Time Time::FromJavaTime(int64_t ms_since_epoch) {
  return Time(time_internal::SaturatedAdd(
      TimeDelta::FromMilliseconds(ms_since_epoch).delta_,
      kTimeTToMicrosecondsOffset));
}

int64_t Time::ToJavaTime() const {
  if (is_null())
    return 0;
  if (is_max())
    return kInt64Max;
  return time_internal::SaturatedSub(us_, kTimeTToMicrosecondsOffset) /
         TimeDelta::kMicrosecondsPerMillisecond;
}

// static
Time Time::FromDoubleT(double dt) {
  if (dt == 0 || isnan(dt))
    return Time();
  return Time(time_internal::SaturatedAdd(TimeDelta::FromSecondsD(dt).delta_,
                                          kTimeTToMicrosecondsOffset));
}

double Time::ToDoubleT() const {
  if (is_null())
    return 0;
  if (is_max())
    return std::numeric_limits<double>::infinity();
  return static_cast<double>(us_ - kTimeTToMicrosecondsOffset) /
         TimeDelta::kMicrosecondsPerSecond;
}

// TimeTicks / ThreadTicks -----------------------------------------------------

// static
TimeTicks TimeTicks::Now() {
  return internal::g_time_ticks_now_function.load(std::memory_order_relaxed)();
}

// static
ThreadTicks ThreadTicks::Now() {
  return internal::g_thread_ticks_now_function.load(
      std::memory_order_relaxed)();
}

}  // namespace base
