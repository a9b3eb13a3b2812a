#include "base/win/wrapped_window_proc.h"

#include <atomic>

namespace base {
namespace win {

namespace {

std::atomic<WinProcExceptionFilter> s_exception_filter{nullptr};

}  // namespace

WinProcExceptionFilter SetWinProcExceptionFilter(
    WinProcExceptionFilter filter) {
  return s_exception_filter.exchange(filter);
}

WinProcExceptionFilter GetWinProcExceptionFilter() {
  return s_exception_filter.load();
}

}  // namespace win
}  // namespace base
