#ifndef BASE_MEMORY_WEAK_PTR_H_
#define BASE_MEMORY_WEAK_PTR_H_

#include <stddef.h>
#include <stdint.h>

#include <type_traits>
#include <utility>

#include "base/check.h"
#include "base/macros.h"
#include "base/memory/ref_counted.h"

// Weak pointers let an object that lives on one sequence hand out pointers to
// itself to callbacks, replies and observers that may outlive it:
//
//   class Controller {
//    public:
//     void StartFetch() {
//       fetcher_->Fetch(base::BindOnce(&Controller::OnFetched,
//                                      weak_factory_.GetWeakPtr()));
//     }
//    private:
//     void OnFetched(bool ok);
//     std::unique_ptr<Fetcher> fetcher_;
//     base::WeakPtrFactory<Controller> weak_factory_;  // Last member.
//   };
//
// The factory is the last member so that its pointers die before any other
// member is torn down. A weak pointer may be copied and destroyed on any
// thread, but it may only be checked, and its target used, on the sequence
// where the target lives and invalidates its pointers: a check on another
// thread could race with the destructor.

namespace base {

template <typename T>
class WeakPtr;
template <typename T>
class WeakPtrFactory;

namespace internal {

// A reference to the validity flag shared by an owner and its weak pointers.
class WeakReference {
 public:
  // The flag outlives its owner as long as a weak pointer still holds it;
  // only its valid byte tells whether the target is still there.
  class Flag : public RefCountedThreadSafe<Flag> {
   public:
    Flag() = default;

    void Invalidate() { is_valid_ = false; }
    bool IsValid() const { return is_valid_; }

   private:
    friend class RefCountedThreadSafe<Flag>;
    ~Flag() = default;

    // Plain byte: it is read and written only on the target's sequence.
    bool is_valid_ = true;

    DISALLOW_COPY_AND_ASSIGN(Flag);
  };

  WeakReference();
  explicit WeakReference(const Flag* flag);
  WeakReference(const WeakReference& other);
  WeakReference(WeakReference&& other) noexcept;
  WeakReference& operator=(const WeakReference& other);
  WeakReference& operator=(WeakReference&& other) noexcept;
  ~WeakReference();

  bool IsValid() const;

  // The flag itself, for tests that follow its generations.
  const Flag* flag_for_testing() const { return flag_.get(); }

 private:
  scoped_refptr<const Flag> flag_;
};

class WeakReferenceOwner {
 public:
  WeakReferenceOwner();
  ~WeakReferenceOwner();

  WeakReference GetRef() const;

  // True while a weak pointer made from the current flag is alive.
  bool HasRefs() const { return flag_ && !flag_->HasOneRef(); }

  void Invalidate();

 private:
  mutable scoped_refptr<WeakReference::Flag> flag_;

  DISALLOW_COPY_AND_ASSIGN(WeakReferenceOwner);
};

// Untyped part of WeakPtr<T>, so that conversions between pointer types can
// reach the reference of another instantiation.
class WeakPtrBase {
 public:
  WeakPtrBase() = default;
  explicit WeakPtrBase(WeakReference&& ref) : ref_(std::move(ref)) {}

  const WeakReference& ref_for_testing() const { return ref_; }

 protected:
  WeakReference ref_;
};

// Untyped part of WeakPtrFactory<T>.
class WeakPtrFactoryBase {
 protected:
  explicit WeakPtrFactoryBase(uintptr_t ptr);
  ~WeakPtrFactoryBase();

  WeakReferenceOwner weak_reference_owner_;
  uintptr_t ptr_;
};

}  // namespace internal

// A pointer that yields null once its target is destroyed or has
// invalidated its weak pointers. Its two words are the flag reference and
// the raw pointer, in that order.
template <typename T>
class WeakPtr : public internal::WeakPtrBase {
 public:
  WeakPtr() = default;
  WeakPtr(std::nullptr_t) {}

  // Weak pointers convert the way raw pointers do.
  template <typename U,
            typename = std::enable_if_t<std::is_convertible<U*, T*>::value>>
  WeakPtr(const WeakPtr<U>& other) : WeakPtrBase(other), ptr_(other.ptr_) {}
  template <typename U,
            typename = std::enable_if_t<std::is_convertible<U*, T*>::value>>
  WeakPtr(WeakPtr<U>&& other) noexcept
      : WeakPtrBase(std::move(other)), ptr_(other.ptr_) {
    other.ptr_ = nullptr;
  }

  T* get() const { return ref_.IsValid() ? ptr_ : nullptr; }

  T& operator*() const {
    DCHECK(get() != nullptr);
    return *get();
  }
  T* operator->() const {
    DCHECK(get() != nullptr);
    return get();
  }

  void reset() {
    ref_ = internal::WeakReference();
    ptr_ = nullptr;
  }

  explicit operator bool() const { return get() != nullptr; }

 private:
  template <typename U>
  friend class WeakPtr;
  friend class WeakPtrFactory<T>;

  WeakPtr(internal::WeakReference&& ref, T* ptr)
      : WeakPtrBase(std::move(ref)), ptr_(ptr) {}

  T* ptr_ = nullptr;
};

template <typename T>
bool operator!=(const WeakPtr<T>& weak_ptr, std::nullptr_t) {
  return !(weak_ptr == nullptr);
}
template <typename T>
bool operator!=(std::nullptr_t, const WeakPtr<T>& weak_ptr) {
  return weak_ptr != nullptr;
}
template <typename T>
bool operator==(const WeakPtr<T>& weak_ptr, std::nullptr_t) {
  return weak_ptr.get() == nullptr;
}
template <typename T>
bool operator==(std::nullptr_t, const WeakPtr<T>& weak_ptr) {
  return weak_ptr == nullptr;
}

// Embedded in the object it hands out pointers to, as that object's last
// member. New pointers can be made after InvalidateWeakPtrs().
template <class T>
class WeakPtrFactory : public internal::WeakPtrFactoryBase {
 public:
  explicit WeakPtrFactory(T* ptr)
      : WeakPtrFactoryBase(reinterpret_cast<uintptr_t>(ptr)) {}

  ~WeakPtrFactory() = default;

  WeakPtr<T> GetWeakPtr() {
    DCHECK(ptr_ != 0);
    return WeakPtr<T>(weak_reference_owner_.GetRef(),
                      reinterpret_cast<T*>(ptr_));
  }

  // Every pointer handed out so far yields null from now on.
  void InvalidateWeakPtrs() {
    DCHECK(ptr_ != 0);
    weak_reference_owner_.Invalidate();
  }

  bool HasWeakPtrs() const {
    DCHECK(ptr_ != 0);
    return weak_reference_owner_.HasRefs();
  }

 private:
  DISALLOW_COPY_AND_ASSIGN(WeakPtrFactory);
};

}  // namespace base

#endif  // BASE_MEMORY_WEAK_PTR_H_
