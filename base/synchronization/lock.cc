#include "base/synchronization/lock.h"

#include "base/debug/activity_tracker.h"
#include "base/debug/stack_trace.h"

namespace base {

void Lock::Acquire() {
  // Tracking off: the activity record would be empty, so skip it outright
  // and keep the acquire at one kernel call.
  if (!debug::GlobalActivityTracker::Get()) {
    ::AcquireSRWLockExclusive(&native_lock_);
    return;
  }

  // Tracking on: only a lock that must be waited for is worth a record.
  if (::TryAcquireSRWLockExclusive(&native_lock_))
    return;
  debug::ScopedLockAcquireActivity activity(debug::GetProgramCounter(), this);
  ::AcquireSRWLockExclusive(&native_lock_);
}

}  // namespace base
