#ifndef DESKTOP_WINDOWS_INSTALLER_CONSOLE_OUTPUT_H_
#define DESKTOP_WINDOWS_INSTALLER_CONSOLE_OUTPUT_H_

#include <windows.h>

#include "base/strings/string_piece.h"

namespace installer {

// The host is a GUI program: the runtime's stdout and stderr are not
// connected to anything. Text goes to the standard handle the caller gave
// the process (a pipe or a file) and, when there is none, to the console of
// the parent process (a user typing in a command prompt).
// |std_handle| is STD_OUTPUT_HANDLE or STD_ERROR_HANDLE. Returns false when
// the text reached nothing.
bool WriteToStandardHandle(DWORD std_handle, base::StringPiece text);

// printf-style text to standard output, as above. The print-only roles use
// it with "%s".
void PrintToStdout(const char* format, ...)
    __attribute__((format(printf, 1, 2)));

// One line to standard error, as above.
void PrintLineToStderr(base::StringPiece line);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_CONSOLE_OUTPUT_H_
