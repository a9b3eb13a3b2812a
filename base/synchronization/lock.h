#ifndef BASE_SYNCHRONIZATION_LOCK_H_
#define BASE_SYNCHRONIZATION_LOCK_H_

#include <windows.h>

#include "base/macros.h"

namespace base {

class ConditionVariable;

// A non-recursive exclusive lock over the kernel's slim reader/writer lock.
// A thread never takes a Lock it already holds, and only the holder
// releases it.
class Lock {
 public:
  Lock() = default;

  // Takes the lock, waiting as long as needed. A wait that actually blocks
  // is recorded with the activity tracker, so a hung process shows which
  // lock each thread is stuck on.
  void Acquire();
  void Release() { ::ReleaseSRWLockExclusive(&native_lock_); }

  // Takes the lock when it is free; false at once when it is held.
  bool Try() { return ::TryAcquireSRWLockExclusive(&native_lock_) != FALSE; }

  // The lock keeps no owner, so there is nothing to check against.
  void AssertAcquired() const {}

 private:
  friend class ConditionVariable;

  SRWLOCK native_lock_ = SRWLOCK_INIT;

  DISALLOW_COPY_AND_ASSIGN(Lock);
};

// Holds a Lock for the life of the scope.
class AutoLock {
 public:
  explicit AutoLock(Lock& lock) : lock_(lock) { lock_.Acquire(); }
  ~AutoLock() { lock_.Release(); }

 private:
  Lock& lock_;

  DISALLOW_COPY_AND_ASSIGN(AutoLock);
};

// Releases a held Lock for the life of the scope and takes it back after.
class AutoUnlock {
 public:
  explicit AutoUnlock(Lock& lock) : lock_(lock) { lock_.Release(); }
  ~AutoUnlock() { lock_.Acquire(); }

 private:
  Lock& lock_;

  DISALLOW_COPY_AND_ASSIGN(AutoUnlock);
};

}  // namespace base

#endif  // BASE_SYNCHRONIZATION_LOCK_H_
