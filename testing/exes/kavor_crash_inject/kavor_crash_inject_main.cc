// Makes another process crash from outside, for the end-to-end crash tests
// of the real installer, which has no way to crash on purpose (and must not
// get one). Also finds the processes to crash.
//
//   kavor_crash_inject --list-children=PID
//       one line per process whose parent is PID: its id, image name and
//       full command line, separated by tabs (UTF-8); the command line is
//       empty when it cannot be read
//   kavor_crash_inject --find-child-of=PID --command-line-contains=TEXT
//                      [--wait-ms=N]
//       waits up to N ms (10000) for such a child and prints its id (the
//       first found). Under Wine a process started from the Unix side (the
//       job runner, or a program run with "wine") has the parent id 0, so
//       --find-child-of=0 finds the root of a test's processes;
//       --find-child-of=any looks at every process
//   kavor_crash_inject --crash=PID [--kind=access-violation|breakpoint]
//                      [--wait-ms=N]
//       starts a thread in PID that faults at once: at an address in the
//       first page, which no process maps (access-violation), or at
//       kernel32's DebugBreak, which lies at the same address in every
//       process of the session (breakpoint); then waits up to N ms (30000)
//       for PID to end and prints its exit code as 0x%08x
//
// Exit codes: 0 done, 1 no such child in time / the process did not end in
// time, 2 bad command line, 3 the process could not be opened or reached.

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "base/strings/utf_string_conversions.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNotInTime = 1;
constexpr int kExitUsage = 2;
constexpr int kExitUnreachable = 3;

constexpr DWORD kDefaultFindWaitMs = 10000;
constexpr DWORD kDefaultCrashWaitMs = 30000;
constexpr DWORD kPollMs = 50;

// Inside the first 64 KiB of the address space, which is never mapped:
// executing there is an access violation in any process.
constexpr uintptr_t kNowhere = 0x10;

// What NtQueryInformationProcess answers for these classes; declared here
// because the SDK headers keep them internal.
constexpr ULONG kProcessBasicInformation = 0;
constexpr ULONG kProcessWow64Information = 26;

struct BasicInformation {
  LONG exit_status;
  uint64_t peb_base_address;
  uint64_t affinity_mask;
  LONG base_priority;
  uint64_t unique_process_id;
  uint64_t inherited_from_unique_process_id;
};

// Where the command line is found, in the 64-bit and 32-bit layouts of the
// process environment block and its process parameters.
constexpr size_t kPeb64ProcessParameters = 0x20;
constexpr size_t kParameters64CommandLine = 0x70;
constexpr size_t kPeb32ProcessParameters = 0x10;
constexpr size_t kParameters32CommandLine = 0x40;

using NtQueryInformationProcessFunction =
    LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);

void Print(const std::wstring& line) {
  const std::string text = base::WideToUTF8(line) + "\n";
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(),
              static_cast<DWORD>(text.size()), &written, nullptr);
}

void PrintError(const std::wstring& line) {
  const std::string text = base::WideToUTF8(line) + "\n";
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text.data(),
              static_cast<DWORD>(text.size()), &written, nullptr);
}

NtQueryInformationProcessFunction QueryFunction() {
  // ntdll is loaded in every process; looked up by its loaded module.
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  if (!ntdll)
    return nullptr;
  return reinterpret_cast<NtQueryInformationProcessFunction>(
      ::GetProcAddress(ntdll, "NtQueryInformationProcess"));
}

template <typename T>
bool ReadRemote(HANDLE process, uint64_t address, T* value) {
  SIZE_T read = 0;
  return ::ReadProcessMemory(
             process,
             reinterpret_cast<const void*>(static_cast<uintptr_t>(address)),
             value, sizeof(T), &read) &&
         read == sizeof(T);
}

// The command line of |process| from its process parameters; false when any
// step fails.
bool ReadCommandLine(HANDLE process, std::wstring* command_line) {
  const NtQueryInformationProcessFunction query = QueryFunction();
  if (!query)
    return false;
  uint64_t buffer = 0;
  uint16_t length = 0;
  BOOL wow64 = FALSE;
  ::IsWow64Process(process, &wow64);
  if (wow64) {
    ULONG_PTR peb32 = 0;
    uint32_t parameters = 0, buffer32 = 0;
    if (query(process, kProcessWow64Information, &peb32, sizeof(peb32),
              nullptr) < 0 ||
        !peb32 ||
        !ReadRemote(process, peb32 + kPeb32ProcessParameters, &parameters) ||
        !ReadRemote(process, uint64_t{parameters} + kParameters32CommandLine,
                    &length) ||
        !ReadRemote(process,
                    uint64_t{parameters} + kParameters32CommandLine + 4,
                    &buffer32))
      return false;
    buffer = buffer32;
  } else {
    BasicInformation basic = {};
    uint64_t parameters = 0;
    if (query(process, kProcessBasicInformation, &basic, sizeof(basic),
              nullptr) < 0 ||
        !basic.peb_base_address ||
        !ReadRemote(process, basic.peb_base_address + kPeb64ProcessParameters,
                    &parameters) ||
        !ReadRemote(process, parameters + kParameters64CommandLine, &length) ||
        !ReadRemote(process, parameters + kParameters64CommandLine + 8,
                    &buffer))
      return false;
  }
  std::vector<wchar_t> text(length / sizeof(wchar_t));
  SIZE_T read = 0;
  if (!text.empty() &&
      (!::ReadProcessMemory(
           process,
           reinterpret_cast<const void*>(static_cast<uintptr_t>(buffer)),
           text.data(), text.size() * sizeof(wchar_t), &read) ||
       read != text.size() * sizeof(wchar_t)))
    return false;
  command_line->assign(text.begin(), text.end());
  return true;
}

struct Child {
  DWORD id;
  std::wstring image;
  std::wstring command_line;
  bool command_line_read;
};

// For --find-child-of=any: every process but this one.
constexpr DWORD kAnyParent = 0xFFFFFFFF;

bool ListChildren(DWORD parent, std::vector<Child>* children) {
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE)
    return false;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
       more = ::Process32NextW(snapshot, &entry)) {
    // This program is no child the caller looks for, though under Wine it
    // may have the same parent 0 as the process looked for.
    if ((parent != kAnyParent && entry.th32ParentProcessID != parent) ||
        entry.th32ProcessID == parent ||
        entry.th32ProcessID == ::GetCurrentProcessId())
      continue;
    Child child = {entry.th32ProcessID, entry.szExeFile, L"", false};
    HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ,
                                   FALSE, child.id);
    if (process) {
      child.command_line_read = ReadCommandLine(process, &child.command_line);
      ::CloseHandle(process);
    }
    children->push_back(child);
  }
  ::CloseHandle(snapshot);
  return true;
}

int RunList(DWORD parent) {
  std::vector<Child> children;
  if (!ListChildren(parent, &children)) {
    PrintError(L"no process snapshot");
    return kExitUnreachable;
  }
  for (const Child& child : children) {
    if (!child.command_line_read)
      PrintError(L"command line of " + std::to_wstring(child.id) +
                 L" not read");
    Print(std::to_wstring(child.id) + L"\t" + child.image + L"\t" +
          child.command_line);
  }
  return kExitOk;
}

int RunFind(DWORD parent, const std::wstring& text, DWORD wait_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + wait_ms;
  for (;;) {
    std::vector<Child> children;
    if (!ListChildren(parent, &children)) {
      PrintError(L"no process snapshot");
      return kExitUnreachable;
    }
    for (const Child& child : children) {
      if (child.command_line.find(text) != std::wstring::npos) {
        Print(std::to_wstring(child.id));
        return kExitOk;
      }
    }
    if (::GetTickCount64() >= deadline)
      return kExitNotInTime;
    ::Sleep(kPollMs);
  }
}

int RunCrash(DWORD id, const std::wstring& kind, DWORD wait_ms) {
  uintptr_t start = kNowhere;
  if (kind == L"breakpoint") {
    HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    FARPROC debug_break =
        kernel32 ? ::GetProcAddress(kernel32, "DebugBreak") : nullptr;
    if (!debug_break) {
      PrintError(L"no DebugBreak in kernel32");
      return kExitUnreachable;
    }
    start = reinterpret_cast<uintptr_t>(debug_break);
  } else if (kind != L"access-violation") {
    return kExitUsage;
  }
  HANDLE process = ::OpenProcess(
      PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION |
          PROCESS_VM_WRITE | PROCESS_VM_READ | SYNCHRONIZE,
      FALSE, id);
  if (!process) {
    PrintError(L"cannot open process " + std::to_wstring(id) + L": error " +
               std::to_wstring(::GetLastError()));
    return kExitUnreachable;
  }
  BOOL wow64 = FALSE;
  if (kind == L"breakpoint" && ::IsWow64Process(process, &wow64) && wow64) {
    // Its kernel32 is the 32-bit one, elsewhere.
    PrintError(L"breakpoint needs a 64-bit process");
    ::CloseHandle(process);
    return kExitUnreachable;
  }
  DWORD thread_id = 0;
  HANDLE thread = ::CreateRemoteThread(
      process, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(start),
      nullptr, 0, &thread_id);
  if (!thread) {
    PrintError(L"cannot start a thread in " + std::to_wstring(id) +
               L": error " + std::to_wstring(::GetLastError()));
    ::CloseHandle(process);
    return kExitUnreachable;
  }
  ::CloseHandle(thread);
  const DWORD waited = ::WaitForSingleObject(process, wait_ms);
  DWORD exit_code = 0;
  const bool ended =
      waited == WAIT_OBJECT_0 && ::GetExitCodeProcess(process, &exit_code);
  ::CloseHandle(process);
  if (!ended) {
    PrintError(L"process " + std::to_wstring(id) + L" did not end");
    return kExitNotInTime;
  }
  wchar_t text[16];
  swprintf(text, 16, L"0x%08lx", static_cast<unsigned long>(exit_code));
  Print(text);
  return kExitOk;
}

bool TakeValue(const std::wstring& arg,
               const wchar_t* name,
               std::wstring* value) {
  const size_t length = wcslen(name);
  if (arg.compare(0, length, name) != 0)
    return false;
  *value = arg.substr(length);
  return true;
}

bool ParseNumber(const std::wstring& text, DWORD* number) {
  if (text.empty() || text.size() > 10)
    return false;
  uint64_t value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9')
      return false;
    value = value * 10 + (c - L'0');
  }
  if (value > 0xFFFFFFFFu)
    return false;
  *number = static_cast<DWORD>(value);
  return true;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv)
    return kExitUsage;
  std::wstring list, find, contains, crash, kind = L"access-violation", wait;
  bool has_contains = false, has_wait = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (TakeValue(arg, L"--list-children=", &list) ||
        TakeValue(arg, L"--find-child-of=", &find) ||
        TakeValue(arg, L"--crash=", &crash) ||
        TakeValue(arg, L"--kind=", &kind))
      continue;
    if (TakeValue(arg, L"--command-line-contains=", &contains)) {
      has_contains = true;
      continue;
    }
    if (TakeValue(arg, L"--wait-ms=", &wait)) {
      has_wait = true;
      continue;
    }
    return kExitUsage;
  }
  DWORD id = 0, wait_ms = 0;
  if (has_wait && !ParseNumber(wait, &wait_ms))
    return kExitUsage;
  const int modes = !list.empty() + !find.empty() + !crash.empty();
  if (modes != 1)
    return kExitUsage;
  if (!list.empty())
    return ParseNumber(list, &id) ? RunList(id) : kExitUsage;
  if (!find.empty()) {
    if (find == L"any")
      id = kAnyParent;
    else if (!ParseNumber(find, &id))
      return kExitUsage;
    if (!has_contains || contains.empty())
      return kExitUsage;
    return RunFind(id, contains, has_wait ? wait_ms : kDefaultFindWaitMs);
  }
  if (!ParseNumber(crash, &id))
    return kExitUsage;
  return RunCrash(id, kind, has_wait ? wait_ms : kDefaultCrashWaitMs);
}
