#ifndef BASE_PROCESS_KILL_H_
#define BASE_PROCESS_KILL_H_

#include "base/process/process_handle.h"

namespace base {

// How a child ended, judged by its exit code.
enum TerminationStatus {
  NORMAL_TERMINATION = 0,
  ABNORMAL_TERMINATION = 1,
  PROCESS_WAS_KILLED = 2,
  PROCESS_CRASHED = 3,
  STILL_RUNNING = 4,
  OUT_OF_MEMORY = 6,
};

// Exit codes with a meaning of their own.
const DWORD kProcessKilledExitCode = 1;
const DWORD kDebuggerInactiveExitCode = 0xC0000354;
const DWORD kKeyboardInterruptExitCode = 0xC000013A;
const DWORD kDebuggerTerminatedExitCode = 0x40010004;
const DWORD kOomExceptionCode = 0xE0000008;
// The exit code of a process that ended itself on a failed allocation.
const DWORD kOutOfMemoryExitCode = 7012;
// The exit code a polled, still running process reports (WAIT_TIMEOUT).
const int kStillRunningExitCode = 258;

// Classifies the end of |handle|'s process. |exit_code| (may be null)
// receives its exit code; it is left alone when the process ended with
// STILL_ACTIVE as its real code, and is 0 when the code cannot be read.
TerminationStatus GetTerminationStatus(ProcessHandle handle, int* exit_code);

}  // namespace base

#endif  // BASE_PROCESS_KILL_H_
