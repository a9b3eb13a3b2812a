#ifndef BASE_PROCESS_PROCESS_HANDLE_H_
#define BASE_PROCESS_PROCESS_HANDLE_H_

#include <windows.h>

namespace base {

typedef HANDLE ProcessHandle;
typedef DWORD ProcessId;

const ProcessHandle kNullProcessHandle = nullptr;
const ProcessId kNullProcessId = 0;

// The id of the calling process.
ProcessId GetCurrentProcId();

// The pseudo handle that stands for the calling process; never closed.
ProcessHandle GetCurrentProcessHandle();

// The id of the process behind |process|; 0 when the handle cannot be asked.
ProcessId GetProcId(ProcessHandle process);

}  // namespace base

#endif  // BASE_PROCESS_PROCESS_HANDLE_H_
