#include "base/debug/stack_trace.h"

#include <windows.h>

#include <algorithm>

namespace base {
namespace debug {

StackTrace::StackTrace() : StackTrace(kMaxTraces) {}

StackTrace::StackTrace(size_t count) {
  // The capture includes this constructor's own frame on purpose: skipping
  // frames would depend on how much the compiler inlined.
  const DWORD wanted = static_cast<DWORD>(std::min(count, kMaxTraces));
  count_ =
      RtlCaptureStackBackTrace(0, wanted, const_cast<void**>(trace_), nullptr);
}

const void* const* StackTrace::Addresses(size_t* count) const {
  *count = count_;
  if (count_)
    return trace_;
  return nullptr;
}

const void* GetProgramCounter() {
  return __builtin_extract_return_addr(__builtin_return_address(0));
}

}  // namespace debug
}  // namespace base
