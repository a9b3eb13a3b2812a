#include "base/win/winrt.h"

#include <windows.h>

#include "base/win/system_library.h"
#include "gtest/gtest.h"

namespace base {
namespace win {
namespace {

TEST(WinRtTest, WinRtEntryPoints) {
  // 0: single-threaded. Wine provides combase; a system without it answers
  // E_FAIL and the pair must still be safe to call.
  HRESULT hr = RoInitialize(0);
  if (hr == E_FAIL) {
    EXPECT_FALSE(
        GetProcAddress(LoadSystemLibrary(L"combase.dll"), "RoInitialize"));
  } else {
    EXPECT_TRUE(SUCCEEDED(hr)) << std::hex << hr;
  }
  if (SUCCEEDED(hr))
    RoUninitialize();
}

}  // namespace
}  // namespace win
}  // namespace base
