#ifndef BASE_WIN_SCOPED_HANDLE_H_
#define BASE_WIN_SCOPED_HANDLE_H_

#include <windows.h>

#include "base/macros.h"

namespace base {
namespace win {

// How a kernel handle is judged and closed. Closing goes through the
// process's active handle verifier.
class HandleTraits {
 public:
  HandleTraits() = delete;

  // Closes |handle| through the active verifier. A failed close stops the
  // process, except for a process handle protected from closing, which
  // answers false when no verifier is tracking.
  static bool CloseHandle(HANDLE handle);

  // Neither null nor INVALID_HANDLE_VALUE.
  static bool IsHandleValid(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
  }

  static HANDLE NullHandle() { return nullptr; }
};

// Tells the active verifier who owns which handle. |pc1| is the address the
// owning operation returns to and |pc2| an address inside it.
class VerifierTraits {
 public:
  VerifierTraits() = delete;

  static void StartTracking(HANDLE handle,
                            const void* owner,
                            const void* pc1,
                            const void* pc2);
  static void StopTracking(HANDLE handle,
                           const void* owner,
                           const void* pc1,
                           const void* pc2);
};

// Owns one kernel handle and closes it when it goes away. The verifier
// records this object's address as the handle's owner, so a handle must
// never be owned by two of these at once.
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE handle) { Set(handle); }
  ScopedHandle(ScopedHandle&& other) { Set(other.Take()); }
  ScopedHandle& operator=(ScopedHandle&& other) {
    Set(other.Take());
    return *this;
  }
  ~ScopedHandle() { Close(); }

  bool IsValid() const { return HandleTraits::IsHandleValid(handle_); }

  HANDLE Get() const { return handle_; }

  // Closes the held handle and takes |handle| instead; an invalid |handle|
  // leaves the object empty. Setting the held handle again does nothing.
  // The caller's last error survives, so a handle can be stored between a
  // failing call and the look at its error.
  void Set(HANDLE handle);

  // Gives the handle up without closing it; the object ends empty.
  HANDLE Take();

  // Closes the held handle, if any; the object ends empty.
  void Close();

 private:
  HANDLE handle_ = nullptr;

  DISALLOW_COPY_AND_ASSIGN(ScopedHandle);
};

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_SCOPED_HANDLE_H_
