// A process to be crashed from outside by kavor_crash_inject.exe, and a
// parent that sees how its child ended. It installs no exception handler.
//
//   kavor_crash_target parent [--delay-ms=N] ARGS...
//       prints, one line each,
//         pid P                   its own process id
//       then, after N ms (0), starts "kavor_crash_target.exe" wait ARGS...
//       (an argument with a blank quoted) and prints
//         child C                 the child's process id
//         child-command-line L    the command line the child was given
//       then waits for the child (two minutes at most) and prints
//         child-exit 0xXXXXXXXX   its exit code
//   kavor_crash_target wait ARGS...
//       waits until it is killed or crashed (two minutes at most)
//
// Exit codes: 0 done, 2 bad command line, 3 the child did not start, 4 the
// child did not end in time.

#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "base/strings/utf_string_conversions.h"

namespace {

constexpr DWORD kLongestWaitMs = 120000;

void Print(const std::wstring& line) {
  const std::string text = base::WideToUTF8(line) + "\n";
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(),
              static_cast<DWORD>(text.size()), &written, nullptr);
}

int Parent(int argc, wchar_t** argv) {
  wchar_t exe[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return 3;
  Print(L"pid " + std::to_wstring(::GetCurrentProcessId()));
  int first = 2;
  if (argc > 2 && !wcsncmp(argv[2], L"--delay-ms=", 11)) {
    ::Sleep(wcstoul(argv[2] + 11, nullptr, 10));
    first = 3;
  }
  // The tests pass no quotes or backslashes in their arguments.
  std::wstring command_line = L"\"" + std::wstring(exe) + L"\" wait";
  for (int i = first; i < argc; ++i) {
    const std::wstring arg = argv[i];
    command_line += arg.find(L' ') == std::wstring::npos ? L" " + arg
                                                         : L" \"" + arg + L"\"";
  }
  std::vector<wchar_t> writable(command_line.begin(), command_line.end());
  writable.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(exe, writable.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &info))
    return 3;
  ::CloseHandle(info.hThread);
  Print(L"child " + std::to_wstring(info.dwProcessId));
  Print(L"child-command-line " + command_line);
  if (::WaitForSingleObject(info.hProcess, kLongestWaitMs) != WAIT_OBJECT_0) {
    ::TerminateProcess(info.hProcess, 1);
    return 4;
  }
  DWORD exit_code = 0;
  ::GetExitCodeProcess(info.hProcess, &exit_code);
  wchar_t text[16];
  swprintf(text, 16, L"0x%08lx", static_cast<unsigned long>(exit_code));
  Print(std::wstring(L"child-exit ") + text);
  return 0;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv || argc < 2)
    return 2;
  if (!wcscmp(argv[1], L"parent"))
    return Parent(argc, argv);
  if (!wcscmp(argv[1], L"wait")) {
    ::Sleep(kLongestWaitMs);
    return 0;
  }
  return 2;
}
