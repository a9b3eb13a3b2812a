#ifndef CRASH_UTIL_FILE_FILE_IO_WIN_H_
#define CRASH_UTIL_FILE_FILE_IO_WIN_H_

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include "base/files/file_path.h"

namespace crash_reporter {

// Thin wrappers over the file calls that the upload body reads the dump
// through. Each failure is an error-level log line with the system error.

// Opens an existing file for reading, sharing read and write with others.
// INVALID_HANDLE_VALUE on failure (logged as "CreateFile <path>").
HANDLE LoggingOpenFileForRead(const base::FilePath& path);

// Reads at most |size| bytes: the count read, 0 at the end of the file (a
// broken pipe counts as the end), -1 on failure. Not logged here.
int64_t ReadFile(HANDLE file, void* buffer, size_t size);

// whence 1 is the current position, 2 the end, anything else the start.
// The new position, or -1 (logged as "SetFilePointerEx").
int64_t LoggingSeekFile(HANDLE file, int64_t offset, int whence);

// False when closing failed (logged as "CloseHandle").
bool LoggingCloseFile(HANDLE file);

}  // namespace crash_reporter

#endif  // CRASH_UTIL_FILE_FILE_IO_WIN_H_
