#ifndef BASE_WIN_SCOPED_PROCESS_INFORMATION_H_
#define BASE_WIN_SCOPED_PROCESS_INFORMATION_H_

#include <windows.h>

#include "base/macros.h"
#include "base/win/scoped_handle.h"

namespace base {
namespace win {

// Owns the process and thread handles that process creation returns.
class ScopedProcessInformation {
 public:
  ScopedProcessInformation();
  explicit ScopedProcessInformation(const PROCESS_INFORMATION& process_info);
  ~ScopedProcessInformation();

  bool IsValid() const;

  // Closes both handles and zeroes both ids.
  void Close();

  // Adopts both handles and ids of |process_info|, closing what was held.
  void Set(const PROCESS_INFORMATION& process_info);

  // Gives up the process handle, untracked, and zeroes the process id.
  HANDLE TakeProcessHandle();
  // Gives up the thread handle, untracked, and zeroes the thread id.
  HANDLE TakeThreadHandle();

  DWORD process_id() const { return process_id_; }
  DWORD thread_id() const { return thread_id_; }
  HANDLE process_handle() const { return process_handle_.Get(); }
  HANDLE thread_handle() const { return thread_handle_.Get(); }

 private:
  ScopedHandle process_handle_;
  ScopedHandle thread_handle_;
  DWORD process_id_;
  DWORD thread_id_;

  DISALLOW_COPY_AND_ASSIGN(ScopedProcessInformation);
};

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_SCOPED_PROCESS_INFORMATION_H_
