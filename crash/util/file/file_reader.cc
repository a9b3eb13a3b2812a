#include "crash/util/file/file_reader.h"

#include "base/check.h"
#include "base/logging.h"
#include "crash/util/file/file_io_win.h"

namespace crash_reporter {

WeakFileHandleFileReader::WeakFileHandleFileReader(HANDLE file_handle)
    : file_handle_(file_handle) {}

WeakFileHandleFileReader::~WeakFileHandleFileReader() = default;

int64_t WeakFileHandleFileReader::Read(void* data, size_t size) {
  if (file_handle_ == INVALID_HANDLE_VALUE)
    return -1;
  const int64_t rv = ReadFile(file_handle_, data, size);
  if (rv < 0) {
    PLOG(ERROR) << "ReadFile";
    return -1;
  }
  return rv;
}

int64_t WeakFileHandleFileReader::Seek(int64_t offset, int whence) {
  if (file_handle_ == INVALID_HANDLE_VALUE)
    return -1;
  return LoggingSeekFile(file_handle_, offset, whence);
}

FileReader::FileReader()
    : file_(INVALID_HANDLE_VALUE),
      weak_file_handle_file_reader_(INVALID_HANDLE_VALUE) {}

FileReader::~FileReader() {
  Close();
}

bool FileReader::Open(const base::FilePath& path) {
  CHECK(file_ == INVALID_HANDLE_VALUE);
  file_ = LoggingOpenFileForRead(path);
  if (file_ == INVALID_HANDLE_VALUE)
    return false;
  weak_file_handle_file_reader_.set_file_handle(file_);
  return true;
}

void FileReader::Close() {
  if (file_ == INVALID_HANDLE_VALUE)
    return;
  weak_file_handle_file_reader_.set_file_handle(INVALID_HANDLE_VALUE);
  LoggingCloseFile(file_);
  file_ = INVALID_HANDLE_VALUE;
}

int64_t FileReader::Read(void* data, size_t size) {
  return weak_file_handle_file_reader_.Read(data, size);
}

int64_t FileReader::Seek(int64_t offset, int whence) {
  return weak_file_handle_file_reader_.Seek(offset, whence);
}

}  // namespace crash_reporter
