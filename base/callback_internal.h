#ifndef BASE_CALLBACK_INTERNAL_H_
#define BASE_CALLBACK_INTERNAL_H_

#include <stdint.h>

#include <atomic>

#include "base/callback_forward.h"
#include "base/macros.h"

namespace base {
namespace internal {

class CallbackBase;
class CallbackBaseCopyable;

// The header of every bound call: a reference count and the three functions
// that know the concrete record behind it. The bound functor and then the
// bound arguments follow in the same allocation (see bind_internal.h).
//
// The functions are plain pointers rather than virtual functions so that a
// record costs no vtable per bound signature and the header's layout is
// fixed: count, invoke, destroy, cancellation query.
class BindStateBase {
 public:
  // The invoke function's real type depends on the callback's signature
  // (R (*)(BindStateBase*, Args&&...)); the callback casts it back.
  using InvokeFuncStorage = void (*)();
  using DestroyFunc = void (*)(const BindStateBase*);
  using QueryCancellationFunc = bool (*)(const BindStateBase*);

  // A state that can never be cancelled.
  BindStateBase(InvokeFuncStorage polymorphic_invoke, DestroyFunc destroy);
  // A state whose target can go away (a weak receiver, a bound callback).
  BindStateBase(InvokeFuncStorage polymorphic_invoke,
                DestroyFunc destroy,
                QueryCancellationFunc query_cancellation);

 protected:
  // Only the destroy function ends a record's life.
  ~BindStateBase() = default;

 private:
  friend class CallbackBase;
  friend class CallbackBaseCopyable;

  void AddRef() const;
  void Release() const;
  bool IsCancelled() const { return query_cancellation_(this); }

  // A new state starts at 1: the callback that is created holds it.
  mutable std::atomic<uint32_t> ref_count_;
  InvokeFuncStorage polymorphic_invoke_;
  DestroyFunc destroy_;
  QueryCancellationFunc query_cancellation_;

  DISALLOW_COPY_AND_ASSIGN(BindStateBase);
};

// Holds one reference to a state, or nothing for a null callback. Move-only;
// the copyable form is CallbackBaseCopyable.
class CallbackBase {
 public:
  CallbackBase(CallbackBase&& other) noexcept;
  CallbackBase& operator=(CallbackBase&& other) noexcept;

  bool is_null() const { return bind_state_ == nullptr; }
  explicit operator bool() const { return !is_null(); }

  // True when running the callback would do nothing because its target is
  // gone. Only for a non-null callback.
  bool IsCancelled() const;

  // Nulls the callback first, then drops its reference, so that a state
  // whose destruction reaches back to this callback finds it null.
  void Reset();

 protected:
  constexpr CallbackBase() = default;
  // Adopts the reference that the new state was made with.
  explicit CallbackBase(BindStateBase* bind_state);
  ~CallbackBase();

  // Returns true when both callbacks share one state (or both are null).
  bool EqualsInternal(const CallbackBase& other) const {
    return bind_state_ == other.bind_state_;
  }

  BindStateBase* bind_state() const { return bind_state_; }
  BindStateBase::InvokeFuncStorage polymorphic_invoke() const {
    return bind_state_->polymorphic_invoke_;
  }

  // Out of line, so that every instantiation of Run() stays small. Both
  // accept null.
  static void AddRefState(BindStateBase* bind_state);
  static void ReleaseState(BindStateBase* bind_state);

  BindStateBase* bind_state_ = nullptr;
};

// The copyable form: copies share one state and its count.
class CallbackBaseCopyable : public CallbackBase {
 public:
  CallbackBaseCopyable(const CallbackBaseCopyable& other);
  CallbackBaseCopyable(CallbackBaseCopyable&& other) noexcept = default;
  CallbackBaseCopyable& operator=(const CallbackBaseCopyable& other);
  CallbackBaseCopyable& operator=(CallbackBaseCopyable&& other) noexcept =
      default;

 protected:
  constexpr CallbackBaseCopyable() = default;
  explicit CallbackBaseCopyable(BindStateBase* bind_state)
      : CallbackBase(bind_state) {}
  ~CallbackBaseCopyable() = default;
};

}  // namespace internal
}  // namespace base

#endif  // BASE_CALLBACK_INTERNAL_H_
