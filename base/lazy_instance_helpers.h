#ifndef BASE_LAZY_INSTANCE_HELPERS_H_
#define BASE_LAZY_INSTANCE_HELPERS_H_

#include <stdint.h>

#include <atomic>

// The gate that lets exactly one thread create a process-wide object on first
// use. Its state word is 0 (not created), 1 (being created) or the address of
// the object. The word needs no constructor, so gates in static storage work
// before any static initialiser ran.

namespace base {
namespace internal {

using LazyInstanceState = std::atomic<uintptr_t>;

constexpr uintptr_t kLazyInstanceStateNone = 0;
constexpr uintptr_t kLazyInstanceStateCreating = 1;

// True when the caller won the right to create the object and must call
// CompleteLazyInstance. False when another thread created it (or tried to):
// this returns only once that creation is over.
bool NeedsLazyInstance(LazyInstanceState* state);

// Publishes the object (or puts the word back to 0 when creation produced
// none, so the next caller tries again). A non-null |destructor| is run with
// |destructor_arg| by the at-exit manager.
void CompleteLazyInstance(LazyInstanceState* state,
                          uintptr_t new_instance,
                          void (*destructor)(void*),
                          void* destructor_arg);

// The object behind |state|, made by |creator|() (a Type*) when nobody made
// it yet. Null when the creation produced nothing.
template <typename Type, typename CreatorFunc>
Type* GetOrCreateLazyPointer(LazyInstanceState* state,
                             CreatorFunc&& creator,
                             void (*destructor)(void*),
                             void* destructor_arg) {
  const uintptr_t value = state->load(std::memory_order_acquire);
  if (value > kLazyInstanceStateCreating)
    return reinterpret_cast<Type*>(value);

  if (NeedsLazyInstance(state)) {
    Type* instance = creator();
    CompleteLazyInstance(state, reinterpret_cast<uintptr_t>(instance),
                         destructor, destructor_arg);
    return instance;
  }
  return reinterpret_cast<Type*>(state->load(std::memory_order_acquire));
}

}  // namespace internal
}  // namespace base

#endif  // BASE_LAZY_INSTANCE_HELPERS_H_
