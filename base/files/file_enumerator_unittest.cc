#include "base/files/file_enumerator.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/test/test_file_link.h"
#include "gtest/gtest.h"

namespace base {

namespace {

class FileEnumeratorTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_dir_.CreateUniqueTempDir()); }

  const FilePath& root() const { return temp_dir_.GetPath(); }

  FilePath MakeDir(const wchar_t* relative) {
    const FilePath path = root().Append(relative);
    EXPECT_TRUE(CreateDirectory(path));
    return path;
  }

  FilePath MakeFile(const wchar_t* relative) {
    const FilePath path = root().Append(relative);
    EXPECT_EQ(1, WriteFile(path, "x", 1));
    return path;
  }

  // Paths relative to the root, in the order returned.
  std::vector<std::wstring> Walk(bool recursive,
                                 int type,
                                 const std::wstring& pattern = L"") {
    FileEnumerator enumerator(root(), recursive, type, pattern);
    std::vector<std::wstring> result;
    for (FilePath path = enumerator.Next(); !path.empty();
         path = enumerator.Next()) {
      result.push_back(path.value().substr(root().value().size() + 1));
    }
    // The walk stays over.
    EXPECT_TRUE(enumerator.Next().empty());
    return result;
  }

  static std::vector<std::wstring> Sorted(std::vector<std::wstring> v) {
    std::sort(v.begin(), v.end());
    return v;
  }

  ScopedTempDir temp_dir_;
};

}  // namespace

TEST_F(FileEnumeratorTest, EmptyAndMissingFolders) {
  EXPECT_TRUE(
      Walk(true, FileEnumerator::FILES | FileEnumerator::DIRECTORIES).empty());
  FileEnumerator missing(root().Append(L"missing"), true,
                         FileEnumerator::FILES | FileEnumerator::DIRECTORIES);
  EXPECT_TRUE(missing.Next().empty());
  EXPECT_EQ(0u, missing.GetInfo().find_data().dwFileAttributes);
}

TEST_F(FileEnumeratorTest, TypeFilterStillEntersFolders) {
  MakeDir(L"d");
  MakeFile(L"f1");
  MakeFile(L"d\\f2");
  EXPECT_EQ((std::vector<std::wstring>{L"d\\f2", L"f1"}),
            Sorted(Walk(true, FileEnumerator::FILES)));
  EXPECT_EQ((std::vector<std::wstring>{L"d"}),
            Walk(true, FileEnumerator::DIRECTORIES));
  EXPECT_EQ((std::vector<std::wstring>{L"f1"}),
            Walk(false, FileEnumerator::FILES));
  EXPECT_EQ(
      (std::vector<std::wstring>{L"d", L"d\\f2", L"f1"}),
      Sorted(Walk(true, FileEnumerator::FILES | FileEnumerator::DIRECTORIES)));
}

TEST_F(FileEnumeratorTest, PatternFiltersRootOnly) {
  MakeFile(L"a.lnk");
  MakeFile(L"b.txt");
  MakeDir(L"c.lnk");
  EXPECT_EQ(
      (std::vector<std::wstring>{L"a.lnk", L"c.lnk"}),
      Sorted(Walk(false, FileEnumerator::FILES | FileEnumerator::DIRECTORIES,
                  L"*.lnk")));
}

TEST_F(FileEnumeratorTest, PatternSelectsSubfoldersWhichAreListedWhole) {
  MakeDir(L"data1");
  MakeFile(L"data1\\x.txt");
  MakeDir(L"data1\\inner");
  MakeFile(L"data1\\inner\\y.bin");
  MakeFile(L"x.txt");
  MakeDir(L"other");
  MakeFile(L"other\\data2");
  EXPECT_EQ(
      (std::vector<std::wstring>{L"data1\\inner\\y.bin", L"data1\\x.txt"}),
      Sorted(Walk(true, FileEnumerator::FILES, L"data*")));
}

TEST_F(FileEnumeratorTest, FoldersBeforeContentsLastFoundFirst) {
  MakeDir(L"a");
  MakeDir(L"b");
  MakeFile(L"a\\in_a");
  MakeFile(L"b\\in_b");
  // Which of a and b the file system lists first is its own business; the
  // walk must give both, then the contents of the one found last, then the
  // contents of the other.
  const std::vector<std::wstring> walk =
      Walk(true, FileEnumerator::FILES | FileEnumerator::DIRECTORIES);
  ASSERT_EQ(4u, walk.size());
  EXPECT_EQ((std::vector<std::wstring>{L"a", L"b"}),
            Sorted({walk[0], walk[1]}));
  EXPECT_EQ(walk[1] + L"\\in_" + walk[1], walk[2]);
  EXPECT_EQ(walk[0] + L"\\in_" + walk[0], walk[3]);
}

TEST_F(FileEnumeratorTest, InfoDescribesLastEntryAndZeroAfterEnd) {
  MakeFile(L"only");
  FileEnumerator enumerator(root(), false, FileEnumerator::FILES);
  EXPECT_EQ(0u, enumerator.GetInfo().find_data().dwFileAttributes);
  ASSERT_FALSE(enumerator.Next().empty());
  FileEnumerator::FileInfo info = enumerator.GetInfo();
  EXPECT_FALSE(info.IsDirectory());
  EXPECT_EQ(1, info.GetSize());
  EXPECT_EQ(L"only", info.GetName().value());
  EXPECT_FALSE(info.GetLastModifiedTime().is_null());
  EXPECT_TRUE(enumerator.Next().empty());
  info = enumerator.GetInfo();
  EXPECT_EQ(0u, info.find_data().dwFileAttributes);
  EXPECT_EQ(0, info.GetSize());
  EXPECT_EQ(L'\0', info.find_data().cFileName[0]);
}

TEST_F(FileEnumeratorTest, LinkedFolderReturnedButNotEntered) {
  const FilePath outside = MakeDir(L"outside");
  MakeFile(L"outside\\secret");
  MakeDir(L"tree");
  const FilePath link = root().Append(L"tree\\link");
  if (!CreateDirectoryLinkForTesting(link, outside))
    GTEST_SKIP() << "cannot make a directory link here";

  FileEnumerator enumerator(
      root().Append(L"tree"), true,
      FileEnumerator::FILES | FileEnumerator::DIRECTORIES);
  EXPECT_EQ(link, enumerator.Next());
  EXPECT_TRUE(enumerator.GetInfo().IsDirectory());
  EXPECT_TRUE(enumerator.Next().empty());
}

}  // namespace base
