#include "base/time/time.h"

#include <windows.h>

#include <string.h>

#include <limits>

#include "base/time/clock.h"
#include "base/time/default_clock.h"
#include "base/time/time_override.h"
#include "gtest/gtest.h"

namespace base {
namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
constexpr int64_t kUnixEpochUs = 11644473600000000LL;

TEST(TimeDeltaTest, Conversions) {
  EXPECT_EQ(0, TimeDelta().InMillisecondsRoundedUp());
  EXPECT_EQ(1, TimeDelta::FromMicroseconds(1).InMillisecondsRoundedUp());
  EXPECT_EQ(1, TimeDelta::FromMicroseconds(1000).InMillisecondsRoundedUp());
  EXPECT_EQ(2, TimeDelta::FromMicroseconds(1001).InMillisecondsRoundedUp());
  EXPECT_EQ(0, TimeDelta::FromMicroseconds(-1).InMillisecondsRoundedUp());
  EXPECT_EQ(kMax, TimeDelta::Max().InMillisecondsRoundedUp());
  // One below the maximum must not overflow on its way up.
  EXPECT_EQ(kMax / 1000,
            TimeDelta::FromMicroseconds(kMax - 1).InMillisecondsRoundedUp());

  EXPECT_EQ(1, TimeDelta::FromMicroseconds(1999999).InSeconds());
  EXPECT_EQ(-1, TimeDelta::FromMicroseconds(-1500000).InSeconds());
  EXPECT_EQ(kMax, TimeDelta::Max().InSeconds());
  EXPECT_EQ(1, TimeDelta::FromMicroseconds(1999).InMilliseconds());
  EXPECT_EQ(-1, TimeDelta::FromMicroseconds(-1999).InMilliseconds());
  EXPECT_EQ(kMax, TimeDelta::Max().InMilliseconds());
  EXPECT_DOUBLE_EQ(1.5, TimeDelta::FromMicroseconds(1500).InMillisecondsF());
  EXPECT_EQ(std::numeric_limits<double>::infinity(),
            TimeDelta::Max().InMillisecondsF());
  EXPECT_EQ(std::numeric_limits<double>::infinity(),
            TimeDelta::Max().InSecondsF());
  EXPECT_EQ(kMax, TimeDelta::Max().InMicroseconds());
  EXPECT_EQ(std::numeric_limits<int>::max(), TimeDelta::Max().InDays());

  EXPECT_EQ(86400000000LL, TimeDelta::FromDays(1).InMicroseconds());
  EXPECT_EQ(3, TimeDelta::FromHours(3).InHours());
  EXPECT_EQ(180, TimeDelta::FromHours(3).InMinutes());
  EXPECT_EQ(2500, TimeDelta::FromSecondsD(2.5).InMilliseconds());
  EXPECT_EQ(1500, TimeDelta::FromMillisecondsD(1.5).InMicroseconds());
  EXPECT_TRUE(TimeDelta::FromSeconds(kMax / 1000).is_max());
  EXPECT_TRUE(TimeDelta::FromSecondsD(1e300).is_max());
  EXPECT_EQ(kMin, TimeDelta::FromMilliseconds(kMin / 10).InMicroseconds());
}

TEST(TimeDeltaTest, SaturatingArithmetic) {
  const TimeDelta max = TimeDelta::Max();
  const TimeDelta min = TimeDelta::FromMicroseconds(kMin);
  const TimeDelta one = TimeDelta::FromMicroseconds(1);
  EXPECT_TRUE((max + one).is_max());
  EXPECT_TRUE((max - (-one)).is_max());
  EXPECT_EQ(min, min - one);
  EXPECT_EQ(min, min + (-one));
  EXPECT_EQ(kMax - 1, (max - one).InMicroseconds());
  EXPECT_TRUE((max * 2).is_max());
  EXPECT_EQ(min, max * -2);
  EXPECT_EQ(TimeDelta::FromSeconds(6), TimeDelta::FromSeconds(2) * 3);
  EXPECT_EQ(TimeDelta::FromSeconds(6), 3 * TimeDelta::FromSeconds(2));
  EXPECT_EQ(4, TimeDelta::FromSeconds(2) / TimeDelta::FromMilliseconds(500));
  EXPECT_EQ(max, min.magnitude());
  EXPECT_EQ(one, (-one).magnitude());

  EXPECT_EQ(kMax, time_internal::SaturatedAdd(kMax - 1, 5));
  EXPECT_EQ(kMin, time_internal::SaturatedAdd(kMin + 1, -5));
  EXPECT_EQ(kMax, time_internal::SaturatedSub(kMax, -1));
  EXPECT_EQ(kMin, time_internal::SaturatedSub(kMin, 1));
  EXPECT_EQ(-3, time_internal::SaturatedSub(2, 5));
}

TEST(TimeTest, SaturatingArithmetic) {
  EXPECT_TRUE((Time::Max() + TimeDelta::FromDays(1)).is_max());
  const Time min = Time::FromInternalValue(kMin);
  EXPECT_EQ(min, min - TimeDelta::FromSeconds(1));
  EXPECT_TRUE((TimeTicks::Max() + TimeDelta::FromSeconds(1)).is_max());
  EXPECT_EQ(TimeTicks::FromInternalValue(kMin),
            TimeTicks::FromInternalValue(kMin) - TimeDelta::FromSeconds(1));
  const TimeTicks a = TimeTicks::FromInternalValue(5000);
  const TimeTicks b = a + TimeDelta::FromMilliseconds(3);
  EXPECT_EQ(TimeDelta::FromMicroseconds(3000), b - a);
  EXPECT_EQ(TimeDelta::FromMicroseconds(-3000), a - b);
}

TEST(TimeTest, FileTimeAndEpochConversions) {
  EXPECT_TRUE(Time::FromFileTime(FILETIME{0, 0}).is_null());
  EXPECT_TRUE(Time::FromFileTime(FILETIME{0xffffffff, 0xffffffff}).is_max());
  // Either half all ones alone is an ordinary value.
  EXPECT_EQ(0xffffffffLL / 10,
            Time::FromFileTime(FILETIME{0xffffffff, 0}).ToInternalValue());

  const uint64_t kEpochFileTime = 116444736000000000ULL;
  const Time epoch =
      Time::FromFileTime(FILETIME{static_cast<DWORD>(kEpochFileTime),
                                  static_cast<DWORD>(kEpochFileTime >> 32)});
  EXPECT_EQ(kUnixEpochUs, epoch.ToInternalValue());
  EXPECT_EQ(Time::UnixEpoch(), epoch);
  EXPECT_EQ(0, epoch.ToTimeT());
  EXPECT_EQ(0, epoch.ToJavaTime());
  const FILETIME back = epoch.ToFileTime();
  EXPECT_EQ(kEpochFileTime, (static_cast<uint64_t>(back.dwHighDateTime) << 32) |
                                back.dwLowDateTime);
  // 17 ticks of 100 ns: truncated to one microsecond.
  EXPECT_EQ(1, Time::FromFileTime(FILETIME{17, 0}).ToInternalValue());

  // The null time is "not set", never a negative count.
  EXPECT_EQ(0, Time().ToTimeT());
  EXPECT_EQ(0, Time().ToJavaTime());
  EXPECT_EQ(kMax, Time::Max().ToTimeT());
  EXPECT_EQ(kMax, Time::Max().ToJavaTime());
  EXPECT_EQ(kMax, Time::FromInternalValue(kMax - kUnixEpochUs).ToTimeT());
  EXPECT_EQ((kMax - kUnixEpochUs - 1 - kUnixEpochUs) / 1000000,
            Time::FromInternalValue(kMax - kUnixEpochUs - 1).ToTimeT());
  // Before 1970: truncated toward zero.
  EXPECT_EQ(-1, Time::FromInternalValue(kUnixEpochUs - 1500000).ToTimeT());
  EXPECT_EQ(-1500,
            Time::FromInternalValue(kUnixEpochUs - 1500000).ToJavaTime());

  EXPECT_TRUE(Time::FromTimeT(0).is_null());
  EXPECT_EQ(1700000000, Time::FromTimeT(1700000000).ToTimeT());
  EXPECT_EQ(1700000000123LL, Time::FromJavaTime(1700000000123LL).ToJavaTime());
  EXPECT_DOUBLE_EQ(1700000000.5, Time::FromDoubleT(1700000000.5).ToDoubleT());
}

void ExpectExploded(const Time::Exploded& expected,
                    const Time::Exploded& actual) {
  EXPECT_EQ(0, memcmp(&expected, &actual, sizeof(expected)))
      << actual.year << "-" << actual.month << "-" << actual.day_of_month
      << " (" << actual.day_of_week << ") " << actual.hour << ":"
      << actual.minute << ":" << actual.second << "." << actual.millisecond;
}

TEST(TimeTest, Explode) {
  Time::Exploded e;
  Time::UnixEpoch().UTCExplode(&e);
  ExpectExploded({1970, 1, 4 /* Thursday */, 1, 0, 0, 0, 0}, e);

  const auto expect_zeros = [](const Time::Exploded& x) {
    EXPECT_EQ(0, x.year | x.month | x.day_of_week | x.day_of_month | x.hour |
                     x.minute | x.second | x.millisecond);
  };
  e.year = 99;
  Time::FromInternalValue(-1).UTCExplode(&e);
  expect_zeros(e);
  e.year = 99;
  Time::FromInternalValue(-1).LocalExplode(&e);
  expect_zeros(e);
  e.year = 99;
  Time::Max().UTCExplode(&e);
  expect_zeros(e);
}

TEST(TimeTest, FromExploded) {
  // 2024-02-29 (a Thursday) 13:45:30.250 UTC.
  Time::Exploded leap = {2024, 2, 4, 29, 13, 45, 30, 250};
  Time t;
  ASSERT_TRUE(Time::FromUTCExploded(leap, &t));
  EXPECT_EQ(1709214330250LL, t.ToJavaTime());
  Time::Exploded back;
  t.UTCExplode(&back);
  ExpectExploded(leap, back);

  // Local time round trip, whatever the zone.
  Time local;
  ASSERT_TRUE(Time::FromLocalExploded(leap, &local));
  local.LocalExplode(&back);
  ExpectExploded(leap, back);

  struct {
    const char* what;
    Time::Exploded exploded;
  } const kInvalid[] = {
      {"31 February", {2023, 2, 0, 31, 0, 0, 0, 0}},
      {"30 February 2024", {2024, 2, 0, 30, 0, 0, 0, 0}},
      {"31 April", {2023, 4, 0, 31, 0, 0, 0, 0}},
      {"month 13", {2023, 13, 0, 1, 0, 0, 0, 0}},
      {"negative day", {2023, 1, 0, -1, 0, 0, 0, 0}},
      {"negative year", {-1, 1, 0, 1, 0, 0, 0, 0}},
      {"year 65536", {65536, 1, 0, 1, 0, 0, 0, 0}},
      {"millisecond 65536", {2023, 1, 0, 1, 0, 0, 0, 65536}},
      {"hour 24", {2023, 1, 0, 1, 24, 0, 0, 0}},
  };
  // 29 February of a common year is left out: the system's own checks decide
  // whether a date exists, and Wine's accept it.
  for (const auto& c : kInvalid) {
    Time out = Time::Max();
    EXPECT_FALSE(Time::FromUTCExploded(c.exploded, &out)) << c.what;
    EXPECT_TRUE(out.is_null()) << c.what;
    out = Time::Max();
    EXPECT_FALSE(Time::FromLocalExploded(c.exploded, &out)) << c.what;
    EXPECT_TRUE(out.is_null()) << c.what;
  }
}

Time FixedTime() {
  return Time::UnixEpoch() + TimeDelta::FromDays(1);
}
TimeTicks FixedTicks() {
  return TimeTicks::FromInternalValue(123456);
}
ThreadTicks FixedThreadTicks() {
  return ThreadTicks::FromInternalValue(42);
}

TEST(TimeOverrideTest, ScopedOverridesAndDefaultClock) {
  {
    subtle::ScopedTimeClockOverrides overrides(&FixedTime, &FixedTicks,
                                               &FixedThreadTicks);
    EXPECT_EQ(FixedTime(), Time::Now());
    EXPECT_EQ(FixedTime(), Time::NowFromSystemTime());
    EXPECT_EQ(FixedTicks(), TimeTicks::Now());
    EXPECT_EQ(FixedThreadTicks(), ThreadTicks::Now());
    DefaultClock clock;
    EXPECT_EQ(FixedTime(), clock.Now());
    Clock* as_clock = DefaultClock::GetInstance();
    EXPECT_EQ(FixedTime(), as_clock->Now());
    // The real clock is still within reach.
    EXPECT_NE(FixedTime(), subtle::TimeNowIgnoringOverride());
    {
      subtle::ScopedTimeClockOverrides only_ticks(
          nullptr, []() { return TimeTicks::FromInternalValue(7); }, nullptr);
      EXPECT_EQ(7, TimeTicks::Now().ToInternalValue());
      EXPECT_EQ(FixedTime(), Time::Now());
    }
    EXPECT_EQ(FixedTicks(), TimeTicks::Now());
  }
  EXPECT_NE(FixedTime(), Time::Now());
  EXPECT_NE(FixedTicks(), TimeTicks::Now());
  EXPECT_EQ(DefaultClock::GetInstance(), DefaultClock::GetInstance());
}

TEST(TimeTest, RealClocks) {
  // Only plausibility: after 2020, and monotonic ticks.
  Time::Exploded now;
  Time::Now().UTCExplode(&now);
  EXPECT_GE(now.year, 2020);
  const TimeTicks first = TimeTicks::Now();
  const TimeTicks second = TimeTicks::Now();
  EXPECT_FALSE(first.is_null());
  EXPECT_LE(first, second);
  EXPECT_GE(ThreadTicks::Now().ToInternalValue(), 0);
}

}  // namespace
}  // namespace base
