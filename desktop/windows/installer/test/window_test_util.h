#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_WINDOW_TEST_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_WINDOW_TEST_UTIL_H_

#include <windows.h>

#include <algorithm>
#include <string>

#include "desktop/windows/installer/test/window_capture.h"

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

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_WINDOW_TEST_UTIL_H_
