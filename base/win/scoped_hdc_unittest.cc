#include "base/win/scoped_hdc.h"

#include "base/win/wrapped_window_proc.h"
#include "gtest/gtest.h"

namespace base {
namespace win {

namespace {

int FirstFilter(EXCEPTION_POINTERS*) {
  return EXCEPTION_CONTINUE_SEARCH;
}

int SecondFilter(EXCEPTION_POINTERS*) {
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

TEST(ScopedGetDCTest, ScreenContextIsHeldAndReleased) {
  ScopedGetDC screen(nullptr);
  ASSERT_NE(nullptr, screen.Get());
  EXPECT_GT(::GetDeviceCaps(screen, HORZRES), 0);
}

TEST(ScopedGetDCTest, WindowContext) {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = ::DefWindowProcW;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"KavorScopedGetDCTest";
  const ATOM atom = ::RegisterClassExW(&window_class);
  ASSERT_NE(0, atom);
  // A message-only window needs no display, which test machines lack.
  HWND window =
      ::CreateWindowExW(0, MAKEINTATOM(atom), L"", 0, 0, 0, 10, 10,
                        HWND_MESSAGE, nullptr, window_class.hInstance, nullptr);
  ASSERT_NE(nullptr, window);
  {
    ScopedGetDC dc(window);
    EXPECT_NE(nullptr, dc.Get());
    EXPECT_EQ(window, ::WindowFromDC(dc));
  }
  ::DestroyWindow(window);
  ::UnregisterClassW(MAKEINTATOM(atom), window_class.hInstance);

  // A window that is gone has no context; that is held, not fatal.
  ScopedGetDC gone(window);
  EXPECT_EQ(nullptr, gone.Get());
}

TEST(WinProcExceptionFilterTest, ExchangeReturnsThePreviousFilter) {
  WinProcExceptionFilter original = SetWinProcExceptionFilter(FirstFilter);
  EXPECT_EQ(FirstFilter, GetWinProcExceptionFilter());
  EXPECT_EQ(FirstFilter, SetWinProcExceptionFilter(SecondFilter));
  EXPECT_EQ(SecondFilter, SetWinProcExceptionFilter(original));
  EXPECT_EQ(original, GetWinProcExceptionFilter());
}

}  // namespace win
}  // namespace base
