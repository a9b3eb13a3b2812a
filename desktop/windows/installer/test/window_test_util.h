#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_WINDOW_TEST_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_WINDOW_TEST_UTIL_H_

#include <windows.h>

#include <stdint.h>
#include <stdlib.h>
#include <wchar.h>
#include <wctype.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

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

// Where |child| lies in a capture of |window|: the whole window, or with
// |client_only| its client area (as a canvas its WM_ERASEBKGND painted).
inline RECT RectInCapture(HWND window, HWND child, bool client_only = false) {
  RECT inner = {};
  ::GetWindowRect(child, &inner);
  if (client_only) {
    ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&inner), 2);
    return inner;
  }
  RECT outer = {};
  ::GetWindowRect(window, &outer);
  ::OffsetRect(&inner, -outer.left, -outer.top);
  return inner;
}

// The whole of |capture|.
inline RECT WholeCapture(const WindowCapture& capture) {
  return RECT{0, 0, capture.width, capture.height};
}

// The pixels of |capture| inside |rect| for which |predicate| holds.
inline size_t CountPixels(const WindowCapture& capture,
                          const RECT& rect,
                          const std::function<bool(uint32_t)>& predicate) {
  size_t count = 0;
  const int top = std::max<int>(rect.top, 0);
  const int bottom = std::min<int>(rect.bottom, capture.height);
  const int left = std::max<int>(rect.left, 0);
  const int right = std::min<int>(rect.right, capture.width);
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) {
      if (predicate(capture.pixels[static_cast<size_t>(y) * capture.width + x]))
        ++count;
    }
  }
  return count;
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
  for (;;) {
    PumpMessages();
    capture = CaptureWindow(window);
    if (drawn(capture) || ::GetTickCount64() > deadline)
      break;
    // Waits for the next message, if one comes, rather than a fixed time.
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  RECT rect = {};
  ::GetWindowRect(window, &rect);
  EXPECT_EQ(rect.right - rect.left, capture.width) << name;
  EXPECT_EQ(rect.bottom - rect.top, capture.height) << name;
  EXPECT_GT(capture.CountColors(), min_colors) << name;
  EXPECT_FALSE(SaveCapture(capture, name).empty()) << name;
  return capture;
}

// A visible control of a window as a screenshot shows it.
struct ShownControl {
  HWND window = nullptr;
  int id = 0;
  std::wstring kind;  // lower-case class name
  std::wstring text;
  RECT rect = {};  // in the capture of the window
};

// The visible controls of |window| at every depth, but those inside a
// combo box (its own edit field) and pop-up helpers such as tool tips.
inline std::vector<ShownControl> ShownControls(HWND window) {
  struct Walk {
    HWND window;
    std::vector<ShownControl> controls;
  } walk{window, {}};
  ::EnumChildWindows(
      window,
      [](HWND child, LPARAM param) -> BOOL {
        auto* walk = reinterpret_cast<Walk*>(param);
        if (!::IsWindowVisible(child))
          return TRUE;
        wchar_t class_name[64] = {};
        ::GetClassNameW(child, class_name, 64);
        wchar_t parent_class[64] = {};
        ::GetClassNameW(::GetParent(child), parent_class, 64);
        ShownControl control;
        control.window = child;
        control.id = ::GetDlgCtrlID(child);
        for (const wchar_t* c = class_name; *c; ++c)
          control.kind.push_back(static_cast<wchar_t>(::towlower(*c)));
        if (control.kind == L"tooltips_class32" ||
            _wcsicmp(parent_class, L"ComboBox") == 0) {
          return TRUE;
        }
        control.text = WindowText(child);
        control.rect = RectInCapture(walk->window, child);
        walk->controls.push_back(control);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&walk));
  return walk.controls;
}

// The pixels of |rect| in |capture| that stand out from the colour most of
// the rectangle has: the ink of a text drawn there.
inline size_t CountInkPixels(const WindowCapture& capture, const RECT& rect) {
  std::map<uint32_t, size_t> colors;
  CountPixels(capture, rect, [&](uint32_t pixel) {
    ++colors[pixel];
    return false;
  });
  uint32_t ground = 0;
  size_t most = 0;
  for (const auto& entry : colors) {
    if (entry.second > most) {
      most = entry.second;
      ground = entry.first;
    }
  }
  return CountPixels(capture, rect, [ground](uint32_t pixel) {
    int distance = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
      distance += std::abs(static_cast<int>((pixel >> shift) & 0xFF) -
                           static_cast<int>((ground >> shift) & 0xFF));
    }
    return distance > 0xC0;
  });
}

// What a capture of |window| must show of each visible control: the
// control inside the capture, not overlapping a visible sibling, and for a
// control that shows a text, that text (read back) not empty and its ink
// inside the control's text area. Returns what is wrong, one line each.
inline std::vector<std::wstring> CheckShownControls(
    HWND window,
    const WindowCapture& capture) {
  std::vector<std::wstring> problems;
  const std::vector<ShownControl> controls = ShownControls(window);
  auto name = [](const ShownControl& control) {
    return std::to_wstring(control.id) + L" (" + control.kind + L")";
  };
  for (size_t i = 0; i < controls.size(); ++i) {
    const ShownControl& control = controls[i];
    const RECT& r = control.rect;
    if (r.left < 0 || r.top < 0 || r.right > capture.width ||
        r.bottom > capture.height || r.right <= r.left || r.bottom <= r.top) {
      problems.push_back(name(control) + L" lies outside the window");
    }
    for (size_t j = i + 1; j < controls.size(); ++j) {
      RECT overlap;
      if (::GetParent(controls[j].window) == ::GetParent(control.window) &&
          ::IntersectRect(&overlap, &r, &controls[j].rect)) {
        problems.push_back(name(control) + L" overlaps " + name(controls[j]));
      }
    }
    // The text area: inside the frame, and beside a check mark or the
    // drop-down arrow.
    const bool texted = control.kind == L"static" ||
                        control.kind == L"button" || control.kind == L"edit" ||
                        control.kind == L"combobox" ||
                        control.kind.find(L"richedit") == 0;
    if (!texted)
      continue;
    const LONG style = ::GetWindowLongW(control.window, GWL_STYLE);
    if (control.kind == L"static" && (style & SS_TYPEMASK) >= SS_ICON &&
        (style & SS_TYPEMASK) != SS_LEFTNOWORDWRAP &&
        (style & SS_TYPEMASK) != SS_SIMPLE) {
      continue;  // a picture, a frame or a drawing of its owner
    }
    if (control.text.empty()) {
      problems.push_back(name(control) + L" shows no text");
      continue;
    }
    RECT text_area = r;
    ::InflateRect(&text_area, -2, -2);
    const LONG type = style & BS_TYPEMASK;
    const bool mirrored =
        (::GetWindowLongW(control.window, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
    int beside = 0;
    if (control.kind == L"button" &&
        (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX ||
         type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON ||
         type == BS_3STATE || type == BS_AUTO3STATE)) {
      beside = ::GetSystemMetrics(SM_CXMENUCHECK) + 2;
    } else if (control.kind == L"combobox") {
      beside = ::GetSystemMetrics(SM_CXVSCROLL) + 2;
    }
    // The mark or arrow sits at the far end in a mirrored control.
    const bool mark_right = (control.kind == L"combobox") != mirrored;
    if (mark_right)
      text_area.right -= beside;
    else
      text_area.left += beside;
    if (CountInkPixels(capture, text_area) < 10u) {
      problems.push_back(name(control) + L" draws none of \"" + control.text +
                         L"\"");
    }
  }
  return problems;
}

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_WINDOW_TEST_UTIL_H_
