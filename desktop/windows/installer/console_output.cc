#include "desktop/windows/installer/console_output.h"

#include <stdarg.h>
#include <stdio.h>

#include <string>

namespace installer {
namespace {

bool WriteAll(HANDLE handle, base::StringPiece text) {
  while (!text.empty()) {
    DWORD written = 0;
    if (!::WriteFile(handle, text.data(), static_cast<DWORD>(text.size()),
                     &written, nullptr) ||
        written == 0) {
      return false;
    }
    text.remove_prefix(written);
  }
  return true;
}

bool IsUsableHandle(HANDLE handle) {
  return handle && handle != INVALID_HANDLE_VALUE &&
         ::GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// Started from a command prompt without redirection, a GUI program has no
// standard handles; the text then belongs on the prompt's console.
HANDLE GetParentConsoleOutput() {
  static HANDLE console = [] {
    if (!::AttachConsole(ATTACH_PARENT_PROCESS) &&
        ::GetLastError() != ERROR_ACCESS_DENIED) {  // Already attached.
      return INVALID_HANDLE_VALUE;
    }
    return ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  }();
  return console;
}

}  // namespace

bool WriteToStandardHandle(DWORD std_handle, base::StringPiece text) {
  HANDLE handle = ::GetStdHandle(std_handle);
  if (IsUsableHandle(handle))
    return WriteAll(handle, text);
  HANDLE console = GetParentConsoleOutput();
  return console != INVALID_HANDLE_VALUE && WriteAll(console, text);
}

void PrintToStdout(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int length = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length > 0) {
    std::string text(static_cast<size_t>(length) + 1, '\0');
    vsnprintf(&text[0], text.size(), format, args);
    text.resize(static_cast<size_t>(length));
    WriteToStandardHandle(STD_OUTPUT_HANDLE, text);
  }
  va_end(args);
}

void PrintLineToStderr(base::StringPiece line) {
  std::string text(line.data(), line.size());
  text.push_back('\n');
  WriteToStandardHandle(STD_ERROR_HANDLE, text);
}

}  // namespace installer
