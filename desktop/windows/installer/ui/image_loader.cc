#include "desktop/windows/installer/ui/image_loader.h"

#include <string.h>

#include "base/logging.h"
#include "base/win/system_library.h"

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
  HMODULE module = ::GetModuleHandleW(nullptr);
  HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
  if (!resource) {
    LOG(ERROR) << "Resource " << id << " not found";
    return nullptr;
  }
  const DWORD size = ::SizeofResource(module, resource);
  if (size == 0) {
    LOG(ERROR) << "Resource " << id << " is empty";
    return nullptr;
  }
  HGLOBAL loaded = ::LoadResource(module, resource);
  const void* data = loaded ? ::LockResource(loaded) : nullptr;
  if (!data) {
    PLOG(ERROR) << "Cannot load resource " << id;
    return nullptr;
  }
  HGLOBAL copy = ::GlobalAlloc(GMEM_MOVEABLE, size);
  if (!copy) {
    PLOG(ERROR) << "Cannot allocate " << size << " bytes for resource " << id;
    return nullptr;
  }
  void* target = ::GlobalLock(copy);
  if (!target) {
    PLOG(ERROR) << "Cannot lock the copy of resource " << id;
    ::GlobalFree(copy);
    return nullptr;
  }
  memcpy(target, data, size);
  ::GlobalUnlock(copy);
  IStream* stream = nullptr;
  // The stream frees |copy| when it is released.
  HRESULT result = ::CreateStreamOnHGlobal(copy, TRUE, &stream);
  if (FAILED(result) || !stream) {
    LOG(ERROR) << "Cannot make a stream of resource " << id << ": 0x"
               << std::hex << result;
    ::GlobalFree(copy);
    return nullptr;
  }
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
