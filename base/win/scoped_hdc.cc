#include "base/win/scoped_hdc.h"

#include "base/debug/gdi_debug_util_win.h"

namespace base {
namespace win {

ScopedGetDC::ScopedGetDC(HWND hwnd) : hwnd_(hwnd), hdc_(::GetDC(hwnd)) {
  // The whole screen always has a context unless the process has run out
  // of GDI resources. A window's context may be missing for reasons of the
  // window's own, and the caller copes with a null one.
  if (!hwnd_ && !hdc_)
    debug::CollectGDIUsageAndDie(nullptr, nullptr);
}

ScopedGetDC::~ScopedGetDC() {
  if (hdc_)
    ::ReleaseDC(hwnd_, hdc_);
}

}  // namespace win
}  // namespace base
