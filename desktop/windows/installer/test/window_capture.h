#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_WINDOW_CAPTURE_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_WINDOW_CAPTURE_H_

#include <windows.h>

#include <stdint.h>
#include <stdlib.h>
#include <wchar.h>
#include <wctype.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/base_paths.h"
#include "base/path_service.h"

namespace installer {
namespace test {

// The pixels of a window as it is on screen, top row first, 0x00RRGGBB.
struct WindowCapture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;

  size_t CountColors() const {
    return std::set<uint32_t>(pixels.begin(), pixels.end()).size();
  }
};

// A |width| x |height| canvas filled with |fill| that |draw| paints on
// through a memory DC; empty when the canvas cannot be made.
template <typename Draw>
WindowCapture DrawOnCanvas(int width, int height, uint32_t fill, Draw draw) {
  WindowCapture capture;
  if (width <= 0 || height <= 0)
    return capture;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  HDC memory = ::CreateCompatibleDC(nullptr);
  void* bits = nullptr;
  HBITMAP bitmap =
      ::CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap || !bits) {
    if (bitmap)
      ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    return capture;
  }
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  uint32_t* canvas = static_cast<uint32_t*>(bits);
  const size_t count = static_cast<size_t>(width) * height;
  std::fill(canvas, canvas + count, fill);
  draw(memory);
  ::GdiFlush();
  capture.width = width;
  capture.height = height;
  capture.pixels.assign(canvas, canvas + count);
  for (uint32_t& pixel : capture.pixels)
    pixel &= 0xFFFFFF;
  ::SelectObject(memory, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  return capture;
}

// Repaints |window| and copies what the screen shows of it. Windows under
// Xvfb have no compositor, so the window must be on top and unobscured.
inline WindowCapture CaptureWindow(HWND window) {
  ::RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  ::GdiFlush();
  RECT rect;
  if (!::GetWindowRect(window, &rect))
    return WindowCapture();
  return DrawOnCanvas(
      rect.right - rect.left, rect.bottom - rect.top, 0, [&](HDC memory) {
        HDC screen = ::GetDC(nullptr);
        ::BitBlt(memory, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
                 screen, rect.left, rect.top, SRCCOPY);
        ::ReleaseDC(nullptr, screen);
      });
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
        // Asked of the control itself: its window name is not its text in
        // another process, nor a combo box's in any.
        wchar_t text[1024] = {};
        DWORD_PTR copied = 0;
        if (::SendMessageTimeoutW(child, WM_GETTEXT, 1024,
                                  reinterpret_cast<LPARAM>(text),
                                  SMTO_ABORTIFHUNG, 5000, &copied)) {
          control.text.assign(text, std::min<size_t>(copied, 1023));
        }
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

// Where tests keep their screenshots: $KAVOR_SCREENSHOT_DIR when set, else
// "artifacts\screenshots" beside the build's bin folder.
inline base::FilePath ScreenshotDir() {
  wchar_t value[MAX_PATH];
  DWORD length =
      ::GetEnvironmentVariableW(L"KAVOR_SCREENSHOT_DIR", value, MAX_PATH);
  base::FilePath dir;
  if (length > 0 && length < MAX_PATH) {
    dir = base::FilePath(value);
  } else {
    base::FilePath exe_dir;
    if (!base::PathService::Get(base::DIR_EXE, &exe_dir))
      return base::FilePath();
    dir = exe_dir.DirName().Append(L"artifacts").Append(L"screenshots");
  }
  if (!base::CreateDirectory(dir))
    return base::FilePath();
  return dir;
}

// |capture| as a 24-bit PNG, its image data in stored (uncompressed)
// deflate blocks: any image viewer opens it, and no compressor is needed.
inline std::string EncodePng(const WindowCapture& capture) {
  uint32_t crc_table[256];
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k)
      c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    crc_table[n] = c;
  }
  auto append_u32 = [](std::string* out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
      out->push_back(static_cast<char>((value >> shift) & 0xFF));
  };
  std::string png("\x89PNG\r\n\x1a\n", 8);
  auto chunk = [&](const char* type, const std::string& data) {
    append_u32(&png, static_cast<uint32_t>(data.size()));
    const std::string body = std::string(type, 4) + data;
    png += body;
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : body)
      crc = crc_table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    append_u32(&png, crc ^ 0xFFFFFFFFu);
  };
  std::string header;
  append_u32(&header, static_cast<uint32_t>(capture.width));
  append_u32(&header, static_cast<uint32_t>(capture.height));
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
  chunk("IHDR", header);
  // Each row: filter type 0, then red, green, blue.
  std::string raw;
  raw.reserve(static_cast<size_t>(capture.height) * (capture.width * 3 + 1));
  for (int y = 0; y < capture.height; ++y) {
    raw.push_back('\0');
    for (int x = 0; x < capture.width; ++x) {
      const uint32_t pixel = capture.pixels[y * capture.width + x];
      raw.push_back(static_cast<char>((pixel >> 16) & 0xFF));
      raw.push_back(static_cast<char>((pixel >> 8) & 0xFF));
      raw.push_back(static_cast<char>(pixel & 0xFF));
    }
  }
  std::string zlib("\x78\x01", 2);
  uint32_t a = 1, b = 0;
  for (unsigned char byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  size_t offset = 0;
  do {
    const size_t size = std::min<size_t>(raw.size() - offset, 65535);
    zlib.push_back(offset + size == raw.size() ? '\x01' : '\x00');
    zlib.push_back(static_cast<char>(size & 0xFF));
    zlib.push_back(static_cast<char>(size >> 8));
    zlib.push_back(static_cast<char>(~size & 0xFF));
    zlib.push_back(static_cast<char>((~size >> 8) & 0xFF));
    zlib.append(raw, offset, size);
    offset += size;
  } while (offset < raw.size());
  append_u32(&zlib, (b << 16) | a);
  chunk("IDAT", zlib);
  chunk("IEND", std::string());
  return png;
}

// Saves |capture| as a 24-bit .bmp named |name| in ScreenshotDir(), for the
// tests' own checks, and beside it as a .png for a reader; returns the
// .bmp's path (empty on failure).
inline base::FilePath SaveCapture(const WindowCapture& capture,
                                  const std::wstring& name) {
  const int row = (capture.width * 3 + 3) & ~3;
  BITMAPFILEHEADER file = {};
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof(header);
  header.biWidth = capture.width;
  header.biHeight = capture.height;  // bottom-up
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  header.biSizeImage = row * capture.height;
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(file) + sizeof(header);
  file.bfSize = file.bfOffBits + header.biSizeImage;
  std::string data(reinterpret_cast<const char*>(&file), sizeof(file));
  data.append(reinterpret_cast<const char*>(&header), sizeof(header));
  for (int y = capture.height - 1; y >= 0; --y) {
    std::string line(row, '\0');
    for (int x = 0; x < capture.width; ++x) {
      const uint32_t pixel = capture.pixels[y * capture.width + x];
      line[x * 3] = static_cast<char>(pixel & 0xFF);
      line[x * 3 + 1] = static_cast<char>((pixel >> 8) & 0xFF);
      line[x * 3 + 2] = static_cast<char>((pixel >> 16) & 0xFF);
    }
    data += line;
  }
  const base::FilePath dir = ScreenshotDir();
  if (dir.empty())
    return base::FilePath();
  const base::FilePath path = dir.Append(name + L".bmp");
  if (base::WriteFile(path, data.data(), static_cast<int>(data.size())) !=
      static_cast<int>(data.size())) {
    return base::FilePath();
  }
  const std::string png = EncodePng(capture);
  if (base::WriteFile(dir.Append(name + L".png"), png.data(),
                      static_cast<int>(png.size())) !=
      static_cast<int>(png.size())) {
    return base::FilePath();
  }
  return path;
}

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_WINDOW_CAPTURE_H_
