#include "desktop/windows/installer/installer_utils.h"

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

TEST(InstallerUtilsTest, ReadFilesList) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  base::FilePath list = temp.GetPath().Append(L"files_list");
  const std::string kText = "a.dll\r\n\r\nb\\c.dat\r\nx \n\rlast";
  ASSERT_TRUE(base::WriteFile(list, kText.data(), kText.size()));

  std::vector<std::string> lines = {"kept"};
  ASSERT_TRUE(ReadFilesList(list, &lines));
  EXPECT_EQ(
      (std::vector<std::string>{"a.dll", "b\\c.dat", "x ", "last", "kept"}),
      lines);

  ScopedInstallerErrorRecord record;
  EXPECT_FALSE(ReadFilesList(temp.GetPath().Append(L"missing"), &lines));
  EXPECT_EQ(RESULT_GENERAL_ERROR, GetLastInstallerErrorCode());
  EXPECT_EQ(5u, lines.size());
}

}  // namespace
}  // namespace installer
