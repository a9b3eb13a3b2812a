// Stands in for installer_helper_64.exe (and kavor.exe) in test packages and
// exits with 0. Called as the helper, with an operation ("1" or "2") and a
// shortcut path, it first appends its command line as one line to
// helper_calls.txt beside itself, so that a test sees every pin (1 when it
// cannot write).

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "testing/exes/standin_calls.h"

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
  std::wstring file;
  if (!standin::GetOwnPath(&file))
    return 1;
  file.erase(file.find_last_of(L'\\') + 1);
  file += L"helper_calls.txt";
  return standin::AppendCommandLine(file) ? 0 : 1;
}
