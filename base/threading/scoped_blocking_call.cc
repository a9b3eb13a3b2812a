#include "base/threading/scoped_blocking_call.h"

#include "base/lazy_instance.h"
#include "base/threading/thread_local_storage.h"

namespace base {

namespace {

// Neither slot owns what it points to, so neither has a destructor.
LazyInstance<ThreadLocalStorage::Slot>::Leaky g_blocking_observer_slot =
    LAZY_INSTANCE_INITIALIZER;
LazyInstance<ThreadLocalStorage::Slot>::Leaky g_scoped_blocking_call_slot =
    LAZY_INSTANCE_INITIALIZER;

}  // namespace

void SetBlockingObserverForCurrentThread(BlockingObserver* observer) {
  g_blocking_observer_slot.Get().Set(observer);
}

ScopedBlockingCall::ScopedBlockingCall(BlockingType blocking_type)
    : blocking_observer_(
          static_cast<BlockingObserver*>(g_blocking_observer_slot.Get().Get())),
      previous_scoped_blocking_call_(static_cast<const ScopedBlockingCall*>(
          g_scoped_blocking_call_slot.Get().Get())),
      is_will_block_(blocking_type == BlockingType::WILL_BLOCK ||
                     (previous_scoped_blocking_call_ &&
                      previous_scoped_blocking_call_->is_will_block_)) {
  g_scoped_blocking_call_slot.Get().Set(this);

  if (!blocking_observer_)
    return;
  if (!previous_scoped_blocking_call_) {
    blocking_observer_->BlockingStarted(blocking_type);
  } else if (!previous_scoped_blocking_call_->is_will_block_ &&
             blocking_type == BlockingType::WILL_BLOCK) {
    blocking_observer_->BlockingTypeUpgraded();
  }
}

ScopedBlockingCall::~ScopedBlockingCall() {
  g_scoped_blocking_call_slot.Get().Set(
      const_cast<ScopedBlockingCall*>(previous_scoped_blocking_call_));
  if (blocking_observer_ && !previous_scoped_blocking_call_)
    blocking_observer_->BlockingEnded();
}

}  // namespace base
