#include "base/synchronization/waitable_event.h"

#include <windows.h>

#include <atomic>

#include "base/test/counting_blocking_observer.h"
#include "base/test/test_thread.h"
#include "base/threading/scoped_blocking_call.h"
#include "base/time/time_override.h"
#include "gtest/gtest.h"

namespace base {
namespace {

using ResetPolicy = WaitableEvent::ResetPolicy;
using InitialState = WaitableEvent::InitialState;

// A monotonic clock that moves 1 ms forward at every reading, so a timed
// wait sees time pass without the test waiting for real time.
std::atomic<int64_t> g_fake_ticks{0};
std::atomic<int> g_fake_readings{0};

TimeTicks SteppingTicksNow() {
  ++g_fake_readings;
  return TimeTicks::FromInternalValue(g_fake_ticks.fetch_add(1000) + 1000);
}

class SteppingClock {
 public:
  explicit SteppingClock(int64_t start_us)
      : overrides_(nullptr, &SteppingTicksNow, nullptr) {
    g_fake_ticks = start_us;
    g_fake_readings = 0;
  }
  int readings() const { return g_fake_readings; }
  TimeTicks last() const { return TimeTicks::FromInternalValue(g_fake_ticks); }

 private:
  subtle::ScopedTimeClockOverrides overrides_;
};

TEST(WaitableEventTest, ZeroSpanOnlyPolls) {
  CountingBlockingObserver observer;
  WaitableEvent event(ResetPolicy::MANUAL, InitialState::NOT_SIGNALED);
  EXPECT_FALSE(event.TimedWait(TimeDelta()));
  event.Signal();
  EXPECT_TRUE(event.TimedWait(TimeDelta()));
  // A poll never tells the thread's observer that it blocks.
  EXPECT_EQ(0, observer.started);
}

TEST(WaitableEventTest, AutomaticResetIsConsumedByAnySatisfiedWait) {
  WaitableEvent event(ResetPolicy::AUTOMATIC, InitialState::SIGNALED);
  EXPECT_TRUE(event.IsSignaled());
  EXPECT_FALSE(event.IsSignaled());

  event.Signal();
  EXPECT_TRUE(event.TimedWait(TimeDelta()));
  EXPECT_FALSE(event.IsSignaled());

  event.Signal();
  EXPECT_TRUE(event.TimedWait(TimeDelta::FromSeconds(10)));
  EXPECT_FALSE(event.IsSignaled());

  event.Signal();
  event.Wait();
  EXPECT_FALSE(event.TimedWait(TimeDelta()));
}

TEST(WaitableEventTest, ManualResetStaysSignaledUntilReset) {
  WaitableEvent event(ResetPolicy::MANUAL, InitialState::NOT_SIGNALED);
  EXPECT_FALSE(event.IsSignaled());
  event.Signal();
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(event.IsSignaled());
    EXPECT_TRUE(event.TimedWait(TimeDelta()));
    EXPECT_TRUE(event.TimedWait(TimeDelta::FromMilliseconds(5)));
    event.Wait();
  }
  event.Reset();
  EXPECT_FALSE(event.IsSignaled());

  WaitableEvent by_default;  // MANUAL, NOT_SIGNALED by default.
  EXPECT_FALSE(by_default.IsSignaled());
  EXPECT_TRUE(
      WaitableEvent(ResetPolicy::MANUAL, InitialState::SIGNALED).IsSignaled());
}

TEST(WaitableEventTest, BoundedWaitTimeouts) {
  // Never less than a whole millisecond, so a short wait cannot spin; whole
  // milliseconds, truncated; saturated into 32 bits, the largest meaning
  // INFINITE.
  const struct {
    TimeDelta span;
    DWORD timeout_ms;
  } kCases[] = {
      {TimeDelta(), 1u},
      {TimeDelta::FromMicroseconds(999), 1u},
      {TimeDelta::FromMilliseconds(-5), 1u},
      {TimeDelta::FromMicroseconds(2500), 2u},
      {TimeDelta::FromMicroseconds(1999999), 1999u},
      {TimeDelta::FromMilliseconds(4294967294LL), 4294967294u},
      {TimeDelta::FromMilliseconds(4294967295LL), INFINITE},
      {TimeDelta::FromMilliseconds(1LL << 40), INFINITE},
      {TimeDelta::Max(), INFINITE},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.timeout_ms, internal::BoundedWaitTimeout(c.span))
        << c.span.InMicroseconds();
  }
}

TEST(WaitableEventTest, TimedWaitNeverEndsBeforeItsSpanByTimeTicks) {
  // The clock moves 1 ms per reading. From 51 ms, 2.5 ms: the kernel's 2 ms
  // and 1 ms time-outs leave it at 52 and 53 ms, each short of the end, so
  // the wait goes on until a reading at or past the end. Half a millisecond
  // from 1 ms: one kernel wait of 1 ms, then the clock shows it is over.
  const struct {
    int64_t start_us;
    int64_t span_us;
    int readings;
  } kCases[] = {{50000, 2500, 4}, {0, 500, 2}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.span_us);
    WaitableEvent event;
    SteppingClock clock(c.start_us);
    EXPECT_FALSE(event.TimedWait(TimeDelta::FromMicroseconds(c.span_us)));
    EXPECT_EQ(c.readings, clock.readings());
    EXPECT_GE(clock.last(),
              TimeTicks::FromInternalValue(c.start_us + 1000 + c.span_us));
  }
}

TEST(WaitableEventTest, TimedWaitUntilPollsForNullOrPastEnd) {
  CountingBlockingObserver observer;
  SteppingClock clock(10000);
  WaitableEvent event(ResetPolicy::AUTOMATIC, InitialState::NOT_SIGNALED);

  EXPECT_FALSE(event.TimedWaitUntil(TimeTicks()));
  event.Signal();
  EXPECT_TRUE(event.TimedWaitUntil(TimeTicks()));
  EXPECT_EQ(0, clock.readings());  // A null end needs no clock.

  // The clock reads 11 ms: an end at 11 ms or before is not after now.
  event.Signal();
  EXPECT_TRUE(event.TimedWaitUntil(TimeTicks::FromInternalValue(11000)));
  EXPECT_FALSE(event.TimedWaitUntil(TimeTicks::FromInternalValue(5000)));
  EXPECT_EQ(0, observer.started);

  // An end in the future waits, and runs to it by the clock.
  EXPECT_FALSE(event.TimedWaitUntil(TimeTicks::FromInternalValue(15500)));
  EXPECT_GE(clock.last(), TimeTicks::FromInternalValue(15500));
  EXPECT_EQ(1, observer.started);
  EXPECT_EQ(1, observer.ended);
}

TEST(WaitableEventTest, BlockingWaitsOpenOneMayBlockScope) {
  CountingBlockingObserver observer;
  WaitableEvent event(ResetPolicy::MANUAL, InitialState::SIGNALED);
  event.Wait();
  EXPECT_EQ(1, observer.started);
  EXPECT_EQ(1, observer.may_block);
  EXPECT_EQ(1, observer.ended);

  EXPECT_TRUE(event.TimedWait(TimeDelta::FromMilliseconds(1)));
  EXPECT_EQ(2, observer.started);
  EXPECT_EQ(2, observer.may_block);
  EXPECT_EQ(2, observer.ended);
  EXPECT_EQ(0, observer.upgraded);
}

TEST(WaitableEventTest, MaximumSpanWaitsUntilSignaled) {
  WaitableEvent event(ResetPolicy::AUTOMATIC, InitialState::NOT_SIGNALED);
  WaitableEvent waiter_blocking;
  bool result = false;
  auto wait = [&] {
    CountingBlockingObserver observer;
    observer.on_started = &waiter_blocking;
    result = event.TimedWait(TimeDelta::Max());
  };
  TestThread waiter(wait);
  // Signal only once the waiter is inside its wait.
  waiter_blocking.Wait();
  event.Signal();
  waiter.Join();
  EXPECT_TRUE(result);
  EXPECT_FALSE(event.IsSignaled());
}

}  // namespace
}  // namespace base
