#ifndef BASE_WIN_DPI_H_
#define BASE_WIN_DPI_H_

#include <windows.h>

namespace base {
namespace win {

// Sets the process's DPI awareness by version; the installer calls it at
// start-up.
void EnableHighDPISupport();

// Whether the process is per-monitor DPI aware; asked of the system once.
bool IsProcessPerMonitorDpiAware();

namespace internal {

// The system calls EnableHighDPISupport chooses among; null where the
// system lacks one.
struct DpiAwarenessSetters {
  using SetAwarenessFunction = HRESULT(WINAPI*)(int);
  using SetContextFunction = BOOL(WINAPI*)(HANDLE);
  using SetAwareFunction = BOOL(WINAPI*)();

  SetAwarenessFunction set_process_dpi_awareness_internal = nullptr;
  SetContextFunction set_process_dpi_awareness_context = nullptr;
  SetAwareFunction set_process_dpi_aware = nullptr;
};

// EnableHighDPISupport over |setters|: the version (GetVersion(), which
// tests override) picks the call, and a missing or failed one falls back on
// plain system awareness.
void EnableHighDPISupportWith(const DpiAwarenessSetters& setters);

}  // namespace internal

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_DPI_H_
