#ifndef TESTING_EXES_STANDIN_CALLS_H_
#define TESTING_EXES_STANDIN_CALLS_H_

// What the stand-in programs share: they tell a test of every start by
// appending their command line to a file beside themselves.

#include <windows.h>

#include <string>

namespace standin {

// This program's own file path, or false when it cannot be had whole.
inline bool GetOwnPath(std::wstring* path) {
  wchar_t buffer[MAX_PATH];
  const DWORD size = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  if (size == 0 || size >= MAX_PATH)
    return false;
  path->assign(buffer, size);
  return true;
}

// Appends this process's command line as one line to |file|; false when it
// cannot be written whole.
inline bool AppendCommandLine(const std::wstring& file) {
  // The tests compare ASCII command lines only.
  std::string line;
  for (const wchar_t* p = ::GetCommandLineW(); *p; ++p)
    line.push_back(static_cast<char>(*p));
  line += "\r\n";

  HANDLE handle = ::CreateFileW(file.c_str(), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return false;
  DWORD written = 0;
  const BOOL ok = ::WriteFile(
      handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  ::CloseHandle(handle);
  return ok && written == line.size();
}

}  // namespace standin

#endif  // TESTING_EXES_STANDIN_CALLS_H_
