#ifndef BASE_WIN_WRAPPED_WINDOW_PROC_H_
#define BASE_WIN_WRAPPED_WINDOW_PROC_H_

#include <windows.h>

namespace base {
namespace win {

// A filter for exceptions raised inside window procedures.
typedef int (*WinProcExceptionFilter)(EXCEPTION_POINTERS* info);

// Makes |filter| the process's window-procedure exception filter and
// returns the previous one (null at first). Any thread may call.
WinProcExceptionFilter SetWinProcExceptionFilter(WinProcExceptionFilter filter);

// The filter in force, or null.
WinProcExceptionFilter GetWinProcExceptionFilter();

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_WRAPPED_WINDOW_PROC_H_
