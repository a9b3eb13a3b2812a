#include "desktop/windows/installer/package_fetcher/folder_preparer.h"

#include <memory>
#include <string>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

base::Time::Exploded March13() {
  base::Time::Exploded time = {};
  time.year = 2018;
  time.month = 3;
  time.day_of_month = 13;
  time.hour = 9;
  time.minute = 30;
  time.second = 5;
  return time;
}

TEST(FolderPreparerTest, EachRestartReplacesTheFolderAndAllGoAtTheEnd) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  // The root is made with the first folder.
  const base::FilePath root = temp.GetPath().Append(L"Kavor Installer");
  auto preparer = std::make_unique<FolderPreparerImpl>(root, true, March13());
  EXPECT_EQ(root.Append(L"kavor_package_20180313093005"),
            preparer->GetPackageFolder());
  const base::FilePath assistant = root.Append(L"assistant_20180313093005");
  EXPECT_EQ(assistant, preparer->GetAssistantFolder());
  ASSERT_TRUE(base::CreateDirectory(assistant));

  base::FilePath previous;
  for (const wchar_t* name :
       {L"kavor_package_201803130930051", L"kavor_package_201803130930052",
        L"kavor_package_201803130930053"}) {
    SCOPED_TRACE(name);
    const base::FilePath folder = preparer->Prepare();
    EXPECT_EQ(root.Append(name), folder);
    EXPECT_TRUE(base::DirectoryExists(folder));
    // Whatever an attempt left goes with its folder.
    ASSERT_EQ(1, base::WriteFile(folder.Append(L"partial"), "x", 1));
    if (!previous.empty()) {
      EXPECT_FALSE(base::PathExists(previous));
    }
    previous = folder;
  }
  preparer.reset();
  EXPECT_FALSE(base::PathExists(previous));
  EXPECT_FALSE(base::PathExists(assistant));
}

TEST(FolderPreparerTest, FolderOfAnotherFrontEndIsLeftAlone) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  // Another front end started in the same second made the first folder.
  const base::FilePath theirs =
      temp.GetPath().Append(L"kavor_package_201803130930051");
  ASSERT_TRUE(base::CreateDirectory(theirs));
  ASSERT_EQ(1, base::WriteFile(theirs.Append(L"kavor_package"), "x", 1));
  {
    FolderPreparerImpl preparer(temp.GetPath(), false, March13());
    EXPECT_EQ(temp.GetPath().Append(L"kavor_package_201803130930052"),
              preparer.Prepare());
  }
  EXPECT_TRUE(base::PathExists(theirs.Append(L"kavor_package")));
}

// Each folder records the session that made it; a backend removes only
// the folders of its own session.
TEST(FolderPreparerTest, FoldersRecordTheirSession) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const std::string ours = "5d0a4e8b-0000-4000-8000-7a1d2e4b6c80";
  const std::string theirs = "11111111-2222-4333-8444-555555555555";
  FolderPreparerImpl preparer(temp.GetPath(), false, March13(), ours);
  FolderPreparerImpl other(temp.GetPath(), false, March13(), theirs);
  const base::FilePath first = preparer.Prepare();
  const base::FilePath second = other.Prepare();
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_TRUE(IsPackageFolderOfSession(first, ours));
  EXPECT_FALSE(IsPackageFolderOfSession(first, theirs));
  EXPECT_FALSE(IsPackageFolderOfSession(first, ""));
  EXPECT_TRUE(IsPackageFolderOfSession(second, theirs));
  // One planted without a record.
  const base::FilePath planted =
      temp.GetPath().Append(L"kavor_package_201803130930059");
  ASSERT_TRUE(base::CreateDirectory(planted));

  EXPECT_TRUE(RemovePackageFoldersOfSession(
      base::FilePath(), preparer.GetPackageFolder(), ours));
  EXPECT_FALSE(base::PathExists(first));
  EXPECT_TRUE(base::PathExists(second));
  EXPECT_TRUE(base::PathExists(planted));
  EXPECT_TRUE(RemovePackageFoldersOfSession(second, base::FilePath(), ours));
  EXPECT_TRUE(base::PathExists(second));
  EXPECT_TRUE(RemovePackageFoldersOfSession(second, base::FilePath(), theirs));
  EXPECT_FALSE(base::PathExists(second));
}

// A folder whose package a backend still reads cannot go with its front
// end: it keeps its record, so that the backend removes it once done.
TEST(FolderPreparerTest, FolderStillReadKeepsItsRecord) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const std::string ours = "5d0a4e8b-0000-4000-8000-7a1d2e4b6c80";
  auto preparer = std::make_unique<FolderPreparerImpl>(temp.GetPath(), false,
                                                       March13(), ours);
  const base::FilePath folder = preparer->Prepare();
  const base::FilePath package = folder.Append(L"kavor_package");
  ASSERT_EQ(1, base::WriteFile(package, "x", 1));
  ASSERT_EQ(1, base::WriteFile(folder.Append(L"ready"), "x", 1));
  base::win::ScopedHandle reader(
      ::CreateFileW(package.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(reader.IsValid());
  const base::FilePath prefix = preparer->GetPackageFolder();
  preparer.reset();
  EXPECT_TRUE(base::PathExists(package));
  EXPECT_TRUE(IsPackageFolderOfSession(folder, ours));

  EXPECT_FALSE(RemovePackageFoldersOfSession(base::FilePath(), prefix, ours));
  EXPECT_TRUE(IsPackageFolderOfSession(folder, ours));
  reader.Close();
  EXPECT_TRUE(RemovePackageFoldersOfSession(base::FilePath(), prefix, ours));
  EXPECT_FALSE(base::PathExists(folder));
}

TEST(FolderPreparerTest, FolderThatCannotBeMadeIsRecorded) {
  ScopedInstallerErrorRecord record;
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const base::FilePath not_a_folder = temp.GetPath().Append(L"file");
  ASSERT_EQ(1, base::WriteFile(not_a_folder, "x", 1));
  FolderPreparerImpl preparer(not_a_folder, false, March13());
  EXPECT_TRUE(preparer.GetAssistantFolder().empty());
  EXPECT_TRUE(preparer.Prepare().empty());
  InstallerResult code = RESULT_SUCCESS;
  std::string message;
  std::wstring path;
  GetLastInstallerError(&code, &message, &path);
  EXPECT_EQ(RESULT_PACKAGE_FETCH_FAILED, code);
  EXPECT_EQ("Could not create a download folder", message);
  // The record names the folder that could not be made.
  EXPECT_EQ(not_a_folder.value(), path);
}

}  // namespace
}  // namespace installer
