#include "desktop/windows/installer/utils/working_folder.h"

#include "base/base_paths.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/path_service.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

const wchar_t kName[] = L"Kavor Installer";

BaseFolderGetter Fixed(const base::FilePath& path) {
  return [path](base::FilePath* base) {
    *base = path;
    return true;
  };
}

BaseFolderGetter Unavailable() {
  return [](base::FilePath*) { return false; };
}

class WorkingFolderTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.CreateUniqueTempDir()); }

  base::FilePath ChildProgram() {
    base::FilePath bin;
    EXPECT_TRUE(base::PathService::Get(base::DIR_EXE, &bin));
    return bin.Append(L"kavor_test_child.exe");
  }

  base::ScopedTempDir temp_;
};

TEST_F(WorkingFolderTest, WithoutExecutableTheFolderIsCreated) {
  base::FilePath folder;
  ASSERT_TRUE(
      ProbeWorkingFolder(temp_.GetPath(), kName, base::FilePath(), &folder));
  EXPECT_EQ(temp_.GetPath().Append(kName).value(), folder.value());
  EXPECT_TRUE(base::DirectoryExists(folder));
}

TEST_F(WorkingFolderTest, RunnableCopyPassesAndIsDeleted) {
  base::FilePath folder;
  ASSERT_TRUE(
      ProbeWorkingFolder(temp_.GetPath(), kName, ChildProgram(), &folder));
  EXPECT_TRUE(base::DirectoryExists(folder));
  EXPECT_FALSE(base::PathExists(folder.Append(L"kavor_test_child.exe")));
}

TEST_F(WorkingFolderTest, FailedCopyRemovesTheFolder) {
  base::FilePath folder;
  EXPECT_FALSE(ProbeWorkingFolder(
      temp_.GetPath(), kName, temp_.GetPath().Append(L"missing.exe"), &folder));
  EXPECT_FALSE(base::PathExists(temp_.GetPath().Append(kName)));
}

TEST_F(WorkingFolderTest, FailedProbeKeepsAFolderThatIsNotEmpty) {
  base::FilePath existing = temp_.GetPath().Append(kName);
  ASSERT_TRUE(base::CreateDirectory(existing));
  ASSERT_EQ(1, base::WriteFile(existing.Append(L"keep"), "x", 1));
  base::FilePath folder;
  EXPECT_FALSE(ProbeWorkingFolder(
      temp_.GetPath(), kName, temp_.GetPath().Append(L"missing.exe"), &folder));
  EXPECT_TRUE(base::PathExists(existing.Append(L"keep")));
}

TEST_F(WorkingFolderTest, FirstUsableBaseWins) {
  base::FilePath not_a_folder = temp_.GetPath().Append(L"file");
  ASSERT_EQ(1, base::WriteFile(not_a_folder, "x", 1));
  base::FilePath second = temp_.GetPath().Append(L"second");
  // Asking for a base may create it (the Downloads folder): bases after the
  // one that passes are not asked.
  bool third_asked = false;
  BaseFolderGetter third = [&third_asked](base::FilePath*) {
    third_asked = true;
    return false;
  };
  base::FilePath folder;
  ASSERT_TRUE(FindWorkingFolder(
      {Unavailable(), Fixed(not_a_folder), Fixed(second), third}, kName,
      ChildProgram(), &folder));
  EXPECT_EQ(second.Append(kName).value(), folder.value());
  EXPECT_FALSE(third_asked);
}

TEST_F(WorkingFolderTest, NoUsableBaseFails) {
  base::FilePath not_a_folder = temp_.GetPath().Append(L"file");
  ASSERT_EQ(1, base::WriteFile(not_a_folder, "x", 1));
  base::FilePath folder;
  EXPECT_FALSE(FindWorkingFolder({Fixed(not_a_folder), Unavailable()}, kName,
                                 ChildProgram(), &folder));
  EXPECT_FALSE(FindWorkingFolder({}, kName, ChildProgram(), &folder));
}

// The bases are tried in a fixed order: the executable's folder comes last.
TEST_F(WorkingFolderTest, ExecutableFolderIsTheLastBase) {
  base::FilePath executable = temp_.GetPath().Append(L"setup.exe");
  std::vector<BaseFolderGetter> bases = GetDownloadFolderBases(executable);
  ASSERT_EQ(4u, bases.size());
  base::FilePath base;
  ASSERT_TRUE(bases.back()(&base));
  EXPECT_EQ(temp_.GetPath().value(), base.value());
  base::FilePath temp_dir;
  ASSERT_TRUE(base::GetTempDir(&temp_dir));
  ASSERT_TRUE(bases.front()(&base));
  EXPECT_EQ(temp_dir.value(), base.value());
}

}  // namespace
}  // namespace installer
