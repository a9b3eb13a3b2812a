#include "base/files/scoped_temp_dir.h"

#include "base/files/file_util.h"
#include "gtest/gtest.h"

namespace base {

TEST(ScopedTempDirTest, DeletesTreeOnDestruction) {
  FilePath path;
  {
    ScopedTempDir dir;
    EXPECT_FALSE(dir.IsValid());
    ASSERT_TRUE(dir.CreateUniqueTempDir());
    path = dir.GetPath();
    EXPECT_TRUE(DirectoryExists(path));
    ASSERT_TRUE(CreateDirectory(path.Append(L"sub")));
    ASSERT_EQ(1, WriteFile(path.Append(L"sub\\f"), "x", 1));
    // Only one folder per object.
    EXPECT_FALSE(dir.CreateUniqueTempDir());
  }
  EXPECT_FALSE(PathExists(path));
}

TEST(ScopedTempDirTest, TakeKeepsAndSetAdopts) {
  ScopedTempDir first;
  ASSERT_TRUE(first.CreateUniqueTempDir());
  const FilePath taken = first.Take();
  EXPECT_FALSE(first.IsValid());
  EXPECT_TRUE(DirectoryExists(taken));
  {
    ScopedTempDir adopter;
    ASSERT_TRUE(adopter.Set(taken));
    EXPECT_EQ(taken, adopter.GetPath());
  }
  EXPECT_FALSE(PathExists(taken));

  ScopedTempDir unique;
  ASSERT_TRUE(unique.CreateUniqueTempDir());
  ScopedTempDir nested;
  ASSERT_TRUE(
      nested.CreateUniqueTempDirUnderPath(unique.GetPath().Append(L"a\\b")));
  EXPECT_TRUE(unique.GetPath().IsParent(nested.GetPath()));
  EXPECT_TRUE(nested.Delete());
  EXPECT_FALSE(nested.IsValid());
}

}  // namespace base
