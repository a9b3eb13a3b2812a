#include "base/win/scoped_process_information.h"

namespace base {
namespace win {

ScopedProcessInformation::ScopedProcessInformation()
    : process_id_(0), thread_id_(0) {}

ScopedProcessInformation::ScopedProcessInformation(
    const PROCESS_INFORMATION& process_info)
    : process_id_(0), thread_id_(0) {
  Set(process_info);
}

ScopedProcessInformation::~ScopedProcessInformation() {
  Close();
}

bool ScopedProcessInformation::IsValid() const {
  return process_id_ || process_handle_.Get() || thread_id_ ||
         thread_handle_.Get();
}

void ScopedProcessInformation::Close() {
  if (process_handle_.IsValid())
    process_handle_.Close();
  if (thread_handle_.IsValid())
    thread_handle_.Close();
  process_id_ = 0;
  thread_id_ = 0;
}

void ScopedProcessInformation::Set(const PROCESS_INFORMATION& process_info) {
  if (IsValid())
    Close();
  process_handle_.Set(process_info.hProcess);
  thread_handle_.Set(process_info.hThread);
  process_id_ = process_info.dwProcessId;
  thread_id_ = process_info.dwThreadId;
}

HANDLE ScopedProcessInformation::TakeProcessHandle() {
  process_id_ = 0;
  return process_handle_.Take();
}

HANDLE ScopedProcessInformation::TakeThreadHandle() {
  thread_id_ = 0;
  return thread_handle_.Take();
}

}  // namespace win
}  // namespace base
