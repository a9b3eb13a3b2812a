#include "crash/util/file/file_reader.h"

#include <windows.h>

#include <string>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/logging.h"
#include "base/test/scoped_log_lines.h"
#include "crash/util/file/file_io_win.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

std::string ReadSome(FileReaderInterface* reader, size_t size) {
  std::string out(size, '\0');
  const int64_t rv = reader->Read(&out[0], size);
  if (rv < 0)
    return "<error>";
  out.resize(static_cast<size_t>(rv));
  return out;
}

TEST(FileReaderTest, ReadsAndSeeksAnOpenedFile) {
  base::ScopedTempDir dir;
  ASSERT_TRUE(dir.CreateUniqueTempDir());
  const base::FilePath path = dir.GetPath().AppendASCII("dump.dmp");
  ASSERT_EQ(10, base::WriteFile(path, "0123456789", 10));

  FileReader reader;
  ASSERT_TRUE(reader.Open(path));
  EXPECT_EQ("0123", ReadSome(&reader, 4));
  EXPECT_EQ(6, reader.Seek(2, 1));
  EXPECT_EQ("6789", ReadSome(&reader, 100));
  EXPECT_EQ("", ReadSome(&reader, 100));
  EXPECT_EQ(7, reader.Seek(-3, 2));
  EXPECT_EQ("789", ReadSome(&reader, 100));
  EXPECT_EQ(1, reader.Seek(1, 0));
  EXPECT_EQ("12", ReadSome(&reader, 2));

  // Others may still write the file while it is read.
  HANDLE writer = ::CreateFileW(path.value().c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, writer);
  ::CloseHandle(writer);

  // Closed, the reader reads nothing and the file can go.
  reader.Close();
  EXPECT_EQ("<error>", ReadSome(&reader, 4));
  EXPECT_TRUE(base::DeleteFile(path, false));
}

TEST(FileReaderTest, MissingFileIsLogged) {
  base::ScopedTempDir dir;
  ASSERT_TRUE(dir.CreateUniqueTempDir());
  const base::FilePath path = dir.GetPath().AppendASCII("absent.dmp");
  base::ScopedLogLines lines(base::logging::LOG_ERROR,
                             base::logging::LOG_ERROR);
  FileReader reader;
  EXPECT_FALSE(reader.Open(path));
  ASSERT_EQ(1u, lines.lines().size());
  EXPECT_EQ(0u, lines.lines()[0].find("CreateFile " + path.AsUTF8Unsafe()))
      << lines.lines()[0];
  // A reader that failed to open may be opened again.
  ASSERT_EQ(1, base::WriteFile(path, "x", 1));
  EXPECT_TRUE(reader.Open(path));
  EXPECT_EQ("x", ReadSome(&reader, 4));
}

TEST(FileReaderTest, BrokenPipeIsTheEndOfTheData) {
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  ASSERT_TRUE(::CreatePipe(&read_end, &write_end, nullptr, 0));
  DWORD written = 0;
  ASSERT_TRUE(::WriteFile(write_end, "abc", 3, &written, nullptr));
  ::CloseHandle(write_end);

  WeakFileHandleFileReader reader(read_end);
  EXPECT_EQ("abc", ReadSome(&reader, 10));
  EXPECT_EQ("", ReadSome(&reader, 10));
  ::CloseHandle(read_end);
}

TEST(FileReaderTest, FailuresAreLoggedWithTheirCall) {
  base::ScopedTempDir dir;
  ASSERT_TRUE(dir.CreateUniqueTempDir());
  const base::FilePath path = dir.GetPath().AppendASCII("w.bin");
  // A handle without read access makes every read fail.
  HANDLE write_only = ::CreateFileW(path.value().c_str(), GENERIC_WRITE, 0,
                                    nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, write_only);
  base::ScopedLogLines lines(base::logging::LOG_ERROR,
                             base::logging::LOG_ERROR);
  WeakFileHandleFileReader reader(write_only);
  EXPECT_EQ("<error>", ReadSome(&reader, 4));
  EXPECT_EQ(-1, reader.Seek(-5, 0));
  ::CloseHandle(write_only);
  ASSERT_EQ(2u, lines.lines().size());
  EXPECT_EQ(0u, lines.lines()[0].find("ReadFile")) << lines.lines()[0];
  EXPECT_EQ(0u, lines.lines()[1].find("SetFilePointerEx")) << lines.lines()[1];
}

}  // namespace
}  // namespace crash_reporter
