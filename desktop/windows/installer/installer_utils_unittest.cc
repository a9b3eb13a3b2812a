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

TEST(InstallerUtilsTest, MakeSafeRelativePath) {
  const struct {
    const wchar_t* entry;
    const wchar_t* relative;  // Null: refused.
  } kCases[] = {
      {L"kavor.exe", L"kavor.exe"},
      {L"resources/a.pak", L"resources\\a.pak"},
      {L"a\\b c\\d.e", L"a\\b c\\d.e"},
      {L"..a\\b..", L"..a\\b.."},
      {L"", nullptr},
      {L"..\\x", nullptr},
      {L"a/../../x", nullptr},
      {L"a\\. \\x", nullptr},
      {L"a\\...\\x", nullptr},
      {L"\\Windows\\x", nullptr},
      {L"/x", nullptr},
      {L"\\\\server\\share\\x", nullptr},
      {L"\\\\?\\C:\\x", nullptr},
      {L"C:\\x", nullptr},
      {L"C:x", nullptr},
      {L"a.exe:stream", nullptr},
      {L"a\\\\b", nullptr},
      {L"a\\", nullptr},
  };
  for (const auto& c : kCases) {
    base::FilePath relative(L"unchanged");
    EXPECT_EQ(c.relative != nullptr, MakeSafeRelativePath(c.entry, &relative))
        << c.entry;
    if (c.relative) {
      EXPECT_EQ(c.relative, relative.value()) << c.entry;
    }
  }
}

TEST(InstallerUtilsTest, ReadFilesListRefusesEntriesOutsideThePackage) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  base::FilePath list = temp.GetPath().Append(L"files_list");
  const std::string kText = "a.dll\r\nb/c.dat\r\n..\\evil.dll\r\n";
  ASSERT_TRUE(base::WriteFile(list, kText.data(), kText.size()));

  ScopedInstallerErrorRecord record;
  std::vector<std::string> lines;
  EXPECT_FALSE(ReadFilesList(list, &lines));
  EXPECT_TRUE(lines.empty());
  InstallerResult code;
  std::string message;
  std::wstring path;
  GetLastInstallerError(&code, &message, &path);
  EXPECT_EQ(RESULT_GENERAL_ERROR, code);
  EXPECT_EQ("Files list entry outside the package: '..\\evil.dll'", message);
  EXPECT_EQ(list.value(), path);
}

}  // namespace
}  // namespace installer
