#include "desktop/windows/installer/ui/image_loader.h"

#include <shlwapi.h>

#include "base/logging.h"
#include "base/win/resource_util.h"
#include "base/win/system_library.h"
#include "desktop/windows/installer/ui/resource_ids.h"

namespace installer {

namespace {

// The parts of the GDI+ flat API used here; gdiplus.dll is no known DLL, so
// it is loaded from the system folder when an image is needed.
struct GdiplusStartupInput {
  UINT32 GdiplusVersion;
  void* DebugEventCallback;
  BOOL SuppressBackgroundThread;
  BOOL SuppressExternalCodecs;
};
typedef int GpStatus;  // 0 is Ok.
struct GpBitmap;
typedef GpStatus(WINAPI* GdiplusStartupFunction)(ULONG_PTR*,
                                                 const GdiplusStartupInput*,
                                                 void*);
typedef void(WINAPI* GdiplusShutdownFunction)(ULONG_PTR);
typedef GpStatus(WINAPI* CreateBitmapFromStreamFunction)(IStream*, GpBitmap**);
typedef GpStatus(WINAPI* CreateHBITMAPFromBitmapFunction)(GpBitmap*,
                                                          HBITMAP*,
                                                          DWORD);
typedef GpStatus(WINAPI* DisposeImageFunction)(GpBitmap*);

struct GdiplusFunctions {
  GdiplusStartupFunction startup = nullptr;
  GdiplusShutdownFunction shutdown = nullptr;
  CreateBitmapFromStreamFunction create_bitmap_from_stream = nullptr;
  CreateHBITMAPFromBitmapFunction create_hbitmap_from_bitmap = nullptr;
  DisposeImageFunction dispose_image = nullptr;

  bool complete() const {
    return startup && shutdown && create_bitmap_from_stream &&
           create_hbitmap_from_bitmap && dispose_image;
  }
};

const GdiplusFunctions& GetGdiplusFunctions() {
  static const GdiplusFunctions functions = [] {
    GdiplusFunctions result;
    HMODULE module = base::win::LoadSystemLibrary(L"gdiplus.dll");
    if (!module) {
      PLOG(ERROR) << "Loading library gdiplus.dll failed.";
      return result;
    }
    result.startup = reinterpret_cast<GdiplusStartupFunction>(
        ::GetProcAddress(module, "GdiplusStartup"));
    result.shutdown = reinterpret_cast<GdiplusShutdownFunction>(
        ::GetProcAddress(module, "GdiplusShutdown"));
    result.create_bitmap_from_stream =
        reinterpret_cast<CreateBitmapFromStreamFunction>(
            ::GetProcAddress(module, "GdipCreateBitmapFromStream"));
    result.create_hbitmap_from_bitmap =
        reinterpret_cast<CreateHBITMAPFromBitmapFunction>(
            ::GetProcAddress(module, "GdipCreateHBITMAPFromBitmap"));
    result.dispose_image = reinterpret_cast<DisposeImageFunction>(
        ::GetProcAddress(module, "GdipDisposeImage"));
    if (!result.complete())
      LOG(ERROR) << "gdiplus.dll lacks a function";
    return result;
  }();
  return functions;
}

}  // namespace

IStream* LoadResourceStream(int id, const wchar_t* type) {
  const base::StringPiece bytes = base::win::GetHostResource(id, type);
  if (bytes.empty()) {
    LOG(ERROR) << "Resource " << id << " is missing or empty";
    return nullptr;
  }
  // The stream holds its own copy of the bytes.
  IStream* stream = ::SHCreateMemStream(
      reinterpret_cast<const BYTE*>(bytes.data()), bytes.size());
  if (!stream)
    LOG(ERROR) << "Cannot make a stream of resource " << id;
  return stream;
}

HBITMAP LoadPngBitmap(int id) {
  const GdiplusFunctions& gdiplus = GetGdiplusFunctions();
  if (!gdiplus.complete())
    return nullptr;
  IStream* stream = LoadResourceStream(id, L"PNG");
  if (!stream)
    return nullptr;
  GdiplusStartupInput input = {1, nullptr, FALSE, FALSE};
  ULONG_PTR token = 0;
  GpStatus status = gdiplus.startup(&token, &input, nullptr);
  if (status != 0) {
    LOG(ERROR) << "GdiplusStartup failed: " << status;
    stream->Release();
    return nullptr;
  }
  HBITMAP bitmap = nullptr;
  GpBitmap* image = nullptr;
  status = gdiplus.create_bitmap_from_stream(stream, &image);
  if (status != 0 || !image) {
    LOG(ERROR) << "Image " << id << " cannot be decoded: " << status;
  } else {
    // Transparent black: pixels the image leaves open stay see-through.
    status = gdiplus.create_hbitmap_from_bitmap(image, &bitmap, 0x00000000);
    if (status != 0) {
      LOG(ERROR) << "Image " << id << " cannot be converted: " << status;
      bitmap = nullptr;
    }
    gdiplus.dispose_image(image);
  }
  stream->Release();
  gdiplus.shutdown(token);
  return bitmap;
}

void SetInstallerIcons(HWND window) {
  HMODULE host = ::GetModuleHandleW(nullptr);
  for (int size : {ICON_BIG, ICON_SMALL}) {
    const int width =
        ::GetSystemMetrics(size == ICON_BIG ? SM_CXICON : SM_CXSMICON);
    const int height =
        ::GetSystemMetrics(size == ICON_BIG ? SM_CYICON : SM_CYSMICON);
    HANDLE icon = ::LoadImageW(host, MAKEINTRESOURCEW(IDI_INSTALLER),
                               IMAGE_ICON, width, height, LR_SHARED);
    ::SendMessageW(window, WM_SETICON, size, reinterpret_cast<LPARAM>(icon));
  }
}

bool AlphaBlendBitmap(HDC dest,
                      const RECT& dest_rect,
                      HBITMAP bitmap,
                      const RECT& source_rect) {
  if (!dest || !bitmap)
    return false;
  HDC source = ::CreateCompatibleDC(dest);
  if (!source)
    return false;
  HGDIOBJ old = ::SelectObject(source, bitmap);
  BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  const bool drawn = !!::GdiAlphaBlend(
      dest, dest_rect.left, dest_rect.top, dest_rect.right - dest_rect.left,
      dest_rect.bottom - dest_rect.top, source, source_rect.left,
      source_rect.top, source_rect.right - source_rect.left,
      source_rect.bottom - source_rect.top, blend);
  ::SelectObject(source, old);
  ::DeleteDC(source);
  return drawn;
}

}  // namespace installer
