#include "crash/util/file/file_io_win.h"

#include <algorithm>

#include "base/logging.h"

namespace crash_reporter {

HANDLE LoggingOpenFileForRead(const base::FilePath& path) {
  HANDLE file = ::CreateFileW(path.value().c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    PLOG(ERROR) << "CreateFile " << path.AsUTF8Unsafe();
  return file;
}

int64_t ReadFile(HANDLE file, void* buffer, size_t size) {
  const DWORD to_read =
      static_cast<DWORD>(std::min<size_t>(size, static_cast<size_t>(MAXDWORD)));
  // A pipe may answer a read with no bytes while its writer is still there;
  // only a pipe that broke marks the end.
  const bool is_pipe = ::GetFileType(file) == FILE_TYPE_PIPE;
  for (;;) {
    DWORD bytes_read = 0;
    if (!::ReadFile(file, buffer, to_read, &bytes_read, nullptr)) {
      if (::GetLastError() == ERROR_BROKEN_PIPE)
        return 0;
      return -1;
    }
    if (bytes_read == 0 && is_pipe && to_read != 0)
      continue;
    return bytes_read;
  }
}

int64_t LoggingSeekFile(HANDLE file, int64_t offset, int whence) {
  DWORD method = FILE_BEGIN;
  if (whence == 1)
    method = FILE_CURRENT;
  else if (whence == 2)
    method = FILE_END;
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER new_position;
  if (!::SetFilePointerEx(file, distance, &new_position, method)) {
    PLOG(ERROR) << "SetFilePointerEx";
    return -1;
  }
  return new_position.QuadPart;
}

bool LoggingCloseFile(HANDLE file) {
  if (!::CloseHandle(file)) {
    PLOG(ERROR) << "CloseHandle";
    return false;
  }
  return true;
}

}  // namespace crash_reporter
