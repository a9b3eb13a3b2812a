#ifndef BASE_SYNCHRONIZATION_WAITABLE_EVENT_H_
#define BASE_SYNCHRONIZATION_WAITABLE_EVENT_H_

#include <windows.h>

#include "base/macros.h"
#include "base/time/time.h"
#include "base/win/scoped_handle.h"

namespace base {

// A kernel event that threads signal and wait on. Every operation may be
// called from any thread at any time: the kernel object is the only state.
class WaitableEvent {
 public:
  enum class ResetPolicy {
    MANUAL = 0,     // Stays signalled until Reset().
    AUTOMATIC = 1,  // A satisfied wait (IsSignaled() too) unsignals it.
  };

  enum class InitialState {
    SIGNALED = 0,
    NOT_SIGNALED = 1,
  };

  // An unnamed event; failing to make one stops the process.
  WaitableEvent(ResetPolicy reset_policy = ResetPolicy::MANUAL,
                InitialState initial_state = InitialState::NOT_SIGNALED);
  ~WaitableEvent();

  void Reset();
  void Signal();

  // Polls without waiting. On an automatic-reset event a true answer
  // consumes the signal.
  bool IsSignaled();

  // Waits until signalled.
  void Wait();

  // Wait at most |wait_delta| (a zero span only polls), or until the
  // monotonic |end_time| (a null or past one only polls). True when the
  // event was signalled; false never comes before the span has passed by
  // TimeTicks.
  bool TimedWait(const TimeDelta& wait_delta);
  bool TimedWaitUntil(const TimeTicks& end_time);

  HANDLE handle() const { return handle_.Get(); }

 private:
  win::ScopedHandle handle_;

  DISALLOW_COPY_AND_ASSIGN(WaitableEvent);
};

namespace internal {

// The kernel time-out for one step of a bounded wait with |remaining| left:
// at least 1 ms, whole milliseconds truncated, saturated to INFINITE.
DWORD BoundedWaitTimeout(TimeDelta remaining);

}  // namespace internal

}  // namespace base

#endif  // BASE_SYNCHRONIZATION_WAITABLE_EVENT_H_
