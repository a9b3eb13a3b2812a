#ifndef BASE_BIND_INTERNAL_H_
#define BASE_BIND_INTERNAL_H_

#include <stddef.h>

#include <memory>
#include <type_traits>
#include <utility>

#include "base/callback.h"
#include "base/callback_internal.h"
#include "base/check.h"

// The machinery behind base::BindOnce() and base::BindRepeating().
//
// A bind makes one BindState<Functor, BoundArgs...> record: the header of
// BindStateBase, then the functor, then the bound arguments in binding
// order. The record's three functions are chosen here at compile time:
//   - invoke: Invoker<...>::RunOnce (moves the functor and the bound
//     arguments into the call) or RunRepeating (passes them as const
//     lvalues, so the state can run again);
//   - destroy: BindState::Destroy, which deletes the record and with it
//     every bound argument (an owned object, a callback, a weak receiver's
//     flag reference or nothing at all);
//   - cancellation query: for a method bound to a WeakPtr receiver, whether
//     the receiver is gone; for a bound callback, that callback's own
//     answer; otherwise the shared always-false query.
//
// Bound arguments are unwrapped just before the call: Unretained(p) and
// Owned(p) give p, Passed(x) moves x out (once only).

namespace base {

template <typename T>
class WeakPtr;

namespace internal {

// Argument wrappers ---------------------------------------------------------

template <typename T>
class UnretainedWrapper {
 public:
  explicit UnretainedWrapper(T* o) : ptr_(o) {}
  T* get() const { return ptr_; }

 private:
  T* ptr_;
};

template <typename T>
class OwnedWrapper {
 public:
  explicit OwnedWrapper(std::unique_ptr<T> o) : ptr_(std::move(o)) {}
  T* get() const { return ptr_.get(); }

 private:
  std::unique_ptr<T> ptr_;
};

// Lets a move-only value ride in a RepeatingCallback: the first run takes
// it and a second run is a fatal error.
template <typename T>
class PassedWrapper {
 public:
  explicit PassedWrapper(T&& scoper) : scoper_(std::move(scoper)) {}
  PassedWrapper(PassedWrapper&& other) noexcept
      : is_valid_(other.is_valid_), scoper_(std::move(other.scoper_)) {
    other.is_valid_ = false;
  }

  T Take() const {
    CHECK(is_valid_);
    is_valid_ = false;
    return std::move(scoper_);
  }

 private:
  // Taken through the const path of a repeating run.
  mutable bool is_valid_ = true;
  mutable T scoper_;
};

template <typename T>
struct Unwrapper {
  template <typename U>
  static U&& Unwrap(U&& o) {
    return std::forward<U>(o);
  }
};

template <typename T>
struct Unwrapper<UnretainedWrapper<T>> {
  static T* Unwrap(const UnretainedWrapper<T>& o) { return o.get(); }
};

template <typename T>
struct Unwrapper<OwnedWrapper<T>> {
  static T* Unwrap(const OwnedWrapper<T>& o) { return o.get(); }
};

template <typename T>
struct Unwrapper<PassedWrapper<T>> {
  static T Unwrap(const PassedWrapper<T>& o) { return o.Take(); }
};

template <typename T>
struct IsWeakPtr : std::false_type {};
template <typename T>
struct IsWeakPtr<WeakPtr<T>> : std::true_type {};

// Classes with AddRef() and Release(): a raw pointer to one must not be
// bound, or nothing would keep the object alive until the call.
template <typename T, typename = void>
struct IsRefCountedType : std::false_type {};
template <typename T>
struct IsRefCountedType<T,
                        std::void_t<decltype(std::declval<T*>()->AddRef()),
                                    decltype(std::declval<T*>()->Release())>>
    : std::true_type {};

template <typename T>
struct IsRawPointerToRefCounted
    : std::conjunction<std::is_pointer<T>,
                       IsRefCountedType<std::remove_pointer_t<T>>> {};

// Functor traits ------------------------------------------------------------
//
// For every kind of functor: its RunType (a method's receiver comes first)
// and how to call it. Anything else fails to instantiate.

template <typename Functor, typename = void>
struct FunctorTraits;

template <typename Method>
struct CallOperatorTraits;
template <typename R, typename C, typename... Args>
struct CallOperatorTraits<R (C::*)(Args...)> {
  using RunType = R(Args...);
};
template <typename R, typename C, typename... Args>
struct CallOperatorTraits<R (C::*)(Args...) const> {
  using RunType = R(Args...);
};

// Lambdas and other classes with one non-template operator().
template <typename Functor>
struct FunctorTraits<Functor, std::void_t<decltype(&Functor::operator())>> {
  using RunType =
      typename CallOperatorTraits<decltype(&Functor::operator())>::RunType;
  static constexpr bool is_method = false;
  static constexpr bool is_callback = false;

  template <typename F, typename... Args>
  static decltype(auto) Invoke(F&& functor, Args&&... args) {
    return std::forward<F>(functor)(std::forward<Args>(args)...);
  }
};

template <typename R, typename... Args>
struct FunctorTraits<R (*)(Args...)> {
  using RunType = R(Args...);
  static constexpr bool is_method = false;
  static constexpr bool is_callback = false;

  template <typename... RunArgs>
  static R Invoke(R (*function)(Args...), RunArgs&&... args) {
    return function(std::forward<RunArgs>(args)...);
  }
};

// A method is stored as it is (code address and receiver adjustment); its
// receiver is the first bound argument, unwrapped to a pointer or a
// pointer-like holder.
template <typename R, typename C, typename... Args>
struct FunctorTraits<R (C::*)(Args...)> {
  using RunType = R(C*, Args...);
  static constexpr bool is_method = true;
  static constexpr bool is_callback = false;

  template <typename Receiver, typename... RunArgs>
  static R Invoke(R (C::*method)(Args...),
                  Receiver&& receiver,
                  RunArgs&&... args) {
    return ((*receiver).*method)(std::forward<RunArgs>(args)...);
  }
};

template <typename R, typename C, typename... Args>
struct FunctorTraits<R (C::*)(Args...) const> {
  using RunType = R(const C*, Args...);
  static constexpr bool is_method = true;
  static constexpr bool is_callback = false;

  template <typename Receiver, typename... RunArgs>
  static R Invoke(R (C::*method)(Args...) const,
                  Receiver&& receiver,
                  RunArgs&&... args) {
    return ((*receiver).*method)(std::forward<RunArgs>(args)...);
  }
};

template <typename R, typename... Args>
struct FunctorTraits<OnceCallback<R(Args...)>> {
  using RunType = R(Args...);
  static constexpr bool is_method = false;
  static constexpr bool is_callback = true;

  template <typename Callback, typename... RunArgs>
  static R Invoke(Callback&& callback, RunArgs&&... args) {
    return std::forward<Callback>(callback).Run(std::forward<RunArgs>(args)...);
  }
};

template <typename R, typename... Args>
struct FunctorTraits<RepeatingCallback<R(Args...)>> {
  using RunType = R(Args...);
  static constexpr bool is_method = false;
  static constexpr bool is_callback = true;

  template <typename Callback, typename... RunArgs>
  static R Invoke(Callback&& callback, RunArgs&&... args) {
    return std::forward<Callback>(callback).Run(std::forward<RunArgs>(args)...);
  }
};

// Signature arithmetic ------------------------------------------------------

template <typename... Types>
struct TypeList {};

template <size_t N, typename List, typename = void>
struct DropTypeListItems;
template <size_t N, typename T, typename... List>
struct DropTypeListItems<N, TypeList<T, List...>, std::enable_if_t<(N > 0)>>
    : DropTypeListItems<N - 1, TypeList<List...>> {};
template <typename... List>
struct DropTypeListItems<0, TypeList<List...>> {
  using Type = TypeList<List...>;
};

template <typename T, typename List>
struct PrependTypeList;
template <typename T, typename... List>
struct PrependTypeList<T, TypeList<List...>> {
  using Type = TypeList<T, List...>;
};

template <size_t N, typename List, typename = void>
struct TakeTypeListItems;
template <size_t N, typename T, typename... List>
struct TakeTypeListItems<N, TypeList<T, List...>, std::enable_if_t<(N > 0)>> {
  using Type = typename PrependTypeList<
      T,
      typename TakeTypeListItems<N - 1, TypeList<List...>>::Type>::Type;
};
template <typename... List>
struct TakeTypeListItems<0, TypeList<List...>> {
  using Type = TypeList<>;
};

template <typename... Types>
struct FirstType {
  using Type = void;
};
template <typename T, typename... Types>
struct FirstType<T, Types...> {
  using Type = T;
};

template <typename R, typename List>
struct MakeFunctionType;
template <typename R, typename... Args>
struct MakeFunctionType<R, TypeList<Args...>> {
  using Type = R(Args...);
};

template <typename Signature>
struct SignatureParts;
template <typename R, typename... Args>
struct SignatureParts<R(Args...)> {
  using ReturnType = R;
  using Params = TypeList<Args...>;
  static constexpr size_t kArity = sizeof...(Args);
};

// The RunType of a callback made by binding N arguments to a functor whose
// RunType is |RunType|.
template <size_t N, typename RunType>
using UnboundRunType = typename MakeFunctionType<
    typename SignatureParts<RunType>::ReturnType,
    typename DropTypeListItems<N, typename SignatureParts<RunType>::Params>::
        Type>::Type;

// A bound value reaches its parameter as an rvalue (once) or a const lvalue
// (repeating): neither binds to a non-const reference.
template <typename List>
struct HasNonConstReferenceItem;
template <typename... Types>
struct HasNonConstReferenceItem<TypeList<Types...>>
    : std::disjunction<std::conjunction<
          std::is_lvalue_reference<Types>,
          std::negation<std::is_const<std::remove_reference_t<Types>>>>...> {};

// Storage -------------------------------------------------------------------

// The bound arguments, laid out in binding order (std::tuple need not keep
// that order).
template <typename... Types>
struct BoundArgList;
template <>
struct BoundArgList<> {};
template <typename T, typename... Rest>
struct BoundArgList<T, Rest...> {
  template <typename U, typename... Us>
  explicit BoundArgList(U&& u, Us&&... us)
      : head(std::forward<U>(u)), tail(std::forward<Us>(us)...) {}

  T head;
  BoundArgList<Rest...> tail;
};

template <size_t I>
struct BoundArgAt {
  template <typename List>
  static auto& Get(List& list) {
    return BoundArgAt<I - 1>::Get(list.tail);
  }
};
template <>
struct BoundArgAt<0> {
  template <typename List>
  static auto& Get(List& list) {
    return list.head;
  }
};

// The |I|th bound argument, moved out when |List| is an rvalue.
template <size_t I, typename List>
decltype(auto) GetBoundArg(List&& list) {
  if constexpr (std::is_lvalue_reference<List>::value)
    return (BoundArgAt<I>::Get(list));
  else
    return std::move(BoundArgAt<I>::Get(list));
}

// The |I|th bound argument as the functor receives it.
template <size_t I, typename List>
decltype(auto) UnwrapBoundArg(List&& list) {
  using Stored = std::decay_t<decltype(BoundArgAt<I>::Get(list))>;
  return Unwrapper<Stored>::Unwrap(GetBoundArg<I>(std::forward<List>(list)));
}

template <typename Functor, typename... BoundArgs>
struct BindState final : BindStateBase {
  using Traits = FunctorTraits<Functor>;

  static constexpr size_t kNumBoundArgs = sizeof...(BoundArgs);
  static constexpr bool kIsWeakCall =
      Traits::is_method &&
      IsWeakPtr<typename FirstType<BoundArgs...>::Type>::value;
  static constexpr bool kIsCancellable = kIsWeakCall || Traits::is_callback;

  template <typename ForwardFunctor, typename... ForwardBoundArgs>
  static BindState* Create(BindStateBase::InvokeFuncStorage invoke,
                           ForwardFunctor&& functor,
                           ForwardBoundArgs&&... bound_args) {
    return new BindState(std::integral_constant<bool, kIsCancellable>(), invoke,
                         std::forward<ForwardFunctor>(functor),
                         std::forward<ForwardBoundArgs>(bound_args)...);
  }

  Functor functor_;
  BoundArgList<BoundArgs...> bound_args_;

 private:
  template <typename ForwardFunctor, typename... ForwardBoundArgs>
  BindState(std::false_type,
            BindStateBase::InvokeFuncStorage invoke,
            ForwardFunctor&& functor,
            ForwardBoundArgs&&... bound_args)
      : BindStateBase(invoke, &Destroy),
        functor_(std::forward<ForwardFunctor>(functor)),
        bound_args_(std::forward<ForwardBoundArgs>(bound_args)...) {}

  template <typename ForwardFunctor, typename... ForwardBoundArgs>
  BindState(std::true_type,
            BindStateBase::InvokeFuncStorage invoke,
            ForwardFunctor&& functor,
            ForwardBoundArgs&&... bound_args)
      : BindStateBase(invoke, &Destroy, &QueryCancellation),
        functor_(std::forward<ForwardFunctor>(functor)),
        bound_args_(std::forward<ForwardBoundArgs>(bound_args)...) {}

  ~BindState() = default;

  static void Destroy(const BindStateBase* self) {
    delete static_cast<const BindState*>(self);
  }

  static bool QueryCancellation(const BindStateBase* self) {
    const BindState* state = static_cast<const BindState*>(self);
    if constexpr (kIsWeakCall) {
      return !BoundArgAt<0>::Get(state->bound_args_);
    } else {
      // A bound callback that a once-run has already consumed can do
      // nothing any more.
      return state->functor_.is_null() || state->functor_.IsCancelled();
    }
  }
};

// Calls the functor with the unwrapped bound arguments followed by the run
// arguments. A weak call is dropped when its receiver is gone.
template <bool kIsWeakCall, typename Traits, typename R>
struct InvokeHelper {
  template <typename Functor, typename... Args>
  static R MakeItSo(Functor&& functor, Args&&... args) {
    return Traits::Invoke(std::forward<Functor>(functor),
                          std::forward<Args>(args)...);
  }
};

template <typename Traits, typename R>
struct InvokeHelper<true, Traits, R> {
  static_assert(std::is_void<R>::value,
                "a call through a WeakPtr may be dropped, so the method must "
                "return void");

  template <typename Functor, typename WeakReceiver, typename... Args>
  static void MakeItSo(Functor&& functor,
                       WeakReceiver&& receiver,
                       Args&&... args) {
    if (!receiver)
      return;
    Traits::Invoke(std::forward<Functor>(functor), receiver.get(),
                   std::forward<Args>(args)...);
  }
};

template <typename State, typename RunType>
struct Invoker;

template <typename State, typename R, typename... UnboundArgs>
struct Invoker<State, R(UnboundArgs...)> {
  static R RunOnce(BindStateBase* base, UnboundArgs&&... unbound_args) {
    State* state = static_cast<State*>(base);
    return RunImpl(std::move(state->functor_), std::move(state->bound_args_),
                   unbound_args...);
  }

  static R RunRepeating(BindStateBase* base, UnboundArgs&&... unbound_args) {
    const State* state = static_cast<const State*>(base);
    return RunImpl(state->functor_, state->bound_args_, unbound_args...);
  }

 private:
  template <typename Functor, typename List>
  static R RunImpl(Functor&& functor,
                   List&& bound_args,
                   UnboundArgs&... unbound_args) {
    return RunWithIndices(
        std::forward<Functor>(functor), std::forward<List>(bound_args),
        std::make_index_sequence<kNumBound>(), unbound_args...);
  }

  template <typename Functor, typename List, size_t... I>
  static R RunWithIndices(Functor&& functor,
                          List&& bound_args,
                          std::index_sequence<I...>,
                          UnboundArgs&... unbound_args) {
    return InvokeHelper<State::kIsWeakCall, typename State::Traits,
                        R>::MakeItSo(std::forward<Functor>(functor),
                                     UnwrapBoundArg<I>(
                                         std::forward<List>(bound_args))...,
                                     std::forward<UnboundArgs>(
                                         unbound_args)...);
  }

  static constexpr size_t kNumBound = State::kNumBoundArgs;
};

template <typename Functor>
bool IsNullFunctor(const Functor& functor) {
  if constexpr (std::is_pointer<Functor>::value ||
                std::is_member_function_pointer<Functor>::value) {
    return functor == nullptr;
  } else if constexpr (FunctorTraits<Functor>::is_callback) {
    return functor.is_null();
  } else {
    return false;
  }
}

template <bool kIsOnce, typename Functor, typename... Args>
auto BindImpl(Functor&& functor, Args&&... args) {
  using FunctorType = std::decay_t<Functor>;
  using Traits = FunctorTraits<FunctorType>;
  using RunType = typename Traits::RunType;
  static_assert(sizeof...(Args) <= SignatureParts<RunType>::kArity,
                "more bound arguments than the functor takes");
  using State = BindState<FunctorType, std::decay_t<Args>...>;
  using Unbound = UnboundRunType<sizeof...(Args), RunType>;
  using Params = typename SignatureParts<RunType>::Params;
  using BoundParams = typename TakeTypeListItems<sizeof...(Args), Params>::Type;

  static_assert(!Traits::is_method || sizeof...(Args) > 0,
                "a method needs its receiver as the first bound argument");
  static_assert(
      !std::disjunction<IsRawPointerToRefCounted<std::decay_t<Args>>...>::value,
      "raw pointer to a reference-counted object: bind a scoped_refptr (or "
      "Unretained() when something else keeps it alive)");
  static_assert(!HasNonConstReferenceItem<BoundParams>::value,
                "bound arguments cannot fill non-const reference parameters; "
                "take a pointer instead");

  CHECK(!IsNullFunctor(functor));

  using Run = Invoker<State, Unbound>;
  BindStateBase::InvokeFuncStorage invoke;
  if constexpr (kIsOnce) {
    invoke = reinterpret_cast<BindStateBase::InvokeFuncStorage>(&Run::RunOnce);
  } else {
    static_assert(!std::is_same<FunctorType, OnceCallback<RunType>>::value,
                  "a OnceCallback cannot be bound into a RepeatingCallback");
    invoke =
        reinterpret_cast<BindStateBase::InvokeFuncStorage>(&Run::RunRepeating);
  }
  BindStateBase* state = State::Create(invoke, std::forward<Functor>(functor),
                                       std::forward<Args>(args)...);
  if constexpr (kIsOnce)
    return OnceCallback<Unbound>(state);
  else
    return RepeatingCallback<Unbound>(state);
}

}  // namespace internal
}  // namespace base

#endif  // BASE_BIND_INTERNAL_H_
