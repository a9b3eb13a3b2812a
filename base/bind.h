#ifndef BASE_BIND_H_
#define BASE_BIND_H_

#include <memory>
#include <utility>

#include "base/bind_internal.h"
#include "base/callback.h"

// Binding a functor and some leading arguments into a callback:
//
//   void Log(const std::string& prefix, int value);
//   base::RepeatingCallback<void(int)> log = base::BindRepeating(&Log, "x");
//   log.Run(1);  // Log("x", 1)
//
// The functor may be a function pointer, a method (receiver bound first), a
// lambda or another callback. Bound arguments are stored by value. A method's
// receiver is one of:
//   - base::Unretained(this): a raw pointer, for an object known to outlive
//     the callback;
//   - base::Owned(new T) or base::Owned(std::move(unique)): the callback
//     owns the object and deletes it with the bound state;
//   - a scoped_refptr: the callback keeps the object alive;
//   - a WeakPtr: the call is dropped (and the callback reports itself
//     cancelled) once the object is gone; such a method returns void.
// base::Passed(std::move(x)) carries a move-only value through a
// RepeatingCallback that may run only once.

namespace base {

template <typename Functor, typename... Args>
inline auto BindOnce(Functor&& functor, Args&&... args) {
  return internal::BindImpl<true>(std::forward<Functor>(functor),
                                  std::forward<Args>(args)...);
}

template <typename Functor, typename... Args>
inline auto BindRepeating(Functor&& functor, Args&&... args) {
  return internal::BindImpl<false>(std::forward<Functor>(functor),
                                   std::forward<Args>(args)...);
}

template <typename T>
inline internal::UnretainedWrapper<T> Unretained(T* o) {
  return internal::UnretainedWrapper<T>(o);
}

template <typename T>
inline internal::OwnedWrapper<T> Owned(T* o) {
  return internal::OwnedWrapper<T>(std::unique_ptr<T>(o));
}

template <typename T>
inline internal::OwnedWrapper<T> Owned(std::unique_ptr<T>&& o) {
  return internal::OwnedWrapper<T>(std::move(o));
}

template <typename T,
          typename = std::enable_if_t<!std::is_lvalue_reference<T>::value>>
inline internal::PassedWrapper<T> Passed(T&& scoper) {
  return internal::PassedWrapper<T>(std::move(scoper));
}

template <typename T>
inline internal::PassedWrapper<T> Passed(T* scoper) {
  return internal::PassedWrapper<T>(std::move(*scoper));
}

}  // namespace base

#endif  // BASE_BIND_H_
