#ifndef BASE_THREADING_SCOPED_BLOCKING_CALL_H_
#define BASE_THREADING_SCOPED_BLOCKING_CALL_H_

#include "base/macros.h"

namespace base {

enum class BlockingType {
  // The call may block, e.g. a wait that is often satisfied at once.
  MAY_BLOCK = 0,
  // The call will block, e.g. a synchronous read from a slow device.
  WILL_BLOCK = 1,
};

// Told when the thread it watches starts and stops blocking. Installed per
// thread; scheduler workers use it to make up for a blocked worker.
class BlockingObserver {
 public:
  virtual ~BlockingObserver() = default;

  // The outermost blocking scope of the thread opened.
  virtual void BlockingStarted(BlockingType blocking_type) = 0;
  // A WILL_BLOCK scope opened inside scopes that were all MAY_BLOCK.
  virtual void BlockingTypeUpgraded() = 0;
  // The outermost blocking scope of the thread closed.
  virtual void BlockingEnded() = 0;
};

// Installs |observer| (or none, with null) for the calling thread.
void SetBlockingObserverForCurrentThread(BlockingObserver* observer);

// Opened around every call that may block the thread. Scopes nest per
// thread; only the outermost one starts and ends the observer's blocked
// state.
class ScopedBlockingCall {
 public:
  explicit ScopedBlockingCall(BlockingType blocking_type);
  ~ScopedBlockingCall();

 private:
  BlockingObserver* const blocking_observer_;
  const ScopedBlockingCall* const previous_scoped_blocking_call_;
  const bool is_will_block_;

  DISALLOW_COPY_AND_ASSIGN(ScopedBlockingCall);
};

}  // namespace base

#endif  // BASE_THREADING_SCOPED_BLOCKING_CALL_H_
