#include "base/test/test_file_link.h"

#include <windows.h>

#include <string>

namespace base {

namespace {

using CreateSymbolicLinkFunction = BOOLEAN(WINAPI*)(LPCWSTR, LPCWSTR, DWORD);
using UnixFileNameFunction = char*(CDECL*)(LPCWSTR);

constexpr DWORD kSymbolicLinkFlagDirectory = 0x1;

bool IsLinkPresent(const FilePath& link) {
  const DWORD attributes = ::GetFileAttributesW(link.value().c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::wstring UnixPath(UnixFileNameFunction unix_file_name,
                      const FilePath& path) {
  char* name = unix_file_name(path.value().c_str());
  if (!name)
    return std::wstring();
  std::wstring result;
  for (const char* p = name; *p; ++p)
    result.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
  ::HeapFree(::GetProcessHeap(), 0, name);
  return result;
}

// Starts |command_line| and waits until |link| shows up. A Unix program
// started from the compatibility layer gives no process handle to wait on,
// so the wait is on change notifications of the link's folder instead.
bool RunUntilLinkAppears(std::wstring command_line, const FilePath& link) {
  HANDLE change = ::FindFirstChangeNotificationW(
      link.DirName().value().c_str(), FALSE,
      FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME);
  if (change == INVALID_HANDLE_VALUE)
    return false;
  STARTUPINFOW startup_info = {};
  startup_info.cb = sizeof(startup_info);
  PROCESS_INFORMATION process_info = {};
  bool present = false;
  if (::CreateProcessW(nullptr, &command_line[0], nullptr, nullptr, FALSE, 0,
                       nullptr, nullptr, &startup_info, &process_info)) {
    // Bounded so that a link that never comes cannot hang the test.
    for (int i = 0; i < 100 && !(present = IsLinkPresent(link)); ++i) {
      if (::WaitForSingleObject(change, 10000) != WAIT_OBJECT_0)
        break;
      ::FindNextChangeNotification(change);
    }
    present = present || IsLinkPresent(link);
  }
  ::FindCloseChangeNotification(change);
  return present;
}

}  // namespace

bool CreateDirectoryLinkForTesting(const FilePath& link,
                                   const FilePath& target) {
  HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  auto create_symbolic_link = reinterpret_cast<CreateSymbolicLinkFunction>(
      ::GetProcAddress(kernel32, "CreateSymbolicLinkW"));
  if (create_symbolic_link &&
      create_symbolic_link(link.value().c_str(), target.value().c_str(),
                           kSymbolicLinkFlagDirectory) &&
      IsLinkPresent(link)) {
    return true;
  }

  auto unix_file_name = reinterpret_cast<UnixFileNameFunction>(
      ::GetProcAddress(kernel32, "wine_get_unix_file_name"));
  if (!unix_file_name)
    return false;
  const std::wstring unix_link = UnixPath(unix_file_name, link);
  const std::wstring unix_target = UnixPath(unix_file_name, target);
  if (unix_link.empty() || unix_target.empty() ||
      unix_link.find_first_of(L"\" ") != std::wstring::npos ||
      unix_target.find_first_of(L"\" ") != std::wstring::npos) {
    return false;
  }
  return RunUntilLinkAppears(
      L"Z:\\bin\\ln -s " + unix_target + L" " + unix_link, link);
}

}  // namespace base
