#include "base/time/time_win.h"

#include <windows.h>

#include <string.h>

#include <vector>

#include "base/cpu.h"
#include "base/time/time.h"
#include "base/time/time_override.h"
#include "gtest/gtest.h"

namespace base {
namespace internal {
namespace {

// Made-up system readings, set by each test before it reads the clocks.
struct FakeSystem {
  DWORD tick_count = 0;
  uint64_t file_time = 0;  // 100-ns units.
  int system_time_reads = 0;
  int64_t qpc = 0;
  int64_t qpf = 0;
  bool qpf_succeeds = true;
  int64_t ticks_us = 0;  // The fake tick source.
  std::vector<UINT> begin_periods;
  std::vector<UINT> end_periods;
};
FakeSystem* g_fake = nullptr;

DWORD WINAPI FakeTimeGetTime() {
  return g_fake->tick_count;
}
void WINAPI FakeGetSystemTimeAsFileTime(FILETIME* ft) {
  ++g_fake->system_time_reads;
  ft->dwLowDateTime = static_cast<DWORD>(g_fake->file_time);
  ft->dwHighDateTime = static_cast<DWORD>(g_fake->file_time >> 32);
}
BOOL WINAPI FakeQueryPerformanceFrequency(LARGE_INTEGER* value) {
  value->QuadPart = g_fake->qpf;
  return g_fake->qpf_succeeds;
}
BOOL WINAPI FakeQueryPerformanceCounter(LARGE_INTEGER* value) {
  value->QuadPart = g_fake->qpc;
  return TRUE;
}
UINT WINAPI FakeTimeBeginPeriod(UINT period) {
  g_fake->begin_periods.push_back(period);
  return 0;
}
UINT WINAPI FakeTimeEndPeriod(UINT period) {
  g_fake->end_periods.push_back(period);
  return 0;
}
TimeTicks FakeTickSource() {
  return TimeTicks::FromInternalValue(g_fake->ticks_us);
}

const TimeSystemCalls kFakeCalls = {
    FakeTimeGetTime,
    FakeGetSystemTimeAsFileTime,
    FakeQueryPerformanceFrequency,
    FakeQueryPerformanceCounter,
    FakeTimeBeginPeriod,
    FakeTimeEndPeriod,
};

class TimeWinTest : public testing::Test {
 protected:
  TimeWinTest() { g_fake = &fake_; }
  ~TimeWinTest() override { g_fake = nullptr; }

  FakeSystem fake_;
};

// A processor described by its vendor, signature and invariant-TSC bit.
class FakeProcessor : public CPU::InstructionSource {
 public:
  FakeProcessor(const char (&vendor)[13], uint32_t signature, bool invariant)
      : signature_(signature), invariant_(invariant) {
    memcpy(vendor_, vendor, 12);
  }
  CPU::CpuidRegisters Cpuid(uint32_t leaf, uint32_t subleaf) const override {
    CPU::CpuidRegisters r = {};
    if (leaf == 0) {
      r.eax = 1;
      memcpy(&r.ebx, vendor_, 4);
      memcpy(&r.edx, vendor_ + 4, 4);
      memcpy(&r.ecx, vendor_ + 8, 4);
    } else if (leaf == 1) {
      r.eax = signature_;
    } else if (leaf == 0x80000000) {
      r.eax = 0x80000008;
    } else if (leaf == 0x80000007) {
      r.edx = invariant_ ? 1u << 8 : 0;
    }
    return r;
  }
  uint64_t Xgetbv(uint32_t) const override { return 0; }

 private:
  char vendor_[12];
  uint32_t signature_;
  bool invariant_;
};

TEST_F(TimeWinTest, TickSourceChoice) {
  const CPU intel(FakeProcessor("GenuineIntel", 0x906EA, true));
  const CPU intel_variant_tsc(FakeProcessor("GenuineIntel", 0x906EA, false));
  const CPU amd_zen(FakeProcessor("AuthenticAMD", 0x00800F11, true));
  const CPU amd_k8(FakeProcessor("AuthenticAMD", 0x00020F32, true));
  const CPU amd_family_16(FakeProcessor("AuthenticAMD", 0x00000610, true));

  EXPECT_EQ(&PerformanceCounterNow, ChooseTickSource(10000000, intel));
  EXPECT_EQ(&PerformanceCounterNow, ChooseTickSource(1, intel));
  EXPECT_EQ(&ExtendedTickCountNow, ChooseTickSource(0, intel));
  EXPECT_EQ(&ExtendedTickCountNow, ChooseTickSource(-1, intel));
  EXPECT_EQ(&ExtendedTickCountNow,
            ChooseTickSource(10000000, intel_variant_tsc));
  // Every AMD part from family 0Fh on reports base family 15.
  EXPECT_EQ(&ExtendedTickCountNow, ChooseTickSource(10000000, amd_zen));
  EXPECT_EQ(&ExtendedTickCountNow, ChooseTickSource(10000000, amd_k8));
  EXPECT_EQ(&PerformanceCounterNow, ChooseTickSource(10000000, amd_family_16));

  EXPECT_TRUE(IsThreadTicksSupportedBy(intel));
  EXPECT_FALSE(IsThreadTicksSupportedBy(intel_variant_tsc));
  EXPECT_FALSE(IsThreadTicksSupportedBy(amd_zen));
  EXPECT_EQ(IsThreadTicksSupportedBy(CPU()), ThreadTicks::IsSupportedWin());
}

TEST_F(TimeWinTest, SelectTickSourceStoresItsChoice) {
  fake_.qpf = 10000000;
  fake_.qpc = 25000000;  // 2.5 s.
  const TickSourceFunction expected = ChooseTickSource(fake_.qpf, CPU());
  {
    ScopedTimeWinOverrideForTesting override_clocks(kFakeCalls,
                                                    &SelectTickSource);
    const TimeTicks first = TimeTicks::Now();
    EXPECT_EQ(expected, ScopedTimeWinOverrideForTesting::tick_source());
    EXPECT_EQ(10000000,
              ScopedTimeWinOverrideForTesting::performance_frequency());
    EXPECT_EQ(expected == &PerformanceCounterNow,
              TimeTicks::IsHighResolution());
    if (expected == &PerformanceCounterNow) {
      EXPECT_EQ(2500000, first.ToInternalValue());
    }
  }
  fake_.qpf_succeeds = false;
  {
    ScopedTimeWinOverrideForTesting override_clocks(kFakeCalls,
                                                    &SelectTickSource);
    fake_.tick_count = 5;
    EXPECT_EQ(5000, TimeTicks::Now().ToInternalValue());
    EXPECT_EQ(&ExtendedTickCountNow,
              ScopedTimeWinOverrideForTesting::tick_source());
    EXPECT_EQ(0, ScopedTimeWinOverrideForTesting::performance_frequency());
    // Later readings go straight to the chosen source.
    fake_.tick_count = 9;
    EXPECT_EQ(9000, TimeTicks::Now().ToInternalValue());
  }
}

TEST_F(TimeWinTest, ExtendedTickCountRollsOver) {
  ScopedTimeWinOverrideForTesting override_clocks(kFakeCalls, nullptr);
  fake_.tick_count = 4278190080u;  // 0xff000000.
  EXPECT_EQ(4278190080000LL, ExtendedTickCountNow().ToInternalValue());
  EXPECT_EQ(0xffu, ScopedTimeWinOverrideForTesting::rollover_word());
  fake_.tick_count = 16;
  EXPECT_EQ(((1LL << 32) + 16) * 1000,
            ExtendedTickCountNow().ToInternalValue());
  EXPECT_EQ(0x10000u, ScopedTimeWinOverrideForTesting::rollover_word());
  // No further rollover while the count grows.
  fake_.tick_count = 0x12345678;
  EXPECT_EQ(((1LL << 32) + 0x12345678) * 1000,
            ExtendedTickCountNow().ToInternalValue());
  EXPECT_EQ(0x10012u, ScopedTimeWinOverrideForTesting::rollover_word());
  fake_.tick_count = 0x12000000;  // Same top byte: the word stays.
  ExtendedTickCountNow();
  EXPECT_EQ(0x10012u, ScopedTimeWinOverrideForTesting::rollover_word());

  // Bits 8-15 pass through unchanged; the count is 16 bits wide.
  ScopedTimeWinOverrideForTesting::set_rollover_word(0xffffabffu);
  fake_.tick_count = 1;
  EXPECT_EQ(1000, ExtendedTickCountNow().ToInternalValue());
  EXPECT_EQ(0x0000ab00u, ScopedTimeWinOverrideForTesting::rollover_word());
}

TEST_F(TimeWinTest, PerformanceCounterScaling) {
  ScopedTimeWinOverrideForTesting override_clocks(kFakeCalls, nullptr);
  ScopedTimeWinOverrideForTesting::set_performance_frequency(3000000);
  fake_.qpc = 9000001;
  EXPECT_EQ(3000000, PerformanceCounterNow().ToInternalValue());

  // Large enough that counter × 10^6 would overflow.
  const int64_t kLarge = (1LL << 62) + 12345;
  fake_.qpc = kLarge;
  const __int128 exact = static_cast<__int128>(kLarge) * 1000000 / 3000000;
  EXPECT_EQ(static_cast<int64_t>(exact),
            PerformanceCounterNow().ToInternalValue());
  ScopedTimeWinOverrideForTesting::set_performance_frequency(14318180);
  // The last value scaled directly, and the first one past it.
  for (int64_t counter : {9223372036854LL, 9223372036855LL}) {
    fake_.qpc = counter;
    EXPECT_EQ(static_cast<int64_t>(static_cast<__int128>(counter) * 1000000 /
                                   14318180),
              PerformanceCounterNow().ToInternalValue());
  }
}

TEST_F(TimeWinTest, WallClockResynchronisesAfterSixtySeconds) {
  constexpr uint64_t kSystemTime = 133000000000000000ULL;  // 100-ns units.
  constexpr int64_t kSecond = 1000000;
  const Time system_time = Time::FromInternalValue(kSystemTime / 10);
  fake_.file_time = kSystemTime;
  fake_.ticks_us = 7 * kSecond;
  {
    ScopedTimeWinOverrideForTesting override_clocks(kFakeCalls,
                                                    &FakeTickSource);
    EXPECT_EQ(system_time, Time::Now());
    EXPECT_EQ(1, fake_.system_time_reads);
    // The system clock moves on its own; the wall clock follows the ticks.
    fake_.file_time += 100 * 10 * kSecond;
    fake_.ticks_us += 59 * kSecond;
    EXPECT_EQ(system_time + TimeDelta::FromSeconds(59), Time::Now());
    EXPECT_EQ(1, fake_.system_time_reads);
    fake_.ticks_us += 1 * kSecond;  // Exactly 60 s: not yet.
    EXPECT_EQ(system_time + TimeDelta::FromSeconds(60), Time::Now());
    EXPECT_EQ(1, fake_.system_time_reads);
    fake_.ticks_us += 1 * kSecond;  // 61 s: the system clock is read again.
    EXPECT_EQ(system_time + TimeDelta::FromSeconds(100), Time::Now());
    EXPECT_EQ(2, fake_.system_time_reads);
    // And continues from the new pair.
    fake_.ticks_us += 2 * kSecond;
    EXPECT_EQ(system_time + TimeDelta::FromSeconds(102), Time::Now());
    EXPECT_EQ(2, fake_.system_time_reads);

    // NowFromSystemTime always resynchronises.
    fake_.file_time += 5 * 10 * kSecond;
    EXPECT_EQ(system_time + TimeDelta::FromSeconds(105),
              Time::NowFromSystemTime());
    EXPECT_EQ(3, fake_.system_time_reads);
    fake_.ticks_us += kSecond;
    EXPECT_EQ(system_time + TimeDelta::FromSeconds(106), Time::Now());
    EXPECT_EQ(3, fake_.system_time_reads);
  }
}

TEST_F(TimeWinTest, HighResolutionTimerPeriodIsBalanced) {
  ScopedTimeWinOverrideForTesting override_clocks(kFakeCalls, nullptr);
  Time::ActivateHighResolutionTimer(true);
  EXPECT_EQ(std::vector<UINT>{4}, fake_.begin_periods);
  Time::ActivateHighResolutionTimer(true);
  EXPECT_EQ(std::vector<UINT>{4}, fake_.begin_periods);
  EXPECT_EQ(2u, ScopedTimeWinOverrideForTesting::timer_period_activations());
  Time::ActivateHighResolutionTimer(false);
  EXPECT_TRUE(fake_.end_periods.empty());
  Time::ActivateHighResolutionTimer(false);
  EXPECT_EQ(std::vector<UINT>{4}, fake_.end_periods);
  EXPECT_EQ(0u, ScopedTimeWinOverrideForTesting::timer_period_activations());
  // 0 -> 1 again asks again.
  Time::ActivateHighResolutionTimer(true);
  EXPECT_EQ((std::vector<UINT>{4, 4}), fake_.begin_periods);
  Time::ActivateHighResolutionTimer(false);
  EXPECT_EQ((std::vector<UINT>{4, 4}), fake_.end_periods);
}

TEST_F(TimeWinTest, TimeStampCounterRateNeedsFiftyMilliseconds) {
  fake_.qpf = 1000;
  fake_.qpc = 1000;
  ScopedTimeWinOverrideForTesting override_clocks(kFakeCalls, nullptr);
  // The first attempt takes the first readings: no time has passed.
  EXPECT_EQ(0, TimeStampCounterFrequency());
  EXPECT_TRUE(subtle::ThreadTicksNowIgnoringOverride().is_null());
  fake_.qpc = 1049;  // 49 ms after the first readings.
  EXPECT_EQ(0, TimeStampCounterFrequency());
  fake_.qpc = 1100;  // 100 ms.
  const double rate = TimeStampCounterFrequency();
  EXPECT_GT(rate, 0);
  // Fixed from now on, whatever the counters say.
  fake_.qpc = 100000;
  EXPECT_EQ(rate, TimeStampCounterFrequency());
  EXPECT_GE(subtle::ThreadTicksNowIgnoringOverride().ToInternalValue(), 0);
}

}  // namespace
}  // namespace internal
}  // namespace base
