#include "desktop/windows/installer/common/scheduled_task_info.h"

#include "base/files/file_path.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(ScheduledTaskInfoTest, CopiesCommandLineAndStartsEmpty) {
  base::CommandLine command_line(base::FilePath(L"C:\\Kavor\\launcher.exe"));
  command_line.AppendSwitch("scheduledautoupdate");
  command_line.AppendArg("$(Arg0)");
  ScheduledTaskInfo info(command_line);
  // Later changes of the caller's command line do not reach the record.
  command_line.AppendSwitch("other");

  EXPECT_EQ(L"C:\\Kavor\\launcher.exe", info.command_line.GetProgram().value());
  EXPECT_EQ(L"--scheduledautoupdate $(Arg0)",
            info.command_line.GetArgumentsString());
  EXPECT_TRUE(info.name.empty());
  EXPECT_TRUE(info.description.empty());
  EXPECT_EQ(0u, info.run_as_system);
  EXPECT_EQ(0u, info.execution_time_limit_seconds);
  EXPECT_EQ(0, info.add_logon_trigger);
  EXPECT_EQ(0, info.run_only_if_network_available);
}

}  // namespace
}  // namespace installer
