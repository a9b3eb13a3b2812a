#ifndef CRASH_UTIL_FILE_FILE_READER_H_
#define CRASH_UTIL_FILE_FILE_READER_H_

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include "base/files/file_path.h"
#include "base/macros.h"

namespace crash_reporter {

// A source of bytes that can be read in pieces and repositioned.
class FileReaderInterface {
 public:
  virtual ~FileReaderInterface() = default;

  // The number of bytes placed, 0 at the end of the file, -1 on error.
  virtual int64_t Read(void* data, size_t size) = 0;

  // whence 1 is the current position, 2 the end, anything else the start.
  // The new position, or -1.
  virtual int64_t Seek(int64_t offset, int whence) = 0;
};

// Reads through a handle that someone else owns and closes.
class WeakFileHandleFileReader : public FileReaderInterface {
 public:
  explicit WeakFileHandleFileReader(HANDLE file_handle);
  ~WeakFileHandleFileReader() override;

  int64_t Read(void* data, size_t size) override;
  int64_t Seek(int64_t offset, int whence) override;

 private:
  friend class FileReader;

  void set_file_handle(HANDLE file_handle) { file_handle_ = file_handle; }

  HANDLE file_handle_;

  DISALLOW_COPY_AND_ASSIGN(WeakFileHandleFileReader);
};

// Reads a file that it opened itself and closes it when done.
class FileReader : public FileReaderInterface {
 public:
  FileReader();
  ~FileReader() override;

  // False when the file could not be opened. The reader must not be open.
  bool Open(const base::FilePath& path);
  void Close();

  int64_t Read(void* data, size_t size) override;
  int64_t Seek(int64_t offset, int whence) override;

 private:
  HANDLE file_;
  WeakFileHandleFileReader weak_file_handle_file_reader_;

  DISALLOW_COPY_AND_ASSIGN(FileReader);
};

}  // namespace crash_reporter

#endif  // CRASH_UTIL_FILE_FILE_READER_H_
