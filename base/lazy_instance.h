#ifndef BASE_LAZY_INSTANCE_H_
#define BASE_LAZY_INSTANCE_H_

#include <stdint.h>

#include <new>

#include "base/lazy_instance_helpers.h"

// A process-wide object made on first use, in storage reserved in the
// LazyInstance itself:
//
//   base::LazyInstance<Registry>::Leaky g_registry = LAZY_INSTANCE_INITIALIZER;
//   g_registry.Get().Add(...);
//
// The LazyInstance is constant-initialised (no static constructor, no
// static destructor), so it can be used from any thread at any time. Racing
// first users see exactly one object. A Leaky instance lives until the
// process ends; a DestructorAtExit one is destroyed by the at-exit manager
// (when there is one) and may then be made again.

#define LAZY_INSTANCE_INITIALIZER \
  {}

namespace base {

namespace internal {

struct LeakyLazyInstanceTraits {
  static constexpr bool kDestroyAtExit = false;
};

struct DestructorAtExitLazyInstanceTraits {
  static constexpr bool kDestroyAtExit = true;
};

}  // namespace internal

template <typename Type,
          typename Traits = internal::DestructorAtExitLazyInstanceTraits>
class LazyInstance {
 public:
  using Leaky = LazyInstance<Type, internal::LeakyLazyInstanceTraits>;
  using DestructorAtExit =
      LazyInstance<Type, internal::DestructorAtExitLazyInstanceTraits>;

  constexpr LazyInstance() = default;
  LazyInstance(const LazyInstance&) = delete;
  LazyInstance& operator=(const LazyInstance&) = delete;

  Type& Get() { return *Pointer(); }

  Type* Pointer() {
    return internal::GetOrCreateLazyPointer<Type>(
        &state_, [this]() { return new (storage_) Type(); },
        Traits::kDestroyAtExit ? &OnExit : nullptr, this);
  }

  Type* operator->() { return Pointer(); }
  Type& operator*() { return *Pointer(); }

  // True once the object exists; racy by nature, for callers that only want
  // to use the object when somebody else made it.
  bool IsCreated() const {
    return state_.load(std::memory_order_acquire) >
           internal::kLazyInstanceStateCreating;
  }

 private:
  static void OnExit(void* lazy_instance) {
    LazyInstance* self = static_cast<LazyInstance*>(lazy_instance);
    reinterpret_cast<Type*>(self->state_.load(std::memory_order_acquire))
        ->~Type();
    self->state_.store(internal::kLazyInstanceStateNone,
                       std::memory_order_release);
  }

  internal::LazyInstanceState state_{internal::kLazyInstanceStateNone};
  alignas(Type) char storage_[sizeof(Type)] = {};
};

}  // namespace base

#endif  // BASE_LAZY_INSTANCE_H_
