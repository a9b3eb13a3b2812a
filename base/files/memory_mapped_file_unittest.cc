#include "base/files/memory_mapped_file.h"

#include <windows.h>

#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "gtest/gtest.h"

namespace base {

TEST(MemoryMappedFileTest, MapsWholeFileOnce) {
  ScopedTempDir temp_dir;
  ASSERT_TRUE(temp_dir.CreateUniqueTempDir());
  const FilePath first = temp_dir.GetPath().Append(L"first");
  const FilePath second = temp_dir.GetPath().Append(L"second");
  ASSERT_EQ(5, WriteFile(first, "hello", 5));
  ASSERT_EQ(3, WriteFile(second, "bye", 3));

  MemoryMappedFile map;
  EXPECT_FALSE(map.IsValid());
  ASSERT_TRUE(map.Initialize(first));
  ASSERT_TRUE(map.IsValid());
  EXPECT_EQ(5u, map.length());
  EXPECT_EQ("hello", std::string(reinterpret_cast<const char*>(map.data()), 5));

  // A second mapping is refused and the first one stays.
  EXPECT_FALSE(map.Initialize(second));
  EXPECT_EQ(5u, map.length());
  EXPECT_EQ('h', map.data()[0]);
}

TEST(MemoryMappedFileTest, ReadWriteMappingWritesThrough) {
  ScopedTempDir temp_dir;
  ASSERT_TRUE(temp_dir.CreateUniqueTempDir());
  const FilePath path = temp_dir.GetPath().Append(L"rw");
  ASSERT_EQ(4, WriteFile(path, "abcd", 4));
  {
    MemoryMappedFile map;
    ASSERT_TRUE(map.Initialize(path, MemoryMappedFile::READ_WRITE));
    map.data()[0] = 'X';
  }
  std::string contents;
  ASSERT_TRUE(ReadFileToString(path, &contents));
  EXPECT_EQ("Xbcd", contents);
}

TEST(MemoryMappedFileTest, EmptyOrMissingFileRefused) {
  ScopedTempDir temp_dir;
  ASSERT_TRUE(temp_dir.CreateUniqueTempDir());
  const FilePath empty = temp_dir.GetPath().Append(L"empty");
  ASSERT_EQ(0, WriteFile(empty, "", 0));
  {
    MemoryMappedFile map;
    EXPECT_FALSE(map.Initialize(empty));
    EXPECT_FALSE(map.IsValid());
    EXPECT_EQ(0u, map.length());
    EXPECT_EQ(nullptr, map.data());
  }
  // Nothing was left open: the file can be deleted at once.
  EXPECT_TRUE(::DeleteFileW(empty.value().c_str()));

  MemoryMappedFile map;
  EXPECT_FALSE(map.Initialize(temp_dir.GetPath().Append(L"missing")));
  EXPECT_FALSE(map.IsValid());
}

}  // namespace base
