#include "base/memory/weak_ptr.h"

namespace base {
namespace internal {

WeakReference::WeakReference() = default;

WeakReference::WeakReference(const Flag* flag) : flag_(flag) {}

WeakReference::WeakReference(const WeakReference& other) = default;

WeakReference::WeakReference(WeakReference&& other) noexcept = default;

WeakReference& WeakReference::operator=(const WeakReference& other) = default;

WeakReference& WeakReference::operator=(WeakReference&& other) noexcept =
    default;

WeakReference::~WeakReference() = default;

bool WeakReference::IsValid() const {
  return flag_ && flag_->IsValid();
}

WeakReferenceOwner::WeakReferenceOwner() = default;

WeakReferenceOwner::~WeakReferenceOwner() {
  Invalidate();
}

WeakReference WeakReferenceOwner::GetRef() const {
  // A flag that only the owner still holds has no weak pointer left to tell
  // anything, so it is replaced rather than reused: one flag never serves
  // two generations of weak pointers. The new flag is made before the old
  // one is dropped.
  if (!flag_ || flag_->HasOneRef())
    flag_ = new WeakReference::Flag();
  return WeakReference(flag_.get());
}

void WeakReferenceOwner::Invalidate() {
  if (flag_) {
    flag_->Invalidate();
    flag_ = nullptr;
  }
}

WeakPtrFactoryBase::WeakPtrFactoryBase(uintptr_t ptr) : ptr_(ptr) {}

WeakPtrFactoryBase::~WeakPtrFactoryBase() {
  ptr_ = 0;
  weak_reference_owner_.Invalidate();
}

}  // namespace internal
}  // namespace base
