#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_WINDOW_TEST_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_WINDOW_TEST_UTIL_H_

#include <windows.h>

#include <stdint.h>

#include <algorithm>
#include <functional>
#include <string>

#include "desktop/windows/installer/test/window_capture.h"
#include "gtest/gtest.h"

namespace installer {
namespace test {

// The whole text of |window|.
inline std::wstring WindowText(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  if (length <= 0)
    return std::wstring();
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int copied = ::GetWindowTextW(window, &text[0], length + 1);
  text.resize(static_cast<size_t>(std::max(copied, 0)));
  return text;
}

// Handles every message waiting on this thread.
inline void PumpMessages() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

// Captures |window| until |drawn| accepts the capture, handling messages
// before each try: Wine puts what a window drew on the X screen later, from
// its message loop. Expects the last capture to have the window's size and
// more than |min_colors| colours, keeps it as |name| and returns it for the
// caller's own checks.
inline WindowCapture CheckAndSaveCapture(
    HWND window,
    const std::wstring& name,
    size_t min_colors,
    const std::function<bool(const WindowCapture&)>& drawn) {
  WindowCapture capture;
  // A loaded machine may take long to paint; a window that never shows what
  // it must fails after a minute.
  const ULONGLONG deadline = ::GetTickCount64() + 60 * 1000;
  bool accepted = false;
  for (;;) {
    PumpMessages();
    capture = CaptureWindow(window);
    accepted = drawn(capture);
    if (accepted || ::GetTickCount64() > deadline)
      break;
    // Waits for the next message, if one comes, rather than a fixed time.
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  RECT rect = {};
  ::GetWindowRect(window, &rect);
  if (!accepted) {
    // The capture copies the screen, which tests of other processes share:
    // says which window lies at the window's middle, for the reader of the
    // failure.
    const POINT middle = {(rect.left + rect.right) / 2,
                          (rect.top + rect.bottom) / 2};
    const HWND shown = ::WindowFromPoint(middle);
    wchar_t shown_class[64] = L"";
    DWORD shown_process = 0;
    if (shown) {
      ::GetClassNameW(shown, shown_class, 64);
      ::GetWindowThreadProcessId(shown, &shown_process);
    }
    ADD_FAILURE() << name << ": never drawn as expected; the window at its "
                  << "middle is of class \"" << shown_class << "\" in process "
                  << shown_process << " (this process: "
                  << ::GetCurrentProcessId() << ")";
  }
  EXPECT_EQ(rect.right - rect.left, capture.width) << name;
  EXPECT_EQ(rect.bottom - rect.top, capture.height) << name;
  EXPECT_GT(capture.CountColors(), min_colors) << name;
  EXPECT_FALSE(SaveCapture(capture, name).empty()) << name;
  return capture;
}

// Whether |text| drawn in |font| gives its letters shapes of their own: a
// font without them draws one and the same box (or nothing) for each. The
// first two letters beyond Latin that look the same go to |*same|.
inline bool DrawsDistinctLetters(HFONT font,
                                 const std::wstring& text,
                                 std::wstring* same) {
  std::vector<wchar_t> letters;
  std::vector<std::vector<uint32_t>> shapes;
  for (wchar_t letter : text) {
    if (letter < 0x250 || ::iswspace(letter) ||
        std::find(letters.begin(), letters.end(), letter) != letters.end()) {
      continue;
    }
    const WindowCapture shape =
        DrawOnCanvas(40, 40, 0xFFFFFF, [&](HDC dc) {
          HGDIOBJ old = ::SelectObject(dc, font);
          ::SetBkMode(dc, TRANSPARENT);
          ::SetTextColor(dc, RGB(0, 0, 0));
          ::TextOutW(dc, 4, 4, &letter, 1);
          ::SelectObject(dc, old);
        });
    for (size_t i = 0; i < shapes.size(); ++i) {
      if (shapes[i] == shape.pixels) {
        *same = std::wstring(1, letters[i]) + L" and " +
                std::wstring(1, letter);
        return false;
      }
    }
    letters.push_back(letter);
    shapes.push_back(shape.pixels);
    if (letters.size() >= 8)
      break;
  }
  return true;
}

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_WINDOW_TEST_UTIL_H_
