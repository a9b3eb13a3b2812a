#include "base/synchronization/waitable_event.h"

#include <stdint.h>

#include "base/check.h"
#include "base/debug/activity_tracker.h"
#include "base/debug/stack_trace.h"
#include "base/threading/scoped_blocking_call.h"

namespace base {

namespace {

// Waits on |handle| from |now| until |end_time| by TimeTicks. A kernel
// time-out that ends early (the kernel counts in coarse ticks) is continued
// with what is left, so false never comes before |end_time|.
bool WaitUntil(HANDLE handle, TimeTicks now, TimeTicks end_time) {
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  TimeDelta remaining = end_time - now;
  for (;;) {
    const DWORD result =
        ::WaitForSingleObject(handle, internal::BoundedWaitTimeout(remaining));
    if (result == WAIT_OBJECT_0)
      return true;
    // A failed wait cannot happen on the valid handle every event holds;
    // should it anyway, answer "not signalled" rather than spin on it.
    if (result != WAIT_TIMEOUT)
      return false;
    remaining = end_time - TimeTicks::Now();
    if (remaining <= TimeDelta())
      return false;
  }
}

}  // namespace

namespace internal {

DWORD BoundedWaitTimeout(TimeDelta remaining) {
  const TimeDelta kMinimum = TimeDelta::FromMilliseconds(1);
  if (remaining < kMinimum)
    remaining = kMinimum;
  const int64_t milliseconds = remaining.InMilliseconds();
  if (milliseconds < 0)
    return 0;
  if (milliseconds >= static_cast<int64_t>(INFINITE))
    return INFINITE;
  return static_cast<DWORD>(milliseconds);
}

}  // namespace internal

WaitableEvent::WaitableEvent(ResetPolicy reset_policy,
                             InitialState initial_state)
    : handle_(::CreateEventW(nullptr,
                             reset_policy == ResetPolicy::MANUAL,
                             initial_state == InitialState::SIGNALED,
                             nullptr)) {
  // Nothing can wait without the kernel object; no event exists without it.
  CHECK(handle_.IsValid());
}

WaitableEvent::~WaitableEvent() = default;

void WaitableEvent::Reset() {
  ::ResetEvent(handle_.Get());
}

void WaitableEvent::Signal() {
  ::SetEvent(handle_.Get());
}

bool WaitableEvent::IsSignaled() {
  return ::WaitForSingleObject(handle_.Get(), 0) == WAIT_OBJECT_0;
}

void WaitableEvent::Wait() {
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  debug::ScopedEventWaitActivity event_activity(debug::GetProgramCounter(),
                                                this);
  ::WaitForSingleObject(handle_.Get(), INFINITE);
}

bool WaitableEvent::TimedWait(const TimeDelta& wait_delta) {
  if (wait_delta.is_zero())
    return IsSignaled();

  debug::ScopedEventWaitActivity event_activity(debug::GetProgramCounter(),
                                                this);
  const TimeTicks now = TimeTicks::Now();
  // Saturates, so the maximum span ends at the largest time and waits
  // without a time-out.
  return WaitUntil(handle_.Get(), now, now + wait_delta);
}

bool WaitableEvent::TimedWaitUntil(const TimeTicks& end_time) {
  if (end_time.is_null())
    return IsSignaled();

  debug::ScopedEventWaitActivity event_activity(debug::GetProgramCounter(),
                                                this);
  const TimeTicks now = TimeTicks::Now();
  if (end_time <= now)
    return IsSignaled();
  return WaitUntil(handle_.Get(), now, end_time);
}

}  // namespace base
