#include "base/process/process.h"

#include <windows.h>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/path_service.h"
#include "base/process/kill.h"
#include "base/process/launch.h"
#include "gtest/gtest.h"

namespace base {

namespace {

Process LaunchChild(const std::string& mode, const std::string& argument) {
  FilePath exe_dir;
  EXPECT_TRUE(PathService::Get(DIR_EXE, &exe_dir));
  CommandLine command_line(exe_dir.Append(L"kavor_test_child.exe"));
  command_line.AppendArg(mode);
  if (!argument.empty())
    command_line.AppendArg(argument);
  return LaunchProcess(command_line, LaunchOptions());
}

}  // namespace

TEST(ProcessTest, CurrentStandsForThisProcess) {
  Process current = Process::Current();
  EXPECT_TRUE(current.IsValid());
  EXPECT_TRUE(current.is_current());
  EXPECT_EQ(::GetCurrentProcess(), current.Handle());
  EXPECT_EQ(::GetCurrentProcessId(), current.Pid());
  EXPECT_EQ(GetCurrentProcId(), current.Pid());

  // This process is running: a poll does not see it end.
  EXPECT_FALSE(current.WaitForExitWithTimeout(TimeDelta(), nullptr));

  // The moved-from object is as a default one: invalid, no handle.
  Process moved(std::move(current));
  EXPECT_TRUE(moved.is_current());
  EXPECT_FALSE(current.IsValid());
  EXPECT_FALSE(current.is_current());
  EXPECT_EQ(nullptr, current.Handle());
  EXPECT_FALSE(Process().IsValid());
}

TEST(ProcessDeathTest, PseudoHandleIsRefused) {
  EXPECT_DEATH({ Process process(::GetCurrentProcess()); }, "");
}

TEST(ProcessTest, MoveTakesTheHandle) {
  Process child = LaunchChild("exit", "6");
  ASSERT_TRUE(child.IsValid());
  const ProcessId pid = child.Pid();
  EXPECT_EQ(pid, GetProcId(child.Handle()));

  Process moved;
  moved = std::move(child);
  EXPECT_FALSE(child.IsValid());
  ASSERT_TRUE(moved.IsValid());
  EXPECT_EQ(pid, moved.Pid());
  int exit_code = -1;
  EXPECT_TRUE(moved.WaitForExit(&exit_code));
  EXPECT_EQ(6, exit_code);

  moved.Close();
  EXPECT_FALSE(moved.IsValid());
}

TEST(ProcessTest, ZeroTimeoutOnlyPolls) {
  Process child = LaunchChild("sleep", "");
  ASSERT_TRUE(child.IsValid());

  int exit_code = 12345;
  EXPECT_FALSE(child.WaitForExitWithTimeout(TimeDelta(), &exit_code));
  // A negative time-out is a poll as well.
  EXPECT_FALSE(child.WaitForExitWithTimeout(TimeDelta::FromMilliseconds(-5),
                                            &exit_code));
  EXPECT_EQ(12345, exit_code);
  EXPECT_EQ(STILL_RUNNING, GetTerminationStatus(child.Handle(), nullptr));

  EXPECT_TRUE(child.Terminate(9, true));
  EXPECT_TRUE(child.WaitForExitWithTimeout(TimeDelta(), &exit_code));
  EXPECT_EQ(9, exit_code);
  // A null out-parameter is allowed.
  EXPECT_TRUE(child.WaitForExitWithTimeout(TimeDelta(), nullptr));
}

TEST(ProcessTest, TerminatingAnEndedProcessStillSucceeds) {
  Process child = LaunchChild("exit", "4");
  ASSERT_TRUE(child.IsValid());
  ASSERT_TRUE(child.WaitForExit(nullptr));
  EXPECT_TRUE(child.Terminate(8, false));
  int exit_code = -1;
  EXPECT_TRUE(child.WaitForExit(&exit_code));
  EXPECT_EQ(4, exit_code);
}

}  // namespace base
