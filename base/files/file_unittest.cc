#include "base/files/file.h"

#include <windows.h>

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/files/scoped_temp_dir.h"
#include "base/test/histogram_counts.h"
#include "gtest/gtest.h"

namespace base {

namespace {

const char kUnknownErrorsHistogram[] = "PlatformFile.UnknownErrors.Windows";

int UnknownErrorCount(int code) {
  return HistogramSampleCount(kUnknownErrorsHistogram, code);
}

class FileTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_dir_.CreateUniqueTempDir()); }

  FilePath Path(const wchar_t* name) const {
    return temp_dir_.GetPath().Append(name);
  }

  ScopedTempDir temp_dir_;
};

}  // namespace

TEST_F(FileTest, DefaultIsClosedAndFailed) {
  File file;
  EXPECT_FALSE(file.IsValid());
  EXPECT_EQ(File::FILE_ERROR_FAILED, file.error_details());
  EXPECT_FALSE(file.created());
  EXPECT_FALSE(file.async());
  file.Close();  // Harmless on a closed file.
}

TEST_F(FileTest, NoDispositionFails) {
  File file(Path(L"none"), File::FLAG_READ | File::FLAG_WRITE);
  EXPECT_FALSE(file.IsValid());
  EXPECT_EQ(File::FILE_ERROR_FAILED, file.error_details());
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), ::GetLastError());
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES,
            ::GetFileAttributesW(Path(L"none").value().c_str()));
}

TEST_F(FileTest, ParentReferenceRefusedWithoutTouchingDisk) {
  ASSERT_TRUE(::CreateDirectoryW(Path(L"sub").value().c_str(), nullptr));
  const FilePath sneaky = Path(L"sub").Append(L"..").Append(L"made");
  File file(sneaky, File::FLAG_CREATE_ALWAYS | File::FLAG_WRITE);
  EXPECT_FALSE(file.IsValid());
  EXPECT_EQ(File::FILE_ERROR_ACCESS_DENIED, file.error_details());
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ::GetLastError());
  EXPECT_FALSE(file.created());
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES,
            ::GetFileAttributesW(Path(L"made").value().c_str()));
}

TEST_F(FileTest, DispositionsAndCreatedFlag) {
  const FilePath path = Path(L"file");
  {
    File file(path, File::FLAG_OPEN | File::FLAG_READ);
    EXPECT_FALSE(file.IsValid());
    EXPECT_EQ(File::FILE_ERROR_NOT_FOUND, file.error_details());
  }
  {
    File file(path, File::FLAG_OPEN_ALWAYS | File::FLAG_WRITE);
    ASSERT_TRUE(file.IsValid());
    EXPECT_EQ(File::FILE_OK, file.error_details());
    EXPECT_TRUE(file.created());
    EXPECT_EQ(3, file.Write(0, "abc", 3));
  }
  {
    File file(path, File::FLAG_OPEN_ALWAYS | File::FLAG_READ);
    ASSERT_TRUE(file.IsValid());
    EXPECT_FALSE(file.created());
    EXPECT_EQ(3, file.GetLength());
  }
  {
    File file(path, File::FLAG_CREATE | File::FLAG_WRITE);
    EXPECT_FALSE(file.IsValid());
    EXPECT_EQ(File::FILE_ERROR_EXISTS, file.error_details());
  }
  {
    // The highest disposition bit wins: create-always truncates.
    File file(path, File::FLAG_OPEN | File::FLAG_CREATE_ALWAYS |
                        File::FLAG_READ | File::FLAG_WRITE);
    ASSERT_TRUE(file.IsValid());
    EXPECT_TRUE(file.created());
    EXPECT_EQ(0, file.GetLength());
    EXPECT_EQ(2, file.Write(0, "xy", 2));
  }
  {
    File file(path,
              File::FLAG_OPEN_TRUNCATED | File::FLAG_OPEN | File::FLAG_WRITE);
    ASSERT_TRUE(file.IsValid());
    EXPECT_FALSE(file.created());
    EXPECT_EQ(0, file.GetLength());
  }
  {
    File file(Path(L"new"),
              File::FLAG_CREATE | File::FLAG_WRITE | File::FLAG_ASYNC);
    ASSERT_TRUE(file.IsValid());
    EXPECT_TRUE(file.created());
    EXPECT_TRUE(file.async());
  }
}

TEST_F(FileTest, ExclusiveFlagsControlSharing) {
  const FilePath path = Path(L"shared");
  File first(path, File::FLAG_CREATE | File::FLAG_READ | File::FLAG_WRITE |
                       File::FLAG_EXCLUSIVE_WRITE);
  ASSERT_TRUE(first.IsValid());
  File reader(path, File::FLAG_OPEN | File::FLAG_READ);
  // The first handle withholds write sharing only: readers may come in,
  // writers may not.
  EXPECT_TRUE(reader.IsValid());
  File writer(path, File::FLAG_OPEN | File::FLAG_WRITE);
  EXPECT_FALSE(writer.IsValid());
  EXPECT_EQ(File::FILE_ERROR_IN_USE, writer.error_details());
}

TEST_F(FileTest, ReadWriteSeek) {
  File file(Path(L"data"),
            File::FLAG_CREATE | File::FLAG_READ | File::FLAG_WRITE);
  ASSERT_TRUE(file.IsValid());
  EXPECT_EQ(10, file.Write(0, "0123456789", 10));
  // A write at an offset leaves the position alone.
  EXPECT_EQ(0, file.Seek(File::FROM_CURRENT, 0));
  EXPECT_EQ(2, file.Write(12, "AB", 2));
  EXPECT_EQ(14, file.GetLength());

  char buffer[20] = {};
  EXPECT_EQ(4, file.ReadAtCurrentPos(buffer, 4));
  EXPECT_EQ("0123", std::string(buffer, 4));
  EXPECT_EQ(12, file.Seek(File::FROM_END, -2));
  EXPECT_EQ(2, file.ReadAtCurrentPos(buffer, 10));
  EXPECT_EQ("AB", std::string(buffer, 2));
  // At the end of the file.
  EXPECT_EQ(0, file.ReadAtCurrentPos(buffer, 10));
  EXPECT_EQ(-1, file.ReadAtCurrentPos(buffer, -1));
  // A negative write size is refused, not passed on as a huge length.
  EXPECT_EQ(-1, file.Write(0, "xy", -1));
  EXPECT_EQ(14, file.GetLength());
  EXPECT_EQ(3, file.Read(5, buffer, 3));
  EXPECT_EQ("567", std::string(buffer, 3));
  EXPECT_EQ(-1, file.Seek(File::FROM_BEGIN, -5));
  EXPECT_TRUE(file.Flush());
}

TEST_F(FileTest, SetLengthKeepsPosition) {
  File file(Path(L"len"),
            File::FLAG_CREATE | File::FLAG_READ | File::FLAG_WRITE);
  ASSERT_TRUE(file.IsValid());
  ASSERT_EQ(10, file.Write(0, "0123456789", 10));
  ASSERT_EQ(8, file.Seek(File::FROM_BEGIN, 8));

  ASSERT_TRUE(file.SetLength(4));
  EXPECT_EQ(4, file.GetLength());
  // The old position now lies past the end but is kept.
  EXPECT_EQ(8, file.Seek(File::FROM_CURRENT, 0));
  char buffer[4];
  EXPECT_EQ(0, file.ReadAtCurrentPos(buffer, 4));

  ASSERT_TRUE(file.SetLength(16));
  EXPECT_EQ(16, file.GetLength());
  EXPECT_EQ(8, file.Seek(File::FROM_CURRENT, 0));
  EXPECT_EQ(4, file.Read(4, buffer, 4));
  EXPECT_EQ(std::string(4, '\0'), std::string(buffer, 4));
}

TEST_F(FileTest, GetInfo) {
  File file(Path(L"info"), File::FLAG_CREATE | File::FLAG_WRITE);
  ASSERT_TRUE(file.IsValid());
  ASSERT_EQ(5, file.Write(0, "hello", 5));
  File::Info info;
  ASSERT_TRUE(file.GetInfo(&info));
  EXPECT_EQ(5, info.size);
  EXPECT_FALSE(info.is_directory);
  EXPECT_FALSE(info.is_symbolic_link);
  EXPECT_FALSE(info.last_modified.is_null());
  EXPECT_FALSE(info.creation_time.is_null());

  File dir(temp_dir_.GetPath(),
           File::FLAG_OPEN | File::FLAG_READ | File::FLAG_BACKUP_SEMANTICS);
  ASSERT_TRUE(dir.IsValid());
  ASSERT_TRUE(dir.GetInfo(&info));
  EXPECT_TRUE(info.is_directory);
}

TEST_F(FileTest, LockHeldElsewhereFailsWithUnknownError) {
  const FilePath path = Path(L"locked");
  File holder(path, File::FLAG_CREATE | File::FLAG_READ | File::FLAG_WRITE);
  ASSERT_TRUE(holder.IsValid());
  ASSERT_EQ(File::FILE_OK, holder.Lock());

  File other(path, File::FLAG_OPEN | File::FLAG_READ | File::FLAG_WRITE);
  ASSERT_TRUE(other.IsValid());
  const int before = UnknownErrorCount(ERROR_LOCK_VIOLATION);
  EXPECT_EQ(File::FILE_ERROR_FAILED, other.Lock());
  EXPECT_EQ(static_cast<DWORD>(ERROR_LOCK_VIOLATION), ::GetLastError());
  EXPECT_EQ(before + 1, UnknownErrorCount(ERROR_LOCK_VIOLATION));

  EXPECT_EQ(File::FILE_OK, holder.Unlock());
  EXPECT_EQ(File::FILE_OK, other.Lock());
}

TEST_F(FileTest, OSErrorToFileError) {
  struct {
    DWORD code;
    File::Error error;
  } const kCases[] = {
      {3, File::FILE_ERROR_NOT_FOUND},
      {5, File::FILE_ERROR_ACCESS_DENIED},
      {1393, File::FILE_ERROR_IO},
      {32, File::FILE_ERROR_IN_USE},
      {314, File::FILE_ERROR_NO_SPACE},
      {183, File::FILE_ERROR_EXISTS},
      {1224, File::FILE_ERROR_INVALID_OPERATION},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.error, File::OSErrorToFileError(c.code)) << c.code;

  const int before_87 = UnknownErrorCount(87);
  const int before_0 = UnknownErrorCount(0);
  ::SetLastError(1234);
  EXPECT_EQ(File::FILE_ERROR_FAILED, File::OSErrorToFileError(87));
  EXPECT_EQ(static_cast<DWORD>(1234), ::GetLastError());
  EXPECT_EQ(File::FILE_ERROR_FAILED, File::OSErrorToFileError(0));
  EXPECT_EQ(before_87 + 1, UnknownErrorCount(87));
  EXPECT_EQ(before_0 + 1, UnknownErrorCount(0));
}

TEST_F(FileTest, CloseKeepsLastErrorAndTakeReleases) {
  File file(Path(L"close"), File::FLAG_CREATE | File::FLAG_WRITE);
  ASSERT_TRUE(file.IsValid());
  ::SetLastError(ERROR_HANDLE_DISK_FULL);
  file.Close();
  EXPECT_FALSE(file.IsValid());
  EXPECT_EQ(static_cast<DWORD>(ERROR_HANDLE_DISK_FULL), ::GetLastError());

  File again(Path(L"close"), File::FLAG_OPEN | File::FLAG_READ);
  ASSERT_TRUE(again.IsValid());
  HANDLE raw = again.TakePlatformFile();
  EXPECT_FALSE(again.IsValid());
  File adopted(raw);
  EXPECT_TRUE(adopted.IsValid());
  File moved(std::move(adopted));
  EXPECT_TRUE(moved.IsValid());
  EXPECT_FALSE(adopted.IsValid());
}

}  // namespace base
