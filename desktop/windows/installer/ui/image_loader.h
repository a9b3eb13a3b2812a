#ifndef DESKTOP_WINDOWS_INSTALLER_UI_IMAGE_LOADER_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_IMAGE_LOADER_H_

#include <objidl.h>
#include <windows.h>

namespace installer {

// A COM stream over a copy of resource |id| of |type| of the host
// executable; null on any failure. The stream frees its memory when
// released.
IStream* LoadResourceStream(int id, const wchar_t* type);
// The "PNG" resource |id| of the host executable as a 32-bit bitmap with a
// transparent black background; null on failure. The caller deletes it.
HBITMAP LoadPngBitmap(int id);
// Gives |window| the host executable's installer icon, big and small.
void SetInstallerIcons(HWND window);
// Draws |bitmap| into |dest| with source-over blending, constant alpha 255
// and per-pixel alpha.
bool AlphaBlendBitmap(HDC dest,
                      const RECT& dest_rect,
                      HBITMAP bitmap,
                      const RECT& source_rect);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_IMAGE_LOADER_H_
