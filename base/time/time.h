#ifndef BASE_TIME_TIME_H_
#define BASE_TIME_TIME_H_

#include <windows.h>

#include <stdint.h>

#include <limits>

namespace base {

class Time;
class TimeTicks;

namespace time_internal {

// |value| + |delta| where |value| is a microsecond count: on overflow, the
// limit in the direction of |delta|.
inline int64_t SaturatedAdd(int64_t value, int64_t delta) {
  int64_t result;
  if (__builtin_add_overflow(value, delta, &result)) {
    return delta < 0 ? std::numeric_limits<int64_t>::min()
                     : std::numeric_limits<int64_t>::max();
  }
  return result;
}

// |value| - |delta|: on overflow, the limit away from |delta|.
inline int64_t SaturatedSub(int64_t value, int64_t delta) {
  int64_t result;
  if (__builtin_sub_overflow(value, delta, &result)) {
    return delta < 0 ? std::numeric_limits<int64_t>::max()
                     : std::numeric_limits<int64_t>::min();
  }
  return result;
}

}  // namespace time_internal

// A duration in microseconds. The largest value is the maximum duration:
// conversions map it to the largest result (or +infinity) instead of
// dividing it.
class TimeDelta {
 public:
  constexpr TimeDelta() : delta_(0) {}

  static constexpr TimeDelta FromDays(int days) {
    return FromProduct(days, kMicrosecondsPerDay);
  }
  static constexpr TimeDelta FromHours(int hours) {
    return FromProduct(hours, kMicrosecondsPerHour);
  }
  static constexpr TimeDelta FromMinutes(int minutes) {
    return FromProduct(minutes, kMicrosecondsPerMinute);
  }
  static constexpr TimeDelta FromSeconds(int64_t secs) {
    return FromProduct(secs, kMicrosecondsPerSecond);
  }
  static constexpr TimeDelta FromMilliseconds(int64_t ms) {
    return FromProduct(ms, kMicrosecondsPerMillisecond);
  }
  static constexpr TimeDelta FromMicroseconds(int64_t us) {
    return TimeDelta(us);
  }
  static TimeDelta FromSecondsD(double secs) {
    return FromDouble(secs * kMicrosecondsPerSecond);
  }
  static TimeDelta FromMillisecondsD(double ms) {
    return FromDouble(ms * kMicrosecondsPerMillisecond);
  }

  // For serialisation only; arithmetic belongs to the operators.
  static constexpr TimeDelta FromInternalValue(int64_t delta) {
    return TimeDelta(delta);
  }
  constexpr int64_t ToInternalValue() const { return delta_; }

  static constexpr TimeDelta Max() {
    return TimeDelta(std::numeric_limits<int64_t>::max());
  }

  constexpr bool is_zero() const { return delta_ == 0; }
  constexpr bool is_max() const {
    return delta_ == std::numeric_limits<int64_t>::max();
  }

  constexpr TimeDelta magnitude() const {
    // The most negative value has no magnitude of its own.
    return TimeDelta(delta_ == std::numeric_limits<int64_t>::min()
                         ? std::numeric_limits<int64_t>::max()
                         : (delta_ < 0 ? -delta_ : delta_));
  }

  int InDays() const;
  int InHours() const;
  int InMinutes() const;
  double InSecondsF() const;
  int64_t InSeconds() const;
  double InMillisecondsF() const;
  int64_t InMilliseconds() const;
  int64_t InMillisecondsRoundedUp() const;
  int64_t InMicroseconds() const { return delta_; }

  TimeDelta operator+(TimeDelta other) const {
    return TimeDelta(time_internal::SaturatedAdd(delta_, other.delta_));
  }
  TimeDelta operator-(TimeDelta other) const {
    return TimeDelta(time_internal::SaturatedSub(delta_, other.delta_));
  }
  TimeDelta& operator+=(TimeDelta other) { return *this = *this + other; }
  TimeDelta& operator-=(TimeDelta other) { return *this = *this - other; }
  constexpr TimeDelta operator-() const { return TimeDelta(-delta_); }

  // Saturating, like addition.
  TimeDelta operator*(int64_t factor) const {
    int64_t result;
    if (__builtin_mul_overflow(delta_, factor, &result)) {
      return TimeDelta((delta_ < 0) != (factor < 0)
                           ? std::numeric_limits<int64_t>::min()
                           : std::numeric_limits<int64_t>::max());
    }
    return TimeDelta(result);
  }
  TimeDelta operator/(int64_t divisor) const {
    return TimeDelta(delta_ / divisor);
  }
  TimeDelta& operator*=(int64_t factor) { return *this = *this * factor; }
  TimeDelta& operator/=(int64_t divisor) { return *this = *this / divisor; }
  int64_t operator/(TimeDelta other) const { return delta_ / other.delta_; }
  TimeDelta operator%(TimeDelta other) const {
    return TimeDelta(delta_ % other.delta_);
  }

  constexpr bool operator==(TimeDelta other) const {
    return delta_ == other.delta_;
  }
  constexpr bool operator!=(TimeDelta other) const {
    return delta_ != other.delta_;
  }
  constexpr bool operator<(TimeDelta other) const {
    return delta_ < other.delta_;
  }
  constexpr bool operator<=(TimeDelta other) const {
    return delta_ <= other.delta_;
  }
  constexpr bool operator>(TimeDelta other) const {
    return delta_ > other.delta_;
  }
  constexpr bool operator>=(TimeDelta other) const {
    return delta_ >= other.delta_;
  }

  static constexpr int64_t kMicrosecondsPerMillisecond = 1000;
  static constexpr int64_t kMicrosecondsPerSecond = 1000000;
  static constexpr int64_t kMicrosecondsPerMinute = 60 * kMicrosecondsPerSecond;
  static constexpr int64_t kMicrosecondsPerHour = 60 * kMicrosecondsPerMinute;
  static constexpr int64_t kMicrosecondsPerDay = 24 * kMicrosecondsPerHour;

 private:
  friend class Time;
  friend class TimeTicks;
  friend class ThreadTicks;

  constexpr explicit TimeDelta(int64_t delta_us) : delta_(delta_us) {}

  // value × unit, saturated at the limits.
  static constexpr TimeDelta FromProduct(int64_t value, int64_t unit) {
    return value > std::numeric_limits<int64_t>::max() / unit ? Max()
           : value < std::numeric_limits<int64_t>::min() / unit
               ? TimeDelta(std::numeric_limits<int64_t>::min())
               : TimeDelta(value * unit);
  }
  static TimeDelta FromDouble(double value);

  int64_t delta_;
};

inline TimeDelta operator*(int64_t factor, TimeDelta delta) {
  return delta * factor;
}

// A wall-clock instant: microseconds since 1601-01-01 00:00:00 UTC, the
// FILETIME epoch. 0 is the null time (not set).
class Time {
 public:
  // The fields and their meanings are those of SYSTEMTIME, in its order.
  struct Exploded {
    int year;          // Four digits, e.g. 2007.
    int month;         // 1 to 12.
    int day_of_week;   // 0 (Sunday) to 6.
    int day_of_month;  // 1 to 31.
    int hour;          // 0 to 23.
    int minute;        // 0 to 59.
    int second;        // 0 to 59 (60 for leap seconds where supported).
    int millisecond;   // 0 to 999.
  };

  // From 1601-01-01 to 1970-01-01.
  static constexpr int64_t kTimeTToMicrosecondsOffset = 11644473600000000LL;

  constexpr Time() : us_(0) {}

  static Time Now();
  // Resynchronises Now() with the system time and returns the system time.
  static Time NowFromSystemTime();

  static constexpr Time Max() {
    return Time(std::numeric_limits<int64_t>::max());
  }
  static constexpr Time UnixEpoch() { return Time(kTimeTToMicrosecondsOffset); }

  constexpr bool is_null() const { return us_ == 0; }
  constexpr bool is_max() const {
    return us_ == std::numeric_limits<int64_t>::max();
  }

  // 0 gives the null time, so that ToTimeT(FromTimeT(0)) round-trips the
  // "not set" meaning of both.
  static Time FromTimeT(int64_t tt);
  int64_t ToTimeT() const;
  static Time FromJavaTime(int64_t ms_since_epoch);
  int64_t ToJavaTime() const;
  static Time FromDoubleT(double dt);
  double ToDoubleT() const;

  // FILETIME 0 is the null time and all ones is Max().
  static Time FromFileTime(FILETIME ft);
  FILETIME ToFileTime() const;

  // The message loop asks for a finer system timer (4 ms) while it holds
  // near delayed work; calls must balance.
  static void ActivateHighResolutionTimer(bool activating);

  // Converts |exploded|, read as local time or UTC. False and the null time
  // when a field lies outside 0..65535 or the date itself is invalid.
  static bool FromExploded(bool is_local, const Exploded& exploded, Time* time);
  static bool FromUTCExploded(const Exploded& exploded, Time* time) {
    return FromExploded(false, exploded, time);
  }
  static bool FromLocalExploded(const Exploded& exploded, Time* time) {
    return FromExploded(true, exploded, time);
  }

  // Fills |exploded| in local time or UTC; all zeros on failure.
  void Explode(bool is_local, Exploded* exploded) const;
  void UTCExplode(Exploded* exploded) const { Explode(false, exploded); }
  void LocalExplode(Exploded* exploded) const { Explode(true, exploded); }

  static constexpr Time FromInternalValue(int64_t us) { return Time(us); }
  constexpr int64_t ToInternalValue() const { return us_; }
  // Microseconds since the FILETIME epoch.
  constexpr TimeDelta ToDeltaSinceWindowsEpoch() const {
    return TimeDelta(us_);
  }
  static constexpr Time FromDeltaSinceWindowsEpoch(TimeDelta delta) {
    return Time(delta.delta_);
  }

  TimeDelta operator-(Time other) const {
    return TimeDelta(time_internal::SaturatedSub(us_, other.us_));
  }
  Time operator+(TimeDelta delta) const {
    return Time(time_internal::SaturatedAdd(us_, delta.delta_));
  }
  Time operator-(TimeDelta delta) const {
    return Time(time_internal::SaturatedSub(us_, delta.delta_));
  }
  Time& operator+=(TimeDelta delta) { return *this = *this + delta; }
  Time& operator-=(TimeDelta delta) { return *this = *this - delta; }

  constexpr bool operator==(Time other) const { return us_ == other.us_; }
  constexpr bool operator!=(Time other) const { return us_ != other.us_; }
  constexpr bool operator<(Time other) const { return us_ < other.us_; }
  constexpr bool operator<=(Time other) const { return us_ <= other.us_; }
  constexpr bool operator>(Time other) const { return us_ > other.us_; }
  constexpr bool operator>=(Time other) const { return us_ >= other.us_; }

 private:
  constexpr explicit Time(int64_t us) : us_(us) {}

  int64_t us_;
};

inline Time operator+(TimeDelta delta, Time time) {
  return time + delta;
}

// A monotonic instant in microseconds with an arbitrary origin: only
// differences mean anything. Its resolution is the tick source's:
// microseconds with the performance counter, milliseconds with the tick
// count.
class TimeTicks {
 public:
  constexpr TimeTicks() : us_(0) {}

  // Takes no lock; after the first call it reaches the chosen tick source
  // through a single pointer.
  static TimeTicks Now();

  // Whether the tick source is the high-resolution performance counter.
  static bool IsHighResolution();

  static constexpr TimeTicks FromInternalValue(int64_t us) {
    return TimeTicks(us);
  }
  constexpr int64_t ToInternalValue() const { return us_; }

  constexpr bool is_null() const { return us_ == 0; }
  constexpr bool is_max() const {
    return us_ == std::numeric_limits<int64_t>::max();
  }
  static constexpr TimeTicks Max() {
    return TimeTicks(std::numeric_limits<int64_t>::max());
  }

  // The time since the tick source's origin, for arithmetic on raw ticks.
  constexpr TimeDelta since_origin() const { return TimeDelta(us_); }

  TimeDelta operator-(TimeTicks other) const {
    return TimeDelta(time_internal::SaturatedSub(us_, other.us_));
  }
  TimeTicks operator+(TimeDelta delta) const {
    return TimeTicks(time_internal::SaturatedAdd(us_, delta.delta_));
  }
  TimeTicks operator-(TimeDelta delta) const {
    return TimeTicks(time_internal::SaturatedSub(us_, delta.delta_));
  }
  TimeTicks& operator+=(TimeDelta delta) { return *this = *this + delta; }
  TimeTicks& operator-=(TimeDelta delta) { return *this = *this - delta; }

  constexpr bool operator==(TimeTicks other) const { return us_ == other.us_; }
  constexpr bool operator!=(TimeTicks other) const { return us_ != other.us_; }
  constexpr bool operator<(TimeTicks other) const { return us_ < other.us_; }
  constexpr bool operator<=(TimeTicks other) const { return us_ <= other.us_; }
  constexpr bool operator>(TimeTicks other) const { return us_ > other.us_; }
  constexpr bool operator>=(TimeTicks other) const { return us_ >= other.us_; }

 private:
  constexpr explicit TimeTicks(int64_t us) : us_(us) {}

  int64_t us_;
};

inline TimeTicks operator+(TimeDelta delta, TimeTicks ticks) {
  return ticks + delta;
}

// The CPU time consumed by the calling thread, in microseconds; 0 while it
// cannot be measured yet.
class ThreadTicks {
 public:
  constexpr ThreadTicks() : us_(0) {}

  // Whether thread CPU time can be measured on this processor; ask before
  // using Now().
  static bool IsSupported() { return IsSupportedWin(); }
  static bool IsSupportedWin();

  static ThreadTicks Now();

  static constexpr ThreadTicks FromInternalValue(int64_t us) {
    return ThreadTicks(us);
  }
  constexpr int64_t ToInternalValue() const { return us_; }
  constexpr bool is_null() const { return us_ == 0; }

  TimeDelta operator-(ThreadTicks other) const {
    return TimeDelta(time_internal::SaturatedSub(us_, other.us_));
  }
  ThreadTicks operator+(TimeDelta delta) const {
    return ThreadTicks(time_internal::SaturatedAdd(us_, delta.delta_));
  }
  ThreadTicks operator-(TimeDelta delta) const {
    return ThreadTicks(time_internal::SaturatedSub(us_, delta.delta_));
  }

  constexpr bool operator==(ThreadTicks other) const {
    return us_ == other.us_;
  }
  constexpr bool operator!=(ThreadTicks other) const {
    return us_ != other.us_;
  }
  constexpr bool operator<(ThreadTicks other) const { return us_ < other.us_; }
  constexpr bool operator<=(ThreadTicks other) const {
    return us_ <= other.us_;
  }
  constexpr bool operator>(ThreadTicks other) const { return us_ > other.us_; }
  constexpr bool operator>=(ThreadTicks other) const {
    return us_ >= other.us_;
  }

 private:
  constexpr explicit ThreadTicks(int64_t us) : us_(us) {}

  int64_t us_;
};

}  // namespace base

#endif  // BASE_TIME_TIME_H_
