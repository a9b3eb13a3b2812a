#include "desktop/windows/installer/common/process_runner.h"

#include <string>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/path_service.h"
#include "base/test/test_thread.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(ProcessRunnerTest, MissingProgramSetsTheLastError) {
  ScopedInstallerErrorRecord record;
  base::CommandLine command_line(base::FilePath(L"C:\\no\\such\\program.exe"));
  std::string output;
  EXPECT_FALSE(ProcessRunnerImpl().GetAppOutput(command_line, &output));
  InstallerResult code;
  std::string message;
  std::wstring path;
  GetLastInstallerError(&code, &message, &path);
  EXPECT_EQ(RESULT_GENERAL_ERROR, code);
  EXPECT_EQ("Cannot get app output C:\\no\\such\\program.exe", message);
  EXPECT_TRUE(path.empty());
}

// The children of two threads each write "begin", pause and write "end"
// into one file: under the launch lock the lines never interleave.
TEST(ProcessRunnerTest, ChildrenOfTwoThreadsRunOneAfterTheOther) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const base::FilePath file = temp.GetPath().Append(L"lines.txt");
  base::FilePath bin;
  ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &bin));
  base::CommandLine command_line(bin.Append(L"kavor_test_child.exe"));
  command_line.AppendArgNative(L"append-twice");
  command_line.AppendArgPath(file);

  bool results[2] = {false, false};
  {
    base::TestThread first([&] {
      std::string output;
      results[0] = ProcessRunnerImpl().GetAppOutput(command_line, &output);
    });
    base::TestThread second([&] {
      std::string output;
      results[1] = ProcessRunnerImpl().GetAppOutput(command_line, &output);
    });
  }
  EXPECT_TRUE(results[0]);
  EXPECT_TRUE(results[1]);
  std::string contents;
  ASSERT_TRUE(base::ReadFileToString(file, &contents));
  EXPECT_EQ("begin\nend\nbegin\nend\n", contents);
}

}  // namespace
}  // namespace installer
