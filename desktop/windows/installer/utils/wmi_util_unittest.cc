#include "desktop/windows/installer/utils/wmi_util.h"

#include "base/base_paths.h"
#include "base/files/file_path.h"
#include "base/path_service.h"
#include "base/win/scoped_com_initializer.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(WmiUtilTest, LaunchesThroughTheService) {
  base::win::ScopedCOMInitializer com;
  base::FilePath bin;
  ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &bin));
  const base::string16 child =
      L"\"" + bin.Append(L"kavor_test_child.exe").value() + L"\"";

  int process_id = 0;
  EXPECT_TRUE(LaunchProcessThroughWmi(child + L" silent", &process_id));
  EXPECT_NE(0, process_id);

  // The service cannot start what is not there (Wine: ReturnValue 9).
  process_id = 0;
  const base::string16 missing =
      L"\"" + bin.Append(L"no_such_program.exe").value() + L"\"";
  EXPECT_FALSE(LaunchProcessThroughWmi(missing, &process_id));
  EXPECT_EQ(0, process_id);
}

TEST(WmiUtilTest, ArchitectureNames) {
  const struct {
    int architecture;
    const char* name;
    const char* lower;
  } kCases[] = {
      {0, "X86", "x86"}, {1, "X64", "x64"}, {2, "invalid", "invalid"},
      {7, "", ""},       {-1, "", ""},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.name, ArchitectureToString(c.architecture));
    EXPECT_EQ(c.lower, ArchitectureToLowerCaseString(c.architecture));
  }
}

}  // namespace
}  // namespace installer
