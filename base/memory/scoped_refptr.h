#ifndef BASE_MEMORY_SCOPED_REFPTR_H_
#define BASE_MEMORY_SCOPED_REFPTR_H_

#include <stddef.h>

#include <type_traits>
#include <utility>

namespace base {

template <typename T>
class scoped_refptr;

// Takes a reference to |t| (which may be null) and hands it to a holder.
template <typename T>
scoped_refptr<T> WrapRefCounted(T* t) {
  return scoped_refptr<T>(t);
}

// Makes a reference-counted object and its first holder in one step.
template <typename T, typename... Args>
scoped_refptr<T> MakeRefCounted(Args&&... args) {
  return scoped_refptr<T>(new T(std::forward<Args>(args)...));
}

// A holder of one reference to an object with AddRef() and Release(). The
// object's count starts at 0, so taking a raw pointer adds the first
// reference; the holder that drops the last one destroys the object.
template <typename T>
class scoped_refptr {
 public:
  typedef T element_type;

  constexpr scoped_refptr() = default;
  constexpr scoped_refptr(std::nullptr_t) {}

  scoped_refptr(T* p) : ptr_(p) {
    if (ptr_)
      AddRef(ptr_);
  }

  scoped_refptr(const scoped_refptr& r) : scoped_refptr(r.ptr_) {}

  template <typename U,
            typename = std::enable_if_t<std::is_convertible<U*, T*>::value>>
  scoped_refptr(const scoped_refptr<U>& r) : scoped_refptr(r.get()) {}

  scoped_refptr(scoped_refptr&& r) noexcept : ptr_(r.ptr_) { r.ptr_ = nullptr; }

  template <typename U,
            typename = std::enable_if_t<std::is_convertible<U*, T*>::value>>
  scoped_refptr(scoped_refptr<U>&& r) noexcept : ptr_(r.ptr_) {
    r.ptr_ = nullptr;
  }

  ~scoped_refptr() {
    if (ptr_)
      Release(ptr_);
  }

  T* get() const { return ptr_; }

  T& operator*() const { return *ptr_; }
  T* operator->() const { return ptr_; }

  // Taking the new reference before dropping the old one keeps
  // self-assignment (and assignment of an object that only the old holder
  // keeps alive) safe.
  scoped_refptr& operator=(T* p) { return *this = scoped_refptr(p); }
  scoped_refptr& operator=(std::nullptr_t) {
    reset();
    return *this;
  }
  scoped_refptr& operator=(const scoped_refptr& r) {
    return *this = scoped_refptr(r);
  }
  scoped_refptr& operator=(scoped_refptr&& r) noexcept {
    scoped_refptr(std::move(r)).swap(*this);
    return *this;
  }
  template <typename U>
  scoped_refptr& operator=(const scoped_refptr<U>& r) {
    return *this = scoped_refptr(r);
  }
  template <typename U>
  scoped_refptr& operator=(scoped_refptr<U>&& r) noexcept {
    scoped_refptr(std::move(r)).swap(*this);
    return *this;
  }

  void reset() { scoped_refptr().swap(*this); }

  void swap(scoped_refptr& r) noexcept { std::swap(ptr_, r.ptr_); }

  explicit operator bool() const { return ptr_ != nullptr; }

  template <typename U>
  bool operator==(const scoped_refptr<U>& rhs) const {
    return ptr_ == rhs.get();
  }
  template <typename U>
  bool operator!=(const scoped_refptr<U>& rhs) const {
    return !operator==(rhs);
  }
  template <typename U>
  bool operator<(const scoped_refptr<U>& rhs) const {
    return ptr_ < rhs.get();
  }

 private:
  template <typename U>
  friend class scoped_refptr;

  // Non-member helpers so that T may be an incomplete type wherever a
  // holder is only declared.
  static void AddRef(T* ptr);
  static void Release(T* ptr);

  T* ptr_ = nullptr;
};

template <typename T>
void scoped_refptr<T>::AddRef(T* ptr) {
  ptr->AddRef();
}

template <typename T>
void scoped_refptr<T>::Release(T* ptr) {
  ptr->Release();
}

template <typename T, typename U>
bool operator==(const scoped_refptr<T>& lhs, const U* rhs) {
  return lhs.get() == rhs;
}
template <typename T, typename U>
bool operator==(const T* lhs, const scoped_refptr<U>& rhs) {
  return lhs == rhs.get();
}
template <typename T>
bool operator==(const scoped_refptr<T>& lhs, std::nullptr_t) {
  return !lhs;
}
template <typename T>
bool operator==(std::nullptr_t, const scoped_refptr<T>& rhs) {
  return !rhs;
}
template <typename T, typename U>
bool operator!=(const scoped_refptr<T>& lhs, const U* rhs) {
  return !(lhs == rhs);
}
template <typename T, typename U>
bool operator!=(const T* lhs, const scoped_refptr<U>& rhs) {
  return !(lhs == rhs);
}
template <typename T>
bool operator!=(const scoped_refptr<T>& lhs, std::nullptr_t) {
  return static_cast<bool>(lhs);
}
template <typename T>
bool operator!=(std::nullptr_t, const scoped_refptr<T>& rhs) {
  return static_cast<bool>(rhs);
}

template <typename T>
void swap(scoped_refptr<T>& lhs, scoped_refptr<T>& rhs) noexcept {
  lhs.swap(rhs);
}

}  // namespace base

#endif  // BASE_MEMORY_SCOPED_REFPTR_H_
