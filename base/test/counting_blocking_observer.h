#ifndef BASE_TEST_COUNTING_BLOCKING_OBSERVER_H_
#define BASE_TEST_COUNTING_BLOCKING_OBSERVER_H_

#include "base/macros.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/scoped_blocking_call.h"

namespace base {

// Counts what the blocking scopes of the thread that made it tell it, for as
// long as it lives.
class CountingBlockingObserver : public BlockingObserver {
 public:
  CountingBlockingObserver() { SetBlockingObserverForCurrentThread(this); }
  ~CountingBlockingObserver() override {
    SetBlockingObserverForCurrentThread(nullptr);
  }

  void BlockingStarted(BlockingType blocking_type) override {
    ++started;
    if (blocking_type == BlockingType::MAY_BLOCK)
      ++may_block;
    if (on_started)
      on_started->Signal();
  }
  void BlockingTypeUpgraded() override { ++upgraded; }
  void BlockingEnded() override { ++ended; }

  int started = 0;
  int may_block = 0;
  int upgraded = 0;
  int ended = 0;
  // Signalled when the thread starts to block, if set.
  WaitableEvent* on_started = nullptr;

 private:
  DISALLOW_COPY_AND_ASSIGN(CountingBlockingObserver);
};

}  // namespace base

#endif  // BASE_TEST_COUNTING_BLOCKING_OBSERVER_H_
