#include "base/win/dpi.h"

#include <windows.h>

#include <stdint.h>

#include <atomic>

#include "base/win/system_library.h"
#include "base/win/windows_version.h"

namespace base {
namespace win {

namespace internal {

void EnableHighDPISupportWith(const DpiAwarenessSetters& setters) {
  const Version version = GetVersion();
  bool done = false;
  if (version < WIN10_RS2) {
    if (setters.set_process_dpi_awareness_internal) {
      // 1: system aware; 2: per-monitor aware.
      done = setters.set_process_dpi_awareness_internal(
                 version < WIN10 ? 1 : 2) >= 0;
    }
  } else if (setters.set_process_dpi_awareness_context) {
    // This one answers with a BOOL, not an HRESULT: a failed call (FALSE)
    // falls back like a missing function does.
    // -4: per-monitor aware, second version.
    done = setters.set_process_dpi_awareness_context(
               reinterpret_cast<HANDLE>(static_cast<intptr_t>(-4))) != FALSE;
  }
  if (!done && setters.set_process_dpi_aware)
    setters.set_process_dpi_aware();
}

}  // namespace internal

void EnableHighDPISupport() {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  internal::DpiAwarenessSetters setters;
  if (user32) {
    setters.set_process_dpi_awareness_internal =
        reinterpret_cast<internal::DpiAwarenessSetters::SetAwarenessFunction>(
            GetProcAddress(user32, "SetProcessDpiAwarenessInternal"));
    setters.set_process_dpi_awareness_context =
        reinterpret_cast<internal::DpiAwarenessSetters::SetContextFunction>(
            GetProcAddress(user32, "SetProcessDpiAwarenessContext"));
  }
  setters.set_process_dpi_aware = &SetProcessDPIAware;
  internal::EnableHighDPISupportWith(setters);
}

bool IsProcessPerMonitorDpiAware() {
  enum : int { kNotAsked = 0, kNo = 1, kYes = 2 };
  static std::atomic<int> answer{kNotAsked};
  int known = answer.load(std::memory_order_acquire);
  if (known != kNotAsked)
    return known == kYes;
  answer.store(kNo, std::memory_order_release);
  HMODULE shcore = LoadSystemLibrary(L"shcore.dll");
  if (shcore) {
    using GetAwarenessFunction = HRESULT(WINAPI*)(HANDLE, int*);
    auto get_awareness = reinterpret_cast<GetAwarenessFunction>(
        GetProcAddress(shcore, "GetProcessDpiAwareness"));
    int awareness = 0;
    // A null process handle means the calling process.
    if (get_awareness && SUCCEEDED(get_awareness(nullptr, &awareness)) &&
        awareness == 2) {
      answer.store(kYes, std::memory_order_release);
    }
  }
  return answer.load(std::memory_order_acquire) == kYes;
}

}  // namespace win
}  // namespace base
