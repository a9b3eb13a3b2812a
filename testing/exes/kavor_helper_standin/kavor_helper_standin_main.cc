// Stands in for installer_helper_64.exe (and kavor.exe) in test packages and
// exits with 0. Called as the helper, with an operation ("1" or "2") and a
// shortcut path, it first appends its command line as one line to
// helper_calls.txt beside itself, so that a test sees every pin (1 when it
// cannot write).

#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

bool IsHelperCall() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv)
    return false;
  const bool helper_call =
      argc == 3 && (wcscmp(argv[1], L"1") == 0 || wcscmp(argv[1], L"2") == 0);
  ::LocalFree(argv);
  return helper_call;
}

}  // namespace

int main() {
  if (!IsHelperCall())
    return 0;
  wchar_t path[MAX_PATH];
  const DWORD size = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (size == 0 || size >= MAX_PATH)
    return 1;
  std::wstring file(path, size);
  file.erase(file.find_last_of(L'\\') + 1);
  file += L"helper_calls.txt";

  // The tests compare ASCII command lines only.
  std::string line;
  for (const wchar_t* p = ::GetCommandLineW(); *p; ++p)
    line.push_back(static_cast<char>(*p));
  line += "\r\n";

  HANDLE handle = ::CreateFileW(file.c_str(), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return 1;
  DWORD written = 0;
  const BOOL ok = ::WriteFile(
      handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  ::CloseHandle(handle);
  return ok && written == line.size() ? 0 : 1;
}
