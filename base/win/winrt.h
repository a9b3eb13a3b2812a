#ifndef BASE_WIN_WINRT_H_
#define BASE_WIN_WINRT_H_

#include <windows.h>

namespace base {
namespace win {

// The WinRT initialisation entry points of "combase.dll", looked up at run
// time: E_FAIL when the system has none. |init_type| is a RO_INIT_TYPE.
HRESULT RoInitialize(int init_type);
void RoUninitialize();

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_WINRT_H_
