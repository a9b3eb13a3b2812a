#ifndef BASE_WIN_SCOPED_HDC_H_
#define BASE_WIN_SCOPED_HDC_H_

#include <windows.h>

#include "base/macros.h"

namespace base {
namespace win {

// The device context of a window (or, for a null window, of the whole
// screen), released when the object goes away.
class ScopedGetDC {
 public:
  // A whole-screen context that cannot be had means the process is out of
  // GDI resources, and it ends. For a real window a null context is simply
  // held.
  explicit ScopedGetDC(HWND hwnd);
  ~ScopedGetDC();

  operator HDC() const { return hdc_; }
  HDC Get() const { return hdc_; }

 private:
  HWND hwnd_;
  HDC hdc_;

  DISALLOW_COPY_AND_ASSIGN(ScopedGetDC);
};

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_SCOPED_HDC_H_
