#ifndef BASE_WIN_SCOPED_GENERIC_H_
#define BASE_WIN_SCOPED_GENERIC_H_

#include <windows.h>
#include <objbase.h>

#include <utility>

#include "base/check.h"

namespace base {
namespace win {

namespace internal {

template <typename T>
T NullValue() {
  return nullptr;
}

inline HANDLE InvalidHandleValue() {
  return INVALID_HANDLE_VALUE;
}

}  // namespace internal

// How a kind of resource is released: |kRelease| takes the value (its
// result, if any, is ignored: nothing useful can be done when releasing
// fails), and |kInvalid| gives the value that owns nothing.
template <typename T, auto kRelease, T (*kInvalid)() = internal::NullValue<T>>
struct ReleaseTraits {
  using Type = T;
  static T InvalidValue() { return kInvalid(); }
  static void Release(T value) { kRelease(value); }
};

// Owns one handle-like value and releases it through |Traits| when it goes
// away. Move-only. Each new kind of resource is a one-line alias below.
template <typename Traits>
class ScopedGeneric {
 public:
  using Type = typename Traits::Type;

  ScopedGeneric() : value_(Traits::InvalidValue()) {}
  explicit ScopedGeneric(Type value) : value_(value) {}
  ScopedGeneric(ScopedGeneric&& other) : value_(other.release()) {}
  ScopedGeneric& operator=(ScopedGeneric&& other) {
    reset(other.release());
    return *this;
  }
  ScopedGeneric(const ScopedGeneric&) = delete;
  ScopedGeneric& operator=(const ScopedGeneric&) = delete;
  ~ScopedGeneric() { reset(); }

  Type get() const { return value_; }
  bool is_valid() const { return value_ != Traits::InvalidValue(); }

  // Releases what is owned, then owns |value|.
  void reset(Type value = Traits::InvalidValue()) {
    if (value_ == value)
      return;
    Type old = value_;
    value_ = value;
    if (old != Traits::InvalidValue())
      Traits::Release(old);
  }

  // Gives up ownership without releasing.
  [[nodiscard]] Type release() {
    Type value = value_;
    value_ = Traits::InvalidValue();
    return value;
  }

  // For functions that hand out a resource through a pointer argument; the
  // owner must own nothing at that point.
  Type* receive() {
    CHECK(!is_valid());
    return &value_;
  }

 private:
  Type value_;
};

// Memory of LocalAlloc, which several system functions hand out:
// CommandLineToArgvW, FormatMessageW, security descriptor and ACL
// conversions.
template <typename T>
using ScopedLocalAllocAs = ScopedGeneric<ReleaseTraits<T, &::LocalFree>>;
using ScopedLocalAlloc = ScopedLocalAllocAs<HLOCAL>;
using ScopedLocalAcl = ScopedLocalAllocAs<PACL>;
using ScopedLocalSecurityDescriptor = ScopedLocalAllocAs<PSECURITY_DESCRIPTOR>;

// Memory of CoTaskMemAlloc (e.g. SHGetKnownFolderPath's path).
template <typename T>
using ScopedCoMem = ScopedGeneric<ReleaseTraits<T*, &::CoTaskMemFree>>;

// A SID of AllocateAndInitializeSid.
using ScopedSid = ScopedGeneric<ReleaseTraits<PSID, &::FreeSid>>;

// A search of FindFirstFileW; INVALID_HANDLE_VALUE owns nothing.
using ScopedFindHandle = ScopedGeneric<
    ReleaseTraits<HANDLE, &::FindClose, &internal::InvalidHandleValue>>;

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_SCOPED_GENERIC_H_
