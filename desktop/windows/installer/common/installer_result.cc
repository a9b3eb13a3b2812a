#include "desktop/windows/installer/common/installer_result.h"

#include "desktop/windows/l10n_handler/l10n_handler.h"

namespace installer {

namespace {

// Exit codes of a child installer: 0 success, 100 + result for failures.
// 1 and 2 are what a process that never reached the installer (or an older
// one) returns.
constexpr DWORD kResultExitCodeBase = 100;

}  // namespace

bool IsSuccessResult(InstallerResult result) {
  return result == RESULT_SUCCESS;
}

bool IsNotUnknownProcessFailure(InstallerResult result) {
  return result != RESULT_PROCESS_EXIT_1 &&
         result != RESULT_PROCESS_EXIT_UNKNOWN;
}

int ResultToInt(InstallerResult result) {
  return static_cast<int>(result);
}

int ResultToExitCode(InstallerResult result) {
  if (result == RESULT_SUCCESS)
    return 0;
  return static_cast<int>(result) + static_cast<int>(kResultExitCodeBase);
}

InstallerResult ExitCodeToResult(DWORD exit_code) {
  switch (exit_code) {
    case 0:
      return RESULT_SUCCESS;
    case 1:
      return RESULT_PROCESS_EXIT_1;
    case 2:
      return RESULT_PROCESS_EXIT_2;
  }
  // Unsigned, so codes below 100 wrap far above the last result.
  const DWORD difference = exit_code - kResultExitCodeBase;
  if (difference <= RESULT_BAD_INITIAL_PROCESS_HANDLE)
    return static_cast<InstallerResult>(difference);
  return RESULT_PROCESS_EXIT_UNKNOWN;
}

InstallerResult ProcessExitCodeToResult(HANDLE process) {
  DWORD exit_code = 0;
  if (!::GetExitCodeProcess(process, &exit_code))
    return RESULT_PROCESS_EXIT_UNKNOWN;
  return ExitCodeToResult(exit_code);
}

int GetResultMessageId(InstallerResult result) {
  switch (result) {
    case RESULT_SUCCESS:
    case RESULT_ALREADY_RUNNING:
      return 0;
    case RESULT_UNINSTALL_ERROR:
      return IDS_UNINSTALL_ERROR;
    case RESULT_INVALID_LOCATION:
      return IDS_INVALID_LOCATION;
    case RESULT_NOT_ENOUGH_DISK_SPACE:
      return IDS_NOT_ENOUGH_SPACE;
    case RESULT_FOLDER_CREATION_FAILED:
      return IDS_FOLDER_CREATION_FAILED;
    case RESULT_INSUFFICIENT_PRIVILEGES:
      return IDS_INSUFFICIENT_PRIVILEGES;
    case RESULT_ELEVATION_FAILED:
      return IDS_ELEVATION_FAILED;
    case RESULT_FILE_IN_USE:
      return IDS_FILE_IN_USE;
    case RESULT_COPY_FAILED:
      return IDS_COPY_FAILED;
    case RESULT_MUTEX_CREATION_FAILED:
    case RESULT_MUTEX_BUSY:
      return IDS_INSTALLER_ALREADY_WORKING;
    case RESULT_REINSTALL_LAUNCH_FAILED:
      return IDS_REINSTALL_LAUNCH_FAILED;
    case RESULT_GENERAL_ERROR:
    case RESULT_INVALID_OPERATION:
    case RESULT_PROCESS_EXIT_1:
    case RESULT_PROCESS_EXIT_2:
    case RESULT_PROCESS_EXIT_UNKNOWN:
    case RESULT_TEMP_FOLDER_FAILED:
    case RESULT_INITIAL_PROCESS_FAILED:
    case RESULT_CORRUPTED_PACKAGE:
    case RESULT_PACKAGE_FETCH_FAILED:
    case RESULT_NOT_FINISHED:
    case RESULT_MISSING_INITIAL_PROCESS:
    case RESULT_BAD_INITIAL_PID:
    case RESULT_BAD_INITIAL_PROCESS_HANDLE:
      return IDS_INSTALL_ERROR;
  }
  // Codes of a newer installer have no message here.
  return 0;
}

}  // namespace installer
