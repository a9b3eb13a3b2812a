#include "base/debug/debugger.h"

#include <windows.h>

#include <atomic>

#include "base/check.h"

namespace base {
namespace debug {

namespace {

std::atomic<bool> g_suppress_debug_ui{false};

}  // namespace

bool BeingDebugged() {
  return ::IsDebuggerPresent() != FALSE;
}

void BreakDebugger() {
  if (IsDebugUISuppressed()) {
    // No at-exit callbacks, no DLL detach: whatever failed may be what they
    // would touch.
    ::TerminateProcess(::GetCurrentProcess(), 1);
  }
  // Even if a debugger continues past the trap, the process must not.
  IMMEDIATE_CRASH();
}

void SetSuppressDebugUI(bool suppress) {
  g_suppress_debug_ui.store(suppress, std::memory_order_relaxed);
}

bool IsDebugUISuppressed() {
  return g_suppress_debug_ui.load(std::memory_order_relaxed);
}

}  // namespace debug
}  // namespace base
