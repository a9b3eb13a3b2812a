#ifndef BASE_CALLBACK_H_
#define BASE_CALLBACK_H_

#include <stddef.h>

#include <utility>

#include "base/callback_forward.h"
#include "base/callback_internal.h"
#include "base/check.h"

// Callbacks are made by base::BindOnce() and base::BindRepeating() (see
// base/bind.h).
//
// OnceCallback: move-only; running it consumes it, so it runs at most once.
// Every task is a OnceClosure:
//
//   base::OnceCallback<int(int)> cb = base::BindOnce(&Add, 2);
//   int five = std::move(cb).Run(3);  // |cb| is null now.
//
// RepeatingCallback: copies share one bound state; running leaves it in
// place. A RepeatingCallback converts to a OnceCallback of the same
// signature.

namespace base {

template <typename R, typename... Args>
class OnceCallback<R(Args...)> : public internal::CallbackBase {
 public:
  using RunType = R(Args...);
  using PolymorphicInvoke = R (*)(internal::BindStateBase*, Args&&...);

  constexpr OnceCallback() = default;
  OnceCallback(std::nullptr_t) = delete;

  explicit OnceCallback(internal::BindStateBase* bind_state)
      : internal::CallbackBase(bind_state) {}

  OnceCallback(OnceCallback&&) noexcept = default;
  OnceCallback& operator=(OnceCallback&&) noexcept = default;

  OnceCallback(RepeatingCallback<RunType> other)
      : internal::CallbackBase(std::move(other)) {}
  OnceCallback& operator=(RepeatingCallback<RunType> other) {
    static_cast<internal::CallbackBase&>(*this) = std::move(other);
    return *this;
  }

  // The state moves into a local handle before the call, so the callback is
  // null while its function runs (even if that function posts new tasks or
  // reaches back to the callback), and the state dies when the call ends.
  R Run(Args... args) && {
    OnceCallback cb = std::move(*this);
    CHECK(!cb.is_null());
    PolymorphicInvoke f =
        reinterpret_cast<PolymorphicInvoke>(cb.polymorphic_invoke());
    return f(cb.bind_state(), std::forward<Args>(args)...);
  }

  // Also consumes the callback.
  R Run(Args... args) & {
    return std::move(*this).Run(std::forward<Args>(args)...);
  }
};

template <typename R, typename... Args>
class RepeatingCallback<R(Args...)> : public internal::CallbackBaseCopyable {
 public:
  using RunType = R(Args...);
  using PolymorphicInvoke = R (*)(internal::BindStateBase*, Args&&...);

  constexpr RepeatingCallback() = default;
  RepeatingCallback(std::nullptr_t) = delete;

  explicit RepeatingCallback(internal::BindStateBase* bind_state)
      : internal::CallbackBaseCopyable(bind_state) {}

  RepeatingCallback(const RepeatingCallback&) = default;
  RepeatingCallback& operator=(const RepeatingCallback&) = default;
  RepeatingCallback(RepeatingCallback&&) noexcept = default;
  RepeatingCallback& operator=(RepeatingCallback&&) noexcept = default;

  bool operator==(const RepeatingCallback& other) const {
    return EqualsInternal(other);
  }
  bool operator!=(const RepeatingCallback& other) const {
    return !operator==(other);
  }

  // The state stays with the callback. The run holds a reference of its
  // own, so a function that destroys or reassigns the very callback that
  // runs it does not pull the state out from under itself.
  R Run(Args... args) const& {
    CHECK(!is_null());
    RepeatingCallback keep_alive(*this);
    PolymorphicInvoke f =
        reinterpret_cast<PolymorphicInvoke>(keep_alive.polymorphic_invoke());
    return f(keep_alive.bind_state(), std::forward<Args>(args)...);
  }

  // Running an rvalue consumes it, as a OnceCallback would.
  R Run(Args... args) && {
    RepeatingCallback cb = std::move(*this);
    CHECK(!cb.is_null());
    PolymorphicInvoke f =
        reinterpret_cast<PolymorphicInvoke>(cb.polymorphic_invoke());
    return f(cb.bind_state(), std::forward<Args>(args)...);
  }
};

}  // namespace base

#endif  // BASE_CALLBACK_H_
