#include "base/files/file.h"

#include <windows.h>

#include "base/check.h"
#include "base/metrics/histogram_functions.h"
#include "base/threading/scoped_blocking_call.h"

namespace base {

namespace {

// Missing from some SDK headers.
constexpr DWORD kErrorDiskResourcesLost = 314;

// On a synchronous handle the system moves the file position to the end of
// a transfer made at an explicit offset. Such transfers promise to leave
// the shared position alone, so it is put back, and the transfer's own last
// error kept.
class ScopedPositionKeeper {
 public:
  explicit ScopedPositionKeeper(HANDLE file) : file_(file) {
    LARGE_INTEGER zero = {};
    valid_ = !!::SetFilePointerEx(file_, zero, &position_, FILE_CURRENT);
  }
  ~ScopedPositionKeeper() {
    if (!valid_)
      return;
    const DWORD last_error = ::GetLastError();
    ::SetFilePointerEx(file_, position_, nullptr, FILE_BEGIN);
    ::SetLastError(last_error);
  }

  ScopedPositionKeeper(const ScopedPositionKeeper&) = delete;
  ScopedPositionKeeper& operator=(const ScopedPositionKeeper&) = delete;

 private:
  HANDLE file_;
  LARGE_INTEGER position_;
  bool valid_;
};

// An OVERLAPPED that places a synchronous transfer at |offset|.
OVERLAPPED OverlappedAt(int64_t offset) {
  OVERLAPPED overlapped = {};
  overlapped.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
  overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return overlapped;
}

// Reads at |overlapped|'s offset, or at the current position when it is
// null. Returns the bytes read, 0 at the end of the file, -1 on failure.
int ReadFromHandle(HANDLE file, char* data, int size, OVERLAPPED* overlapped) {
  DWORD bytes_read = 0;
  if (::ReadFile(file, data, static_cast<DWORD>(size), &bytes_read,
                 overlapped)) {
    return static_cast<int>(bytes_read);
  }
  if (::GetLastError() == ERROR_HANDLE_EOF)
    return 0;
  return -1;
}

// Writes at |overlapped|'s offset, or at the current position when it is
// null. Returns the bytes written or -1.
int WriteToHandle(HANDLE file,
                  const char* data,
                  int size,
                  OVERLAPPED* overlapped) {
  DWORD bytes_written = 0;
  if (::WriteFile(file, data, static_cast<DWORD>(size), &bytes_written,
                  overlapped)) {
    return static_cast<int>(bytes_written);
  }
  return -1;
}

}  // namespace

bool File::IsValid() const {
  return file_.IsValid();
}

PlatformFile File::GetPlatformFile() const {
  return file_.Get();
}

PlatformFile File::TakePlatformFile() {
  return file_.Take();
}

void File::Close() {
  if (!file_.IsValid())
    return;
  // Callers classify a failure by the last error after cleaning up, so the
  // close must not disturb it.
  const DWORD last_error = ::GetLastError();
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  file_.Close();
  ::SetLastError(last_error);
}

int64_t File::Seek(Whence whence, int64_t offset) {
  DCHECK(IsValid());
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER result;
  if (!::SetFilePointerEx(file_.Get(), distance, &result,
                          static_cast<DWORD>(whence))) {
    return -1;
  }
  return result.QuadPart;
}

int File::Read(int64_t offset, char* data, int size) {
  DCHECK(IsValid());
  DCHECK(!async_);
  if (size < 0)
    return -1;
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  ScopedPositionKeeper keep_position(file_.Get());
  OVERLAPPED overlapped = OverlappedAt(offset);
  return ReadFromHandle(file_.Get(), data, size, &overlapped);
}

int File::ReadAtCurrentPos(char* data, int size) {
  DCHECK(IsValid());
  DCHECK(!async_);
  if (size < 0)
    return -1;
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  return ReadFromHandle(file_.Get(), data, size, nullptr);
}

int File::Write(int64_t offset, const char* data, int size) {
  DCHECK(IsValid());
  DCHECK(!async_);
  // A negative size would reach the system as a length of almost 4 GiB and
  // read far past the caller's buffer.
  if (size < 0)
    return -1;
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  ScopedPositionKeeper keep_position(file_.Get());
  OVERLAPPED overlapped = OverlappedAt(offset);
  return WriteToHandle(file_.Get(), data, size, &overlapped);
}

int File::WriteAtCurrentPos(const char* data, int size) {
  DCHECK(IsValid());
  DCHECK(!async_);
  if (size < 0)
    return -1;
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  return WriteToHandle(file_.Get(), data, size, nullptr);
}

int64_t File::GetLength() {
  DCHECK(IsValid());
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file_.Get(), &size))
    return -1;
  return size.QuadPart;
}

bool File::SetLength(int64_t length) {
  DCHECK(IsValid());
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  LARGE_INTEGER zero = {};
  LARGE_INTEGER old_position;
  if (!::SetFilePointerEx(file_.Get(), zero, &old_position, FILE_CURRENT))
    return false;
  LARGE_INTEGER new_length;
  new_length.QuadPart = length;
  if (!::SetFilePointerEx(file_.Get(), new_length, nullptr, FILE_BEGIN))
    return false;
  if (!::SetEndOfFile(file_.Get()))
    return false;
  return !!::SetFilePointerEx(file_.Get(), old_position, nullptr, FILE_BEGIN);
}

bool File::Flush() {
  DCHECK(IsValid());
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  return !!::FlushFileBuffers(file_.Get());
}

bool File::GetInfo(Info* info) {
  DCHECK(IsValid());
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  BY_HANDLE_FILE_INFORMATION file_info;
  if (!::GetFileInformationByHandle(file_.Get(), &file_info))
    return false;
  ULARGE_INTEGER size;
  size.HighPart = file_info.nFileSizeHigh;
  size.LowPart = file_info.nFileSizeLow;
  info->size = static_cast<int64_t>(size.QuadPart);
  info->is_directory =
      (file_info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info->is_symbolic_link = false;
  info->last_modified = Time::FromFileTime(file_info.ftLastWriteTime);
  info->last_accessed = Time::FromFileTime(file_info.ftLastAccessTime);
  info->creation_time = Time::FromFileTime(file_info.ftCreationTime);
  return true;
}

File::Error File::Lock() {
  DCHECK(IsValid());
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  if (!::LockFile(file_.Get(), 0, 0, MAXDWORD, MAXDWORD))
    return GetLastFileError();
  return FILE_OK;
}

File::Error File::Unlock() {
  DCHECK(IsValid());
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  if (!::UnlockFile(file_.Get(), 0, 0, MAXDWORD, MAXDWORD))
    return GetLastFileError();
  return FILE_OK;
}

// static
File::Error File::OSErrorToFileError(DWORD last_error) {
  switch (last_error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return FILE_ERROR_NOT_FOUND;
    case ERROR_TOO_MANY_OPEN_FILES:
      return FILE_ERROR_TOO_MANY_OPENED;
    case ERROR_ACCESS_DENIED:
      return FILE_ERROR_ACCESS_DENIED;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return FILE_ERROR_NO_MEMORY;
    case ERROR_NOT_READY:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_IO_DEVICE:
    case ERROR_FILE_CORRUPT:
    case ERROR_DISK_CORRUPT:
      return FILE_ERROR_IO;
    case ERROR_SHARING_VIOLATION:
      return FILE_ERROR_IN_USE;
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL:
    case kErrorDiskResourcesLost:
      return FILE_ERROR_NO_SPACE;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return FILE_ERROR_EXISTS;
    case ERROR_USER_MAPPED_FILE:
      return FILE_ERROR_INVALID_OPERATION;
    default: {
      // Recording must not disturb the caller's view of the last error.
      const DWORD saved = ::GetLastError();
      UmaHistogramSparse("PlatformFile.UnknownErrors.Windows",
                         static_cast<int>(last_error));
      ::SetLastError(saved);
      return FILE_ERROR_FAILED;
    }
  }
}

// static
File::Error File::GetLastFileError() {
  return OSErrorToFileError(::GetLastError());
}

void File::DoInitialize(const FilePath& path, uint32_t flags) {
  DCHECK(!IsValid());
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);

  DWORD disposition = 0;
  if (flags & FLAG_OPEN)
    disposition = OPEN_EXISTING;
  if (flags & FLAG_CREATE)
    disposition = CREATE_NEW;
  if (flags & FLAG_OPEN_ALWAYS)
    disposition = OPEN_ALWAYS;
  if (flags & FLAG_CREATE_ALWAYS)
    disposition = CREATE_ALWAYS;
  if (flags & FLAG_OPEN_TRUNCATED)
    disposition = TRUNCATE_EXISTING;
  if (!disposition) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    error_details_ = FILE_ERROR_FAILED;
    return;
  }

  DWORD access = 0;
  if (flags & FLAG_WRITE)
    access = GENERIC_WRITE;
  if (flags & FLAG_APPEND)
    access = FILE_APPEND_DATA;
  if (flags & FLAG_READ)
    access |= GENERIC_READ;
  if (flags & FLAG_WRITE_ATTRIBUTES)
    access |= FILE_WRITE_ATTRIBUTES;
  if (flags & FLAG_EXECUTE)
    access |= GENERIC_EXECUTE;
  if (flags & FLAG_CAN_DELETE_ON_CLOSE)
    access |= DELETE;

  DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
  if (flags & FLAG_EXCLUSIVE_READ)
    sharing &= ~FILE_SHARE_READ;
  if (flags & FLAG_EXCLUSIVE_WRITE)
    sharing &= ~FILE_SHARE_WRITE;
  if (flags & FLAG_SHARE_DELETE)
    sharing |= FILE_SHARE_DELETE;

  DWORD create_flags = 0;
  if (flags & FLAG_ASYNC)
    create_flags |= FILE_FLAG_OVERLAPPED;
  if (flags & FLAG_TEMPORARY)
    create_flags |= FILE_ATTRIBUTE_TEMPORARY;
  if (flags & FLAG_HIDDEN)
    create_flags |= FILE_ATTRIBUTE_HIDDEN;
  if (flags & FLAG_DELETE_ON_CLOSE)
    create_flags |= FILE_FLAG_DELETE_ON_CLOSE;
  if (flags & FLAG_BACKUP_SEMANTICS)
    create_flags |= FILE_FLAG_BACKUP_SEMANTICS;
  if (flags & FLAG_SEQUENTIAL_SCAN)
    create_flags |= FILE_FLAG_SEQUENTIAL_SCAN;

  file_.Set(::CreateFileW(path.value().c_str(), access, sharing, nullptr,
                          disposition, create_flags, nullptr));

  if (file_.IsValid()) {
    error_details_ = FILE_OK;
    async_ = (flags & FLAG_ASYNC) != 0;
    if (flags & FLAG_OPEN_ALWAYS) {
      created_ = ::GetLastError() != ERROR_ALREADY_EXISTS;
    } else if (flags & (FLAG_CREATE | FLAG_CREATE_ALWAYS)) {
      created_ = true;
    }
  } else {
    error_details_ = GetLastFileError();
  }
}

}  // namespace base
