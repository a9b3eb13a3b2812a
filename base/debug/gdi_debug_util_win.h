#ifndef BASE_DEBUG_GDI_DEBUG_UTIL_WIN_H_
#define BASE_DEBUG_GDI_DEBUG_UTIL_WIN_H_

#include <windows.h>

namespace base {
namespace debug {

// Called when a screen device context or a DIB section cannot be had.
// Gathers the process's (and, when that explains nothing, its children's)
// GDI and USER object counts into locals that a crash dump keeps, then ends
// the process. |header| and |shared_section| may be null.
[[noreturn]] void CollectGDIUsageAndDie(BITMAPINFOHEADER* header,
                                        HANDLE shared_section);

// False only when win32k system calls are disabled for this process
// (Windows 8 and later). Computed once.
bool IsUser32AndGdi32Available();

}  // namespace debug
}  // namespace base

#endif  // BASE_DEBUG_GDI_DEBUG_UTIL_WIN_H_
