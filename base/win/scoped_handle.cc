#include "base/win/scoped_handle.h"

#include "base/debug/stack_trace.h"
#include "base/win/scoped_handle_verifier.h"

namespace base {
namespace win {

// Set and Close stay out of line: the return address each records as the
// first program counter is only meaningful for a real call.

__attribute__((noinline)) void ScopedHandle::Set(HANDLE handle) {
  if (handle_ == handle)
    return;

  const DWORD last_error = ::GetLastError();
  Close();
  if (HandleTraits::IsHandleValid(handle)) {
    handle_ = handle;
    VerifierTraits::StartTracking(
        handle, this,
        __builtin_extract_return_addr(__builtin_return_address(0)),
        debug::GetProgramCounter());
  }
  ::SetLastError(last_error);
}

__attribute__((noinline)) HANDLE ScopedHandle::Take() {
  HANDLE handle = handle_;
  handle_ = nullptr;
  if (HandleTraits::IsHandleValid(handle)) {
    VerifierTraits::StopTracking(
        handle, this,
        __builtin_extract_return_addr(__builtin_return_address(0)),
        debug::GetProgramCounter());
  }
  return handle;
}

__attribute__((noinline)) void ScopedHandle::Close() {
  if (!HandleTraits::IsHandleValid(handle_))
    return;
  VerifierTraits::StopTracking(
      handle_, this, __builtin_extract_return_addr(__builtin_return_address(0)),
      debug::GetProgramCounter());
  // A failed close has already stopped the process, except for the one
  // tolerated case, a protected process handle, which stays open.
  HandleTraits::CloseHandle(handle_);
  handle_ = nullptr;
}

// static
bool HandleTraits::CloseHandle(HANDLE handle) {
  return internal::GetActiveVerifier()->CloseHandle(handle);
}

// static
void VerifierTraits::StartTracking(HANDLE handle,
                                   const void* owner,
                                   const void* pc1,
                                   const void* pc2) {
  internal::GetActiveVerifier()->StartTracking(handle, owner, pc1, pc2);
}

// static
void VerifierTraits::StopTracking(HANDLE handle,
                                  const void* owner,
                                  const void* pc1,
                                  const void* pc2) {
  internal::GetActiveVerifier()->StopTracking(handle, owner, pc1, pc2);
}

}  // namespace win
}  // namespace base
