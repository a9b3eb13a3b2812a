#include "base/time/time_win.h"

#include <windows.h>

#include <mmsystem.h>
#include <x86intrin.h>

#include <atomic>
#include <limits>

#include "base/check.h"
#include "base/cpu.h"
#include "base/time/time_override.h"
#include "base/win/system_library.h"

namespace base {

namespace {

constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();

// The wall clock follows the tick source between synchronisations with the
// system time, and is pulled back to it once this much has passed.
constexpr int64_t kMaxMicrosecondsToAvoidDrift = 60 * 1000 * 1000;

// The finest system timer period the message loop asks for, in ms.
constexpr UINT kMinTimerIntervalMs = 4;

// winmm is no known DLL of the system: imported by name, a copy planted in
// the installer's download folder would be loaded with the library, before
// any code of ours could refuse it. Its three functions are looked up in the
// system folder's copy instead.
struct WinmmFunctions {
  using GetTimeFunction = DWORD(WINAPI*)();
  using PeriodFunction = MMRESULT(WINAPI*)(UINT);

  WinmmFunctions() {
    HMODULE winmm = win::LoadSystemLibrary(L"winmm.dll");
    if (!winmm)
      return;
    get_time = reinterpret_cast<GetTimeFunction>(
        ::GetProcAddress(winmm, "timeGetTime"));
    begin_period = reinterpret_cast<PeriodFunction>(
        ::GetProcAddress(winmm, "timeBeginPeriod"));
    end_period = reinterpret_cast<PeriodFunction>(
        ::GetProcAddress(winmm, "timeEndPeriod"));
  }

  GetTimeFunction get_time = nullptr;
  PeriodFunction begin_period = nullptr;
  PeriodFunction end_period = nullptr;
};

const WinmmFunctions& Winmm() {
  static const WinmmFunctions functions;
  return functions;
}

// Without winmm the tick count is the same millisecond clock, at the
// default timer period, which then cannot be changed.
DWORD WINAPI TimeGetTime() {
  return Winmm().get_time ? Winmm().get_time() : ::GetTickCount();
}

MMRESULT WINAPI TimeBeginPeriod(UINT period) {
  return Winmm().begin_period ? Winmm().begin_period(period) : TIMERR_NOCANDO;
}

MMRESULT WINAPI TimeEndPeriod(UINT period) {
  return Winmm().end_period ? Winmm().end_period(period) : TIMERR_NOCANDO;
}

const internal::TimeSystemCalls kRealCalls = {
    TimeGetTime,
    GetSystemTimeAsFileTime,
    QueryPerformanceFrequency,
    QueryPerformanceCounter,
    TimeBeginPeriod,
    TimeEndPeriod,
};

std::atomic<const internal::TimeSystemCalls*> g_calls{&kRealCalls};

const internal::TimeSystemCalls& Calls() {
  return *g_calls.load(std::memory_order_relaxed);
}

std::atomic<internal::TickSourceFunction> g_tick_source{
    &internal::SelectTickSource};
std::atomic<int64_t> g_qpc_frequency{0};

// The wall clock's last synchronisation with the system time. Each is read
// and written whole without a lock: racing synchronisations store fresh
// readings, and a reader that mixes two recent pairs is off by at most the
// time between them.
std::atomic<int64_t> g_initial_time{0};
std::atomic<int64_t> g_initial_ticks{0};

// Bits 0-7: bits 24-31 of the last timeGetTime reading; bits 8-15: carried
// unchanged; bits 16-31: the rollovers counted so far.
std::atomic<uint32_t> g_rollover_word{0};

SRWLOCK g_timer_period_lock = SRWLOCK_INIT;
uint32_t g_timer_period_activations = 0;

// The time-stamp-counter rate and the first readings it is measured from.
std::atomic<double> g_tsc_ticks_per_second{0};
enum : int { kNotRead = 0, kReading = 1, kRead = 2 };
std::atomic<int> g_first_readings_state{kNotRead};
uint64_t g_first_tsc = 0;
int64_t g_first_qpc = 0;

int64_t FileTimeToMicroseconds(const FILETIME& ft) {
  const uint64_t value =
      (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<int64_t>(value) / 10;
}

FILETIME MicrosecondsToFileTime(int64_t us) {
  const uint64_t value = static_cast<uint64_t>(us) * 10;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(value);
  ft.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return ft;
}

int64_t ReadPerformanceCounter() {
  LARGE_INTEGER value;
  value.QuadPart = 0;
  Calls().query_performance_counter(&value);
  return value.QuadPart;
}

TimeTicks ReadTickSource() {
  return g_tick_source.load(std::memory_order_relaxed)();
}

void SynchronizeWallClock() {
  g_initial_ticks.store(ReadTickSource().ToInternalValue(),
                        std::memory_order_relaxed);
  FILETIME ft = {};
  Calls().get_system_time_as_file_time(&ft);
  g_initial_time.store(FileTimeToMicroseconds(ft), std::memory_order_relaxed);
}

Time PlatformTimeNow() {
  if (g_initial_time.load(std::memory_order_relaxed) == 0)
    SynchronizeWallClock();
  for (;;) {
    const int64_t elapsed = time_internal::SaturatedSub(
        ReadTickSource().ToInternalValue(),
        g_initial_ticks.load(std::memory_order_relaxed));
    if (elapsed > kMaxMicrosecondsToAvoidDrift) {
      SynchronizeWallClock();
      continue;
    }
    return Time::FromInternalValue(time_internal::SaturatedAdd(
        g_initial_time.load(std::memory_order_relaxed), elapsed));
  }
}

Time PlatformTimeNowFromSystemTime() {
  SynchronizeWallClock();
  return Time::FromInternalValue(
      g_initial_time.load(std::memory_order_relaxed));
}

// Only reached until the tick source is chosen: selection then points
// TimeTicks::Now straight at the chosen source.
TimeTicks PlatformTicksNow() {
  return ReadTickSource();
}

// Reads the time-stamp counter and the performance counter once per process,
// in that order; concurrent first callers wait for the one that reads.
void EnsureFirstReadings() {
  int state = g_first_readings_state.load(std::memory_order_acquire);
  if (state == kRead)
    return;
  if (state == kNotRead && g_first_readings_state.compare_exchange_strong(
                               state, kReading, std::memory_order_acq_rel)) {
    g_first_tsc = __rdtsc();
    g_first_qpc = ReadPerformanceCounter();
    g_first_readings_state.store(kRead, std::memory_order_release);
    return;
  }
  while (g_first_readings_state.load(std::memory_order_acquire) != kRead)
    YieldProcessor();
}

ThreadTicks PlatformThreadTicksNow() {
  ULONG64 cycles = 0;
  QueryThreadCycleTime(GetCurrentThread(), &cycles);
  const double rate = internal::TimeStampCounterFrequency();
  if (rate == 0)
    return ThreadTicks();
  return ThreadTicks::FromInternalValue(static_cast<int64_t>(
      static_cast<double>(cycles) / rate * TimeDelta::kMicrosecondsPerSecond));
}

bool IsExcludedProcessor(const CPU& cpu) {
  // AMD's processors report base family 15 from family 0Fh on; their
  // time-stamp counters have not been trusted as a tick source.
  return cpu.vendor() == "AuthenticAMD" && cpu.family() == 15;
}

}  // namespace

namespace internal {

std::atomic<TimeNowFunction> g_time_now_function{&PlatformTimeNow};
std::atomic<TimeNowFunction> g_time_now_from_system_time_function{
    &PlatformTimeNowFromSystemTime};
std::atomic<TimeTicksNowFunction> g_time_ticks_now_function{&PlatformTicksNow};
std::atomic<ThreadTicksNowFunction> g_thread_ticks_now_function{
    &PlatformThreadTicksNow};

const TimeSystemCalls& RealTimeSystemCalls() {
  return kRealCalls;
}

TickSourceFunction ChooseTickSource(int64_t frequency, const CPU& cpu) {
  if (frequency >= 1 && cpu.has_non_stop_tsc() && !IsExcludedProcessor(cpu))
    return &PerformanceCounterNow;
  return &ExtendedTickCountNow;
}

bool IsThreadTicksSupportedBy(const CPU& cpu) {
  return cpu.has_non_stop_tsc() && !IsExcludedProcessor(cpu);
}

TimeTicks SelectTickSource() {
  LARGE_INTEGER frequency;
  frequency.QuadPart = 0;
  if (!Calls().query_performance_frequency(&frequency))
    frequency.QuadPart = 0;
  const CPU cpu;
  const TickSourceFunction chosen = ChooseTickSource(frequency.QuadPart, cpu);
  g_qpc_frequency.store(frequency.QuadPart, std::memory_order_relaxed);
  // A test's override of TimeTicks::Now stays in place.
  TimeTicksNowFunction initial = &PlatformTicksNow;
  g_time_ticks_now_function.compare_exchange_strong(initial, chosen);
  g_tick_source.store(chosen, std::memory_order_relaxed);
  return chosen();
}

TimeTicks PerformanceCounterNow() {
  const int64_t value = ReadPerformanceCounter();
  const int64_t frequency = g_qpc_frequency.load(std::memory_order_relaxed);
  constexpr int64_t kPerSecond = TimeDelta::kMicrosecondsPerSecond;
  if (value <= kInt64Max / kPerSecond)
    return TimeTicks::FromInternalValue(value * kPerSecond / frequency);
  // Split into whole seconds and the rest so that the scaling cannot
  // overflow.
  const int64_t whole_seconds = value / frequency;
  const int64_t rest = value - whole_seconds * frequency;
  return TimeTicks::FromInternalValue(whole_seconds * kPerSecond +
                                      rest * kPerSecond / frequency);
}

TimeTicks ExtendedTickCountNow() {
  for (;;) {
    uint32_t state = g_rollover_word.load(std::memory_order_relaxed);
    const DWORD now = Calls().time_get_time();
    const uint32_t now_top = now >> 24;
    uint32_t rollovers = state >> 16;
    if (now_top < (state & 0xff))
      ++rollovers;
    rollovers &= 0xffff;
    const uint32_t new_state = (state & 0xff00) | now_top | (rollovers << 16);
    // The word changes only when the top byte moves: once every 2^24 ms.
    if (new_state == state ||
        g_rollover_word.compare_exchange_strong(state, new_state,
                                                std::memory_order_relaxed)) {
      const int64_t ms = (static_cast<int64_t>(rollovers) << 32) + now;
      return TimeTicks::FromInternalValue(
          ms * TimeDelta::kMicrosecondsPerMillisecond);
    }
  }
}

double TimeStampCounterFrequency() {
  const double cached = g_tsc_ticks_per_second.load(std::memory_order_relaxed);
  if (cached != 0)
    return cached;

  // Keep the two readings close together.
  HANDLE thread = GetCurrentThread();
  const int previous_priority = GetThreadPriority(thread);
  SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST);
  EnsureFirstReadings();
  const uint64_t tsc_now = __rdtsc();
  const int64_t qpc_now = ReadPerformanceCounter();
  if (previous_priority != THREAD_PRIORITY_ERROR_RETURN)
    SetThreadPriority(thread, previous_priority);

  LARGE_INTEGER frequency;
  frequency.QuadPart = 0;
  Calls().query_performance_frequency(&frequency);
  if (frequency.QuadPart <= 0)
    return 0;
  const double elapsed_seconds =
      static_cast<double>(qpc_now - g_first_qpc) / frequency.QuadPart;
  // Too short to give an accurate rate; a later call measures again against
  // the same first readings.
  if (elapsed_seconds < 0.05)
    return 0;
  const double rate =
      static_cast<double>(tsc_now - g_first_tsc) / elapsed_seconds;
  g_tsc_ticks_per_second.store(rate, std::memory_order_relaxed);
  return rate;
}

struct ScopedTimeWinOverrideForTesting::SavedState {
  const TimeSystemCalls* calls;
  TickSourceFunction tick_source;
  TimeTicksNowFunction time_ticks_now;
  int64_t qpc_frequency;
  int64_t initial_time;
  int64_t initial_ticks;
  uint32_t rollover_word;
  uint32_t timer_period_activations;
  double tsc_ticks_per_second;
  int first_readings_state;
  uint64_t first_tsc;
  int64_t first_qpc;
  TimeSystemCalls override_calls;
};

ScopedTimeWinOverrideForTesting::ScopedTimeWinOverrideForTesting(
    const TimeSystemCalls& calls, TickSourceFunction tick_source)
    : saved_(new SavedState{
          g_calls.load(), g_tick_source.load(),
          g_time_ticks_now_function.load(), g_qpc_frequency.load(),
          g_initial_time.load(), g_initial_ticks.load(), g_rollover_word.load(),
          g_timer_period_activations, g_tsc_ticks_per_second.load(),
          g_first_readings_state.load(), g_first_tsc, g_first_qpc, calls}) {
  g_calls.store(&saved_->override_calls);
  if (tick_source) {
    g_tick_source.store(tick_source);
    g_time_ticks_now_function.store(&PlatformTicksNow);
  }
  g_initial_time.store(0);
  g_initial_ticks.store(0);
  g_rollover_word.store(0);
  g_timer_period_activations = 0;
  g_tsc_ticks_per_second.store(0);
  g_first_readings_state.store(kNotRead);
}

ScopedTimeWinOverrideForTesting::~ScopedTimeWinOverrideForTesting() {
  g_calls.store(saved_->calls);
  g_tick_source.store(saved_->tick_source);
  g_time_ticks_now_function.store(saved_->time_ticks_now);
  g_qpc_frequency.store(saved_->qpc_frequency);
  g_initial_time.store(saved_->initial_time);
  g_initial_ticks.store(saved_->initial_ticks);
  g_rollover_word.store(saved_->rollover_word);
  g_timer_period_activations = saved_->timer_period_activations;
  g_tsc_ticks_per_second.store(saved_->tsc_ticks_per_second);
  g_first_tsc = saved_->first_tsc;
  g_first_qpc = saved_->first_qpc;
  g_first_readings_state.store(saved_->first_readings_state);
  delete saved_;
}

// static
TickSourceFunction ScopedTimeWinOverrideForTesting::tick_source() {
  return g_tick_source.load();
}

// static
void ScopedTimeWinOverrideForTesting::set_tick_source(
    TickSourceFunction tick_source) {
  g_tick_source.store(tick_source);
}

// static
uint32_t ScopedTimeWinOverrideForTesting::rollover_word() {
  return g_rollover_word.load();
}

// static
void ScopedTimeWinOverrideForTesting::set_rollover_word(uint32_t word) {
  g_rollover_word.store(word);
}

// static
int64_t ScopedTimeWinOverrideForTesting::performance_frequency() {
  return g_qpc_frequency.load();
}

// static
void ScopedTimeWinOverrideForTesting::set_performance_frequency(
    int64_t frequency) {
  g_qpc_frequency.store(frequency);
}

// static
uint32_t ScopedTimeWinOverrideForTesting::timer_period_activations() {
  AcquireSRWLockExclusive(&g_timer_period_lock);
  const uint32_t count = g_timer_period_activations;
  ReleaseSRWLockExclusive(&g_timer_period_lock);
  return count;
}

}  // namespace internal

namespace subtle {

Time TimeNowIgnoringOverride() {
  return PlatformTimeNow();
}

Time TimeNowFromSystemTimeIgnoringOverride() {
  return PlatformTimeNowFromSystemTime();
}

TimeTicks TimeTicksNowIgnoringOverride() {
  return ReadTickSource();
}

ThreadTicks ThreadTicksNowIgnoringOverride() {
  return PlatformThreadTicksNow();
}

}  // namespace subtle

// Time ------------------------------------------------------------------------

// static
Time Time::FromFileTime(FILETIME ft) {
  if (ft.dwLowDateTime == 0 && ft.dwHighDateTime == 0)
    return Time();
  if (ft.dwLowDateTime == 0xffffffff && ft.dwHighDateTime == 0xffffffff)
    return Max();
  return Time(FileTimeToMicroseconds(ft));
}

FILETIME Time::ToFileTime() const {
  // Times before the FILETIME epoch have no FILETIME; those beyond its
  // range read as its maximum.
  if (us_ <= 0)
    return FILETIME{0, 0};
  if (us_ > kInt64Max / 10)
    return FILETIME{0xffffffff, 0xffffffff};
  return MicrosecondsToFileTime(us_);
}

// static
void Time::ActivateHighResolutionTimer(bool activating) {
  AcquireSRWLockExclusive(&g_timer_period_lock);
  if (activating) {
    if (g_timer_period_activations++ == 0)
      Calls().time_begin_period(kMinTimerIntervalMs);
  } else {
    DCHECK(g_timer_period_activations > 0);
    if (g_timer_period_activations > 0 && --g_timer_period_activations == 0)
      Calls().time_end_period(kMinTimerIntervalMs);
  }
  ReleaseSRWLockExclusive(&g_timer_period_lock);
}

// static
bool Time::FromExploded(bool is_local, const Exploded& exploded, Time* time) {
  const int fields[] = {exploded.year,        exploded.month,
                        exploded.day_of_week, exploded.day_of_month,
                        exploded.hour,        exploded.minute,
                        exploded.second,      exploded.millisecond};
  SYSTEMTIME st = {};
  WORD* const st_fields[] = {&st.wYear,   &st.wMonth,       &st.wDayOfWeek,
                             &st.wDay,    &st.wHour,        &st.wMinute,
                             &st.wSecond, &st.wMilliseconds};
  for (size_t i = 0; i < 8; ++i) {
    if (static_cast<uint32_t>(fields[i]) > 0xffff) {
      *time = Time();
      return false;
    }
    *st_fields[i] = static_cast<WORD>(fields[i]);
  }

  // The system decides whether the date itself exists.
  FILETIME ft;
  bool success;
  if (is_local) {
    SYSTEMTIME utc;
    success = TzSpecificLocalTimeToSystemTime(nullptr, &st, &utc) &&
              SystemTimeToFileTime(&utc, &ft);
  } else {
    success = SystemTimeToFileTime(&st, &ft) != FALSE;
  }
  if (!success) {
    *time = Time();
    return false;
  }
  *time = Time(FileTimeToMicroseconds(ft));
  return true;
}

void Time::Explode(bool is_local, Exploded* exploded) const {
  *exploded = Exploded{};
  // Negative times, and times whose FILETIME cannot be formed, fail.
  if (us_ < 0 || us_ > kInt64Max / 10)
    return;
  const FILETIME ft = MicrosecondsToFileTime(us_);
  SYSTEMTIME st;
  if (!FileTimeToSystemTime(&ft, &st))
    return;
  if (is_local) {
    // Applies the daylight-saving rule in force at that instant, not now.
    SYSTEMTIME local;
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &st, &local))
      return;
    st = local;
  }
  exploded->year = st.wYear;
  exploded->month = st.wMonth;
  exploded->day_of_week = st.wDayOfWeek;
  exploded->day_of_month = st.wDay;
  exploded->hour = st.wHour;
  exploded->minute = st.wMinute;
  exploded->second = st.wSecond;
  exploded->millisecond = st.wMilliseconds;
}

// TimeTicks / ThreadTicks -----------------------------------------------------

// static
bool TimeTicks::IsHighResolution() {
  if (g_tick_source.load() == &internal::SelectTickSource)
    ReadTickSource();
  return g_tick_source.load() == &internal::PerformanceCounterNow;
}

// static
bool ThreadTicks::IsSupportedWin() {
  static const bool is_supported = internal::IsThreadTicksSupportedBy(CPU());
  return is_supported;
}

}  // namespace base
