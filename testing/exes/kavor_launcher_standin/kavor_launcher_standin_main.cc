// Stands in for the programs of test packages that the installer starts and
// that tests only watch: the browser's launcher (launcher.exe) and the
// components' installers (NAME_installer.exe). Appends its command line as
// one line to NAME_calls.txt beside itself, NAME being its own file name
// without ".exe" (launcher_calls.txt for launcher.exe), so that a test sees
// every start. Exits with the decimal number in NAME_exit_code.txt beside
// itself when that file exists, else with 0; with 1 when it cannot write.

#include <windows.h>

#include <stdlib.h>

#include <string>

#include "testing/exes/standin_calls.h"

namespace {

// The decimal number in |file|, or |fallback| when it cannot be read.
int ReadExitCode(const std::wstring& file, int fallback) {
  HANDLE handle =
      ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return fallback;
  char text[16] = {};
  DWORD read = 0;
  const BOOL ok = ::ReadFile(handle, text, sizeof(text) - 1, &read, nullptr);
  ::CloseHandle(handle);
  return ok && read ? atoi(text) : fallback;
}

}  // namespace

int main() {
  std::wstring base;
  if (!standin::GetOwnPath(&base))
    return 1;
  const size_t dot = base.find_last_of(L'.');
  if (dot != std::wstring::npos && dot > base.find_last_of(L'\\'))
    base.erase(dot);
  if (!standin::AppendCommandLine(base + L"_calls.txt"))
    return 1;
  return ReadExitCode(base + L"_exit_code.txt", 0);
}
