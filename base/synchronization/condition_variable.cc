#include "base/synchronization/condition_variable.h"

#include <stdint.h>

#include "base/threading/scoped_blocking_call.h"

namespace base {

ConditionVariable::ConditionVariable(Lock* user_lock)
    : srwlock_(&user_lock->native_lock_) {
  ::InitializeConditionVariable(&cv_);
}

void ConditionVariable::Wait() {
  // 4294967295 ms is the kernel's INFINITE.
  TimedWait(TimeDelta::FromMilliseconds(INFINITE));
}

void ConditionVariable::TimedWait(const TimeDelta& max_time) {
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  // The low 32 bits of the whole milliseconds: the maximum span (and any
  // span of 2^32 - 1 ms) becomes INFINITE. Callers pass nothing negative
  // or longer.
  const DWORD timeout =
      static_cast<DWORD>(static_cast<uint64_t>(max_time.InMilliseconds()));
  // Flags 0: the lock is held exclusively. Whether the wait timed out does
  // not matter; the caller re-tests its condition.
  ::SleepConditionVariableSRW(&cv_, srwlock_, timeout, 0);
}

void ConditionVariable::Signal() {
  ::WakeConditionVariable(&cv_);
}

void ConditionVariable::Broadcast() {
  ::WakeAllConditionVariable(&cv_);
}

}  // namespace base
