#include "base/win/winrt.h"

#include <windows.h>

#include "base/win/system_library.h"

namespace base {
namespace win {

namespace {

struct WinRtFunctions {
  using RoInitializeFunction = HRESULT(WINAPI*)(int);
  using RoUninitializeFunction = void(WINAPI*)();

  WinRtFunctions() {
    HMODULE combase = LoadSystemLibrary(L"combase.dll");
    if (!combase)
      return;
    ro_initialize = reinterpret_cast<RoInitializeFunction>(
        GetProcAddress(combase, "RoInitialize"));
    ro_uninitialize = reinterpret_cast<RoUninitializeFunction>(
        GetProcAddress(combase, "RoUninitialize"));
  }

  RoInitializeFunction ro_initialize = nullptr;
  RoUninitializeFunction ro_uninitialize = nullptr;
};

const WinRtFunctions& GetWinRtFunctions() {
  // Thread-safe one-time initialisation; never destroyed.
  static const WinRtFunctions* functions = new WinRtFunctions();
  return *functions;
}

}  // namespace

HRESULT RoInitialize(int init_type) {
  auto function = GetWinRtFunctions().ro_initialize;
  return function ? function(init_type) : E_FAIL;
}

void RoUninitialize() {
  auto function = GetWinRtFunctions().ro_uninitialize;
  if (function)
    function();
}

}  // namespace win
}  // namespace base
