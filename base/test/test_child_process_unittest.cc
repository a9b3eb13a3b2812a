#include "base/test/test_child_process.h"

#include <string>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/path_service.h"
#include "base/test/scoped_log_lines.h"
#include "gtest/gtest.h"

namespace base {
namespace {

CommandLine ChildInExeDir(const wchar_t* name) {
  FilePath exe_dir;
  EXPECT_TRUE(PathService::Get(DIR_EXE, &exe_dir));
  return CommandLine(exe_dir.Append(name));
}

int CountLines(const ScopedLogLines& log, const std::string& part) {
  int count = 0;
  for (const std::string& line : log.lines())
    count += line.find(part) != std::string::npos;
  return count;
}

// A start the system refuses is logged with the command line and tried once
// more; the failure says why both starts failed.
TEST(TestChildProcessTest, RefusedStartIsLoggedAndTriedOnceMore) {
  CommandLine command = ChildInExeDir(L"kavor_no_such_child.exe");
  command.AppendArg("marker");
  ScopedLogLines log(logging::LOG_ERROR, logging::LOG_ERROR);
  Process child;
  const testing::AssertionResult started =
      StartTestChild(command, LaunchOptions(), &child);
  EXPECT_FALSE(started);
  EXPECT_FALSE(child.IsValid());
  const std::string message = started.message();
  EXPECT_NE(std::string::npos, message.find("kavor_no_such_child.exe"))
      << message;
  EXPECT_NE(std::string::npos, message.find("start 2: ")) << message;
  // The launcher itself says which command it could not start.
  EXPECT_EQ(2, CountLines(log, "Could not start ")) << log.text();
  EXPECT_EQ(2, CountLines(log, "kavor_no_such_child.exe\" marker"))
      << log.text();
}

// A child whose loader failed never ran its code: it is started once more,
// and only once.
TEST(TestChildProcessTest, LoaderFailureIsTriedOnceMore) {
  CommandLine command = ChildInExeDir(L"kavor_test_child.exe");
  command.AppendArg("exit");
  command.AppendArg("0xC0000142");
  ScopedLogLines log(logging::LOG_ERROR, logging::LOG_ERROR);
  int exit_code = 0;
  LaunchOptions options;
  options.start_hidden = true;
  EXPECT_TRUE(RunTestChild(command, options, "the failing child", &exit_code));
  EXPECT_EQ(0xC0000142u, static_cast<uint32_t>(exit_code));
  EXPECT_EQ(1, CountLines(log, "starting it once more")) << log.text();

  // Any other code is the child's own answer.
  CommandLine plain = ChildInExeDir(L"kavor_test_child.exe");
  plain.AppendArg("exit");
  plain.AppendArg("7");
  EXPECT_TRUE(RunTestChild(plain, options, "the plain child", &exit_code));
  EXPECT_EQ(7, exit_code);
  EXPECT_EQ(1, CountLines(log, "starting it once more")) << log.text();
}

}  // namespace
}  // namespace base
