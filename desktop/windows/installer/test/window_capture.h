#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_WINDOW_CAPTURE_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_WINDOW_CAPTURE_H_

#include <windows.h>

#include <stdint.h>

#include <algorithm>
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

// Saves |capture| as a 24-bit .bmp named |name| in ScreenshotDir(); returns
// the path (empty on failure).
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
  return path;
}

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_WINDOW_CAPTURE_H_
