#include "base/process/kill.h"

namespace base {

TerminationStatus GetTerminationStatus(ProcessHandle handle, int* exit_code) {
  DWORD tmp_exit_code = 0;
  if (!::GetExitCodeProcess(handle, &tmp_exit_code)) {
    // Nothing is known of the process; calling that a clean exit would let
    // a failed query pass for success.
    if (exit_code)
      *exit_code = 0;
    return ABNORMAL_TERMINATION;
  }
  if (tmp_exit_code == STILL_ACTIVE) {
    // STILL_ACTIVE is also a legal exit code, so ask the handle itself.
    DWORD wait_result = ::WaitForSingleObject(handle, 0);
    if (wait_result == WAIT_TIMEOUT) {
      if (exit_code)
        *exit_code = kStillRunningExitCode;
      return STILL_RUNNING;
    }
    return ABNORMAL_TERMINATION;
  }

  if (exit_code)
    *exit_code = static_cast<int>(tmp_exit_code);

  switch (tmp_exit_code) {
    case 0:
      return NORMAL_TERMINATION;
    case kProcessKilledExitCode:
    case kDebuggerInactiveExitCode:
    case kKeyboardInterruptExitCode:
    case kDebuggerTerminatedExitCode:
      return PROCESS_WAS_KILLED;
    case kOutOfMemoryExitCode:
    case kOomExceptionCode:
      return OUT_OF_MEMORY;
    default:
      return PROCESS_CRASHED;
  }
}

}  // namespace base
