#ifndef DESKTOP_WINDOWS_INSTALLER_COMMON_INSTALLER_RESULT_H_
#define DESKTOP_WINDOWS_INSTALLER_COMMON_INSTALLER_RESULT_H_

#include <windows.h>

#include <stdint.h>

namespace installer {

// The outcome of any installer run or of any failing part of one. Values
// are exchanged between processes as exit codes, so they never change.
enum InstallerResult : uint32_t {
  RESULT_SUCCESS = 0,
  RESULT_GENERAL_ERROR = 1,
  RESULT_UNINSTALL_ERROR = 2,
  RESULT_INVALID_LOCATION = 3,
  RESULT_NOT_ENOUGH_DISK_SPACE = 4,
  RESULT_INVALID_OPERATION = 5,
  RESULT_FOLDER_CREATION_FAILED = 6,
  RESULT_INSUFFICIENT_PRIVILEGES = 7,
  RESULT_ELEVATION_FAILED = 8,
  RESULT_FILE_IN_USE = 9,
  RESULT_COPY_FAILED = 10,
  RESULT_MUTEX_CREATION_FAILED = 11,
  RESULT_MUTEX_BUSY = 12,
  RESULT_PROCESS_EXIT_1 = 13,
  RESULT_PROCESS_EXIT_2 = 14,
  RESULT_PROCESS_EXIT_UNKNOWN = 15,
  RESULT_TEMP_FOLDER_FAILED = 16,
  RESULT_INITIAL_PROCESS_FAILED = 17,
  RESULT_CORRUPTED_PACKAGE = 18,
  RESULT_PACKAGE_FETCH_FAILED = 19,
  RESULT_NOT_FINISHED = 20,
  RESULT_MISSING_INITIAL_PROCESS = 21,
  RESULT_ALREADY_RUNNING = 22,
  RESULT_BAD_INITIAL_PID = 23,
  RESULT_BAD_INITIAL_PROCESS_HANDLE = 24,
  RESULT_REINSTALL_LAUNCH_FAILED = 25,
};

bool IsSuccessResult(InstallerResult result);

// False for the child-process failures that carry no reason of their own
// (exit code 1 and unknown exit codes): a controller keeps its own result
// rather than one of these.
bool IsNotUnknownProcessFailure(InstallerResult result);

// The code unchanged, for the early roles that return without conversion.
int ResultToInt(InstallerResult result);

// 0 for success, otherwise 100 + the result (101 to 125).
int ResultToExitCode(InstallerResult result);

// The reverse of ResultToExitCode for the exit code of an ended child
// installer process; codes that no installer returns map to
// RESULT_PROCESS_EXIT_UNKNOWN.
InstallerResult ExitCodeToResult(DWORD exit_code);

// Reads the exit code of an ended child process and maps it as
// ExitCodeToResult does; an unreadable code is RESULT_PROCESS_EXIT_UNKNOWN.
InstallerResult ProcessExitCodeToResult(HANDLE process);

// The string id of the message the installer window shows for |result|;
// 0 when it shows none (success, already running, unknown codes).
int GetResultMessageId(InstallerResult result);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_COMMON_INSTALLER_RESULT_H_
