#include "desktop/windows/installer/common/installer_result.h"

#include <string>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/time/time.h"
#include "desktop/windows/l10n_handler/l10n_handler.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(InstallerResultTest, ResultToExitCode) {
  const struct {
    InstallerResult result;
    int exit_code;
  } kCases[] = {
      {RESULT_SUCCESS, 0},
      {RESULT_GENERAL_ERROR, 101},
      {RESULT_TEMP_FOLDER_FAILED, 116},
      {RESULT_CORRUPTED_PACKAGE, 118},
      {RESULT_REINSTALL_LAUNCH_FAILED, 125},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.exit_code, ResultToExitCode(c.result)) << c.result;
    EXPECT_EQ(static_cast<int>(c.result), ResultToInt(c.result));
  }
}

TEST(InstallerResultTest, ExitCodeToResult) {
  const struct {
    DWORD exit_code;
    InstallerResult result;
  } kCases[] = {
      {0, RESULT_SUCCESS},
      {1, RESULT_PROCESS_EXIT_1},
      {2, RESULT_PROCESS_EXIT_2},
      {3, RESULT_PROCESS_EXIT_UNKNOWN},
      {99, RESULT_PROCESS_EXIT_UNKNOWN},
      {100, RESULT_SUCCESS},
      {101, RESULT_GENERAL_ERROR},
      {124, RESULT_BAD_INITIAL_PROCESS_HANDLE},
      // 125 would be a valid result, but no child is expected to return it.
      {125, RESULT_PROCESS_EXIT_UNKNOWN},
      {STILL_ACTIVE, RESULT_PROCESS_EXIT_UNKNOWN},
      {0xC0000005, RESULT_PROCESS_EXIT_UNKNOWN},
      {0xFFFFFFFF, RESULT_PROCESS_EXIT_UNKNOWN},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.result, ExitCodeToResult(c.exit_code)) << c.exit_code;
}

// Runs the test child with |arguments| and maps its exit code.
InstallerResult ResultOfChild(const std::vector<std::string>& arguments) {
  base::FilePath exe_dir;
  EXPECT_TRUE(base::PathService::Get(base::DIR_EXE, &exe_dir));
  base::CommandLine command_line(exe_dir.Append(L"kavor_test_child.exe"));
  for (const std::string& argument : arguments)
    command_line.AppendArg(argument);
  base::Process child =
      base::LaunchProcess(command_line, base::LaunchOptions());
  EXPECT_TRUE(child.IsValid());
  if (!child.IsValid())
    return RESULT_SUCCESS;
  int exit_code = 0;
  EXPECT_TRUE(child.WaitForExitWithTimeout(base::TimeDelta::FromSeconds(20),
                                           &exit_code))
      << "child did not end";
  return ProcessExitCodeToResult(child.Handle());
}

TEST(InstallerResultTest, ProcessExitCodeToResultReadsTheChildsCode) {
  EXPECT_EQ(RESULT_SUCCESS, ResultOfChild({"exit", "100"}));
  EXPECT_EQ(RESULT_BAD_INITIAL_PROCESS_HANDLE, ResultOfChild({"exit", "124"}));
  EXPECT_EQ(RESULT_PROCESS_EXIT_2, ResultOfChild({"exit", "2"}));
  EXPECT_EQ(RESULT_PROCESS_EXIT_UNKNOWN, ResultOfChild({"crash"}));
}

TEST(InstallerResultTest, UnreadableExitCodeIsUnknownFailure) {
  EXPECT_EQ(RESULT_PROCESS_EXIT_UNKNOWN, ProcessExitCodeToResult(nullptr));
}

TEST(InstallerResultTest, Predicates) {
  EXPECT_TRUE(IsSuccessResult(RESULT_SUCCESS));
  EXPECT_FALSE(IsSuccessResult(RESULT_GENERAL_ERROR));
  EXPECT_FALSE(IsNotUnknownProcessFailure(RESULT_PROCESS_EXIT_1));
  EXPECT_FALSE(IsNotUnknownProcessFailure(RESULT_PROCESS_EXIT_UNKNOWN));
  EXPECT_TRUE(IsNotUnknownProcessFailure(RESULT_PROCESS_EXIT_2));
  EXPECT_TRUE(IsNotUnknownProcessFailure(RESULT_SUCCESS));
}

TEST(InstallerResultTest, MessageTexts) {
  const struct {
    uint32_t result;
    const wchar_t* text;
  } kCases[] = {
      {RESULT_SUCCESS, L""},
      {RESULT_UNINSTALL_ERROR,
       L"An error occurred while attempting to uninstall Kavor!"},
      {RESULT_NOT_ENOUGH_DISK_SPACE, L"Insufficient space on $1"},
      {RESULT_BAD_INITIAL_PROCESS_HANDLE,
       L"An error occurred while attempting to install Kavor!"},
      {RESULT_ALREADY_RUNNING, L""},
      {26, L""},
  };
  for (const auto& c : kCases) {
    const int id = GetResultMessageId(static_cast<InstallerResult>(c.result));
    EXPECT_EQ(c.text, id ? GetString(id) : std::wstring()) << c.result;
  }
  // Both mutex failures share their message.
  EXPECT_EQ(GetResultMessageId(RESULT_MUTEX_BUSY),
            GetResultMessageId(RESULT_MUTEX_CREATION_FAILED));
}

}  // namespace
}  // namespace installer
