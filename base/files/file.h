#ifndef BASE_FILES_FILE_H_
#define BASE_FILES_FILE_H_

#include <stdint.h>
#include <windows.h>

#include "base/files/file_path.h"
#include "base/time/time.h"
#include "base/win/scoped_handle.h"

namespace base {

using PlatformFile = HANDLE;

// Owns one open file handle and performs synchronous operations on it.
// Windows error codes become portable File::Error values here.
class File {
 public:
  // Flags for Initialize(). Of the dispositions (the first five) the
  // highest bit given wins.
  enum Flags {
    FLAG_OPEN = 1 << 0,
    FLAG_CREATE = 1 << 1,
    FLAG_OPEN_ALWAYS = 1 << 2,
    FLAG_CREATE_ALWAYS = 1 << 3,
    FLAG_OPEN_TRUNCATED = 1 << 4,
    FLAG_READ = 1 << 5,
    FLAG_WRITE = 1 << 6,
    FLAG_APPEND = 1 << 7,
    FLAG_EXCLUSIVE_READ = 1 << 8,
    FLAG_EXCLUSIVE_WRITE = 1 << 9,
    FLAG_ASYNC = 1 << 10,
    FLAG_TEMPORARY = 1 << 11,
    FLAG_HIDDEN = 1 << 12,
    FLAG_DELETE_ON_CLOSE = 1 << 13,
    FLAG_WRITE_ATTRIBUTES = 1 << 14,
    FLAG_SHARE_DELETE = 1 << 15,
    FLAG_BACKUP_SEMANTICS = 1 << 17,
    FLAG_EXECUTE = 1 << 18,
    FLAG_SEQUENTIAL_SCAN = 1 << 19,
    FLAG_CAN_DELETE_ON_CLOSE = 1 << 20,
  };

  enum Error {
    FILE_OK = 0,
    FILE_ERROR_FAILED = -1,
    FILE_ERROR_IN_USE = -2,
    FILE_ERROR_EXISTS = -3,
    FILE_ERROR_NOT_FOUND = -4,
    FILE_ERROR_ACCESS_DENIED = -5,
    FILE_ERROR_TOO_MANY_OPENED = -6,
    FILE_ERROR_NO_MEMORY = -7,
    FILE_ERROR_NO_SPACE = -8,
    FILE_ERROR_NOT_A_DIRECTORY = -9,
    FILE_ERROR_INVALID_OPERATION = -10,
    FILE_ERROR_IO = -16,
  };

  // The same numbers as the Windows move methods.
  enum Whence {
    FROM_BEGIN = 0,
    FROM_CURRENT = 1,
    FROM_END = 2,
  };

  struct Info {
    Info();
    ~Info();

    int64_t size;
    bool is_directory;
    bool is_symbolic_link;
    Time last_modified;
    Time last_accessed;
    Time creation_time;
  };

  // Not open; error_details() is FILE_ERROR_FAILED.
  File();
  File(const FilePath& path, uint32_t flags);
  // Takes ownership of |platform_file|, which may be invalid.
  explicit File(PlatformFile platform_file);
  File(File&& other);
  File& operator=(File&& other);
  ~File();

  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens |path|; the file must not be open yet. A path that refers to a
  // parent folder is refused with FILE_ERROR_ACCESS_DENIED.
  void Initialize(const FilePath& path, uint32_t flags);

  bool IsValid() const;
  bool created() const { return created_; }
  bool async() const { return async_; }
  Error error_details() const { return error_details_; }

  PlatformFile GetPlatformFile() const;
  // Hands the handle over to the caller; the file is closed afterwards.
  PlatformFile TakePlatformFile();

  // Keeps the thread's last error as it was.
  void Close();

  // The new position from the beginning, or -1.
  int64_t Seek(Whence whence, int64_t offset);

  // Reads at |offset|; the file position is left where it was. The bytes
  // read, 0 at the end of the file, -1 on error.
  [[nodiscard]] int Read(int64_t offset, char* data, int size);
  [[nodiscard]] int ReadAtCurrentPos(char* data, int size);

  // Writes at |offset| regardless of the current position. The bytes
  // written, or -1 (also for a negative |size|, without a system call).
  [[nodiscard]] int Write(int64_t offset, const char* data, int size);
  [[nodiscard]] int WriteAtCurrentPos(const char* data, int size);

  int64_t GetLength();
  // Truncates or extends; the file position is kept.
  [[nodiscard]] bool SetLength(int64_t length);
  [[nodiscard]] bool Flush();
  [[nodiscard]] bool GetInfo(Info* info);

  // Locks the whole file without waiting.
  Error Lock();
  Error Unlock();

  // Codes outside the known set are counted in the histogram
  // "PlatformFile.UnknownErrors.Windows" and give FILE_ERROR_FAILED.
  static Error OSErrorToFileError(DWORD last_error);
  static Error GetLastFileError();

 private:
  void DoInitialize(const FilePath& path, uint32_t flags);

  win::ScopedHandle file_;
  Error error_details_;
  bool created_;
  bool async_;
};

}  // namespace base

#endif  // BASE_FILES_FILE_H_
