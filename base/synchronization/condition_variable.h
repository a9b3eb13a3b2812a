#ifndef BASE_SYNCHRONIZATION_CONDITION_VARIABLE_H_
#define BASE_SYNCHRONIZATION_CONDITION_VARIABLE_H_

#include <windows.h>

#include "base/macros.h"
#include "base/synchronization/lock.h"
#include "base/time/time.h"

namespace base {

// A kernel condition variable bound to one Lock, which must outlive it.
// Waits are made with that lock held; it is released while the thread
// sleeps and held again on return. Wake-ups may be spurious, so every
// caller waits in a loop around its own condition.
class ConditionVariable {
 public:
  explicit ConditionVariable(Lock* user_lock);

  // Sleeps until woken.
  void Wait();
  // Sleeps until woken or until |max_time| (whole milliseconds) has passed;
  // the caller re-tests its condition either way.
  void TimedWait(const TimeDelta& max_time);

  // Wakes one waiter.
  void Signal();
  // Wakes every waiter.
  void Broadcast();

 private:
  CONDITION_VARIABLE cv_;
  SRWLOCK* const srwlock_;

  DISALLOW_COPY_AND_ASSIGN(ConditionVariable);
};

}  // namespace base

#endif  // BASE_SYNCHRONIZATION_CONDITION_VARIABLE_H_
