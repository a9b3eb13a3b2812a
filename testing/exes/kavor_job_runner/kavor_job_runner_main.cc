// Runs a program inside a job object and waits until every process of the
// job has ended, so that an end-to-end test sees the work that installer
// processes do after the first one has reported its result, and the work of
// the processes it starts.
//
//   kavor_job_runner.exe [--timeout-seconds=N] [--env=NAME=VALUE]...
//                        [--current-directory=DIR] -- PROGRAM [ARGS...]
//
// The program inherits the standard handles and the environment, with each
// --env variable set (Wine replaces TEMP and TMP of the Unix environment by
// the prefix's own, so a test that wants its own sets them here), and runs
// in DIR when given. The runner exits with the exit
// code of PROGRAM (the first process) once the job is empty. When the job
// still has processes after N seconds (default 120), it kills the job, names
// the processes that were left on standard error and exits with kExitTimeout.
//
//   kavor_job_runner.exe --prepare-desktop
//       makes sure the desktop exists and exits. Wine starts the process
//       behind the desktop (explorer.exe) on the first use of a window, as
//       a child of that program; inside the job it would never end. Tests
//       run this first in a fresh prefix, with a persistent wineserver.
//
//   kavor_job_runner.exe --hold-desktop
//       makes sure the desktop exists, writes "desktop ready" and a line
//       end to standard output, and stays until it is killed. Wine closes a
//       desktop about a second after its last process has gone, and the
//       next window then starts explorer.exe again, inside whatever job
//       asked for it; a process that stays on the desktop keeps it open
//       for the whole case.
//
// Whichever way the desktop went, the runner does not wait for Wine's own
// desktop and service processes (explorer.exe, services.exe and the like,
// from the Windows folder): once the first process has ended and only such
// processes are left, the job counts as empty and they are ended with it.
//
//   --report=FILE (before --) writes to FILE, once the job is empty, one line
//       per process of the job: "NAME exit=N peak_working_set_kb=N
//       peak_private_kb=N", in the order they started, then
//       "job peak_process_memory_kb=N", the job's largest process commit
//       (0 under Wine). The memory figures are sampled while the processes
//       run, 20 times a second (0 when a process ended before a sample;
//       a name is "?" when Wine could not tell it even at the end). Processes
//       that end before the runner sees them start are missing.
//
// Modes for testing the runner itself, used in place of PROGRAM through a
// second runner:
//   kavor_job_runner.exe --test-spawn-and-exit=N -- PROGRAM [ARGS...]
//       starts PROGRAM without waiting for it and exits with N
//   kavor_job_runner.exe --test-delayed-print=TEXT
//       writes TEXT to standard output after a second, exits with 0

#include <windows.h>
#include <psapi.h>
#include <shellapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Above the installer's exit codes (0, 101 to 125) and below 256, so that
// Wine hands them to the shell unchanged.
const int kExitTimeout = 250;
const int kExitBadUsage = 251;
const int kExitLaunchFailed = 252;

const DWORD kDefaultTimeoutSeconds = 120;

// Quotes one item so that CommandLineToArgvW gives it back unchanged:
// backslashes count only in front of a double quote.
void AppendQuoted(const std::wstring& arg, std::wstring* out) {
  if (!out->empty())
    out->push_back(L' ');
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    out->append(arg);
    return;
  }
  out->push_back(L'"');
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"')
      out->append(backslashes * 2 + 1, L'\\');
    else
      out->append(backslashes, L'\\');
    backslashes = 0;
    out->push_back(c);
  }
  out->append(backslashes * 2, L'\\');
  out->push_back(L'"');
}

// The child's command line, its items in the order given. (base's
// CommandLine would move switches in front of plain arguments.)
std::wstring BuildCommandLine(const std::vector<std::wstring>& items) {
  std::wstring command_line;
  for (const std::wstring& item : items)
    AppendQuoted(item, &command_line);
  return command_line;
}

void PrintError(const std::wstring& text) {
  fwprintf(stderr, L"kavor_job_runner: %ls\n", text.c_str());
  fflush(stderr);
}

// Starts |command_line| suspended with the standard handles of this process;
// the caller resumes |info->hThread|.
bool StartSuspended(std::wstring command_line,
                    const std::wstring& current_directory,
                    PROCESS_INFORMATION* info) {
  STARTUPINFOW startup_info = {};
  startup_info.cb = sizeof(startup_info);
  startup_info.dwFlags = STARTF_USESTDHANDLES;
  const DWORD kStd[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  HANDLE* targets[] = {&startup_info.hStdInput, &startup_info.hStdOutput,
                       &startup_info.hStdError};
  for (int i = 0; i < 3; ++i) {
    HANDLE handle = ::GetStdHandle(kStd[i]);
    if (handle && handle != INVALID_HANDLE_VALUE)
      ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    *targets[i] = handle;
  }
  return ::CreateProcessW(
             nullptr, &command_line[0], nullptr, nullptr, TRUE,
             CREATE_SUSPENDED, nullptr,
             current_directory.empty() ? nullptr : current_directory.c_str(),
             &startup_info, info) != 0;
}

// "NAME (pid N)" for every process still in |job|, comma separated.
std::wstring DescribeJobProcesses(HANDLE job) {
  struct {
    JOBOBJECT_BASIC_PROCESS_ID_LIST list;
    ULONG_PTR more_ids[63];
  } ids = {};
  ids.list.NumberOfAssignedProcesses = 64;
  if (!::QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids,
                                   sizeof(ids), nullptr)) {
    return L"(the job's process list is not available)";
  }
  std::wstring text;
  for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList; ++i) {
    const DWORD pid = static_cast<DWORD>(ids.list.ProcessIdList[i]);
    std::wstring name = L"?";
    HANDLE process =
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process) {
      wchar_t path[MAX_PATH];
      DWORD size = MAX_PATH;
      if (::QueryFullProcessImageNameW(process, 0, path, &size)) {
        name.assign(path, size);
        const size_t slash = name.find_last_of(L"\\/");
        if (slash != std::wstring::npos)
          name.erase(0, slash + 1);
      }
      ::CloseHandle(process);
    }
    if (!text.empty())
      text += L", ";
    text += name + L" (pid " + std::to_wstring(pid) + L")";
  }
  return text.empty() ? L"(no process listed)" : text;
}

// The processes Wine starts on its own behalf, on the first use of a
// window or of a service, as children of whatever process asked.
bool IsWineOwnProcess(HANDLE process) {
  static const wchar_t* const kNames[] = {
      L"explorer.exe", L"services.exe", L"winedevice.exe",
      L"plugplay.exe", L"svchost.exe",  L"rpcss.exe",
  };
  wchar_t path[MAX_PATH];
  DWORD size = MAX_PATH;
  wchar_t windows[MAX_PATH];
  const UINT windows_size = ::GetWindowsDirectoryW(windows, MAX_PATH);
  if (!::QueryFullProcessImageNameW(process, 0, path, &size) ||
      windows_size == 0 || windows_size >= MAX_PATH) {
    return false;
  }
  const std::wstring image(path, size);
  const size_t slash = image.find_last_of(L'\\');
  if (slash == std::wstring::npos)
    return false;
  const std::wstring folder = image.substr(0, slash);
  const std::wstring name = image.substr(slash + 1);
  const std::wstring windows_folder(windows, windows_size);
  if (_wcsicmp(folder.c_str(), windows_folder.c_str()) != 0 &&
      _wcsicmp(folder.c_str(), (windows_folder + L"\\system32").c_str()) != 0) {
    return false;
  }
  for (const wchar_t* known : kNames) {
    if (_wcsicmp(name.c_str(), known) == 0)
      return true;
  }
  return false;
}

// True when every process left in |job| is one of Wine's own; a process
// that can't be looked at counts as the program's.
bool OnlyWineOwnProcessesLeft(HANDLE job) {
  struct {
    JOBOBJECT_BASIC_PROCESS_ID_LIST list;
    ULONG_PTR more_ids[63];
  } ids = {};
  ids.list.NumberOfAssignedProcesses = 64;
  if (!::QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids,
                                   sizeof(ids), nullptr) ||
      ids.list.NumberOfProcessIdsInList < ids.list.NumberOfAssignedProcesses) {
    return false;
  }
  for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList; ++i) {
    HANDLE process =
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE,
                      static_cast<DWORD>(ids.list.ProcessIdList[i]));
    if (!process)
      return false;
    const bool ended = ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    const bool own = ended || IsWineOwnProcess(process);
    ::CloseHandle(process);
    if (!own)
      return false;
  }
  return true;
}

DWORD ActiveProcesses(HANDLE job) {
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info = {};
  if (!::QueryInformationJobObject(job, JobObjectBasicAccountingInformation,
                                   &info, sizeof(info), nullptr)) {
    return 0;
  }
  return info.ActiveProcesses;
}

std::wstring ProcessName(HANDLE process) {
  wchar_t path[MAX_PATH];
  DWORD size = MAX_PATH;
  if (!::QueryFullProcessImageNameW(process, 0, path, &size))
    return L"?";
  std::wstring name(path, size);
  const size_t slash = name.find_last_of(L"\\/");
  return slash == std::wstring::npos ? name : name.substr(slash + 1);
}

// The processes of the job, kept open so that their exit codes outlive
// them. Wine reports no memory figures of an ended process, nor the job's
// peak, so the figures are the largest seen while each process ran,
// sampled a few times a second.
class ProcessReport {
 public:
  ~ProcessReport() {
    for (const Entry& entry : entries_)
      ::CloseHandle(entry.process);
  }
  void Add(HANDLE process) {
    entries_.push_back({process, ProcessName(process)});
    Sample();
  }
  void AddPid(DWORD pid) {
    HANDLE process = ::OpenProcess(
        PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, pid);
    if (!process) {
      process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE,
                              FALSE, pid);
    }
    if (process)
      Add(process);
  }
  void Sample() {
    for (Entry& entry : entries_) {
      if (::WaitForSingleObject(entry.process, 0) == WAIT_OBJECT_0)
        continue;
      // A process that has just started may not have its image name yet.
      if (entry.name == L"?")
        entry.name = ProcessName(entry.process);
      PROCESS_MEMORY_COUNTERS counters = {};
      counters.cb = sizeof(counters);
      if (!::K32GetProcessMemoryInfo(entry.process, &counters,
                                     sizeof(counters))) {
        continue;
      }
      entry.peak_working_set =
          std::max(entry.peak_working_set, counters.PeakWorkingSetSize);
      entry.peak_private =
          std::max(entry.peak_private, counters.PeakPagefileUsage);
    }
  }
  bool Write(const std::wstring& file, HANDLE job) const {
    std::string text;
    for (const Entry& entry : entries_) {
      DWORD exit_code = 0;
      ::GetExitCodeProcess(entry.process, &exit_code);
      // A process that ended between its start and the next sample was
      // never named; Wine still tells the image of an ended process whose
      // handle is open.
      const std::wstring name =
          entry.name == L"?" ? ProcessName(entry.process) : entry.name;
      text += std::string(name.begin(), name.end()) +
              " exit=" + std::to_string(exit_code) + " peak_working_set_kb=" +
              std::to_string(entry.peak_working_set / 1024) +
              " peak_private_kb=" + std::to_string(entry.peak_private / 1024) +
              "\r\n";
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    ::QueryInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                                sizeof(limits), nullptr);
    text += "job peak_process_memory_kb=" +
            std::to_string(limits.PeakProcessMemoryUsed / 1024) + "\r\n";
    HANDLE handle =
        ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
      return false;
    DWORD written = 0;
    const BOOL ok =
        ::WriteFile(handle, text.data(), static_cast<DWORD>(text.size()),
                    &written, nullptr);
    ::CloseHandle(handle);
    return ok != 0;
  }

 private:
  struct Entry {
    HANDLE process;
    std::wstring name;
    SIZE_T peak_working_set = 0;
    SIZE_T peak_private = 0;
  };
  std::vector<Entry> entries_;
};

DWORD MillisecondsLeft(ULONGLONG deadline) {
  const ULONGLONG now = ::GetTickCount64();
  return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

int RunInJob(const std::vector<std::wstring>& program,
             const std::wstring& current_directory,
             DWORD timeout_seconds,
             const std::wstring& report_file) {
  HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
  HANDLE port = ::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
  if (!job || !port) {
    PrintError(L"cannot create the job object");
    return kExitLaunchFailed;
  }
  JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {};
  association.CompletionKey = job;
  association.CompletionPort = port;
  // Breakaway stays forbidden: no limit flag allows it.
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!::SetInformationJobObject(job,
                                 JobObjectAssociateCompletionPortInformation,
                                 &association, sizeof(association)) ||
      !::SetInformationJobObject(job, JobObjectExtendedLimitInformation,
                                 &limits, sizeof(limits))) {
    PrintError(L"cannot set up the job object");
    return kExitLaunchFailed;
  }

  PROCESS_INFORMATION info = {};
  // A loaded machine has seen Wine refuse a start now and then with an
  // internal error; a moment later the same start works. Nothing of the
  // program has run then, so trying again changes nothing of the test.
  bool started = false;
  DWORD start_error = 0;
  for (int attempt = 0; attempt < 3 && !started; ++attempt) {
    if (attempt > 0)
      ::Sleep(500);
    started =
        StartSuspended(BuildCommandLine(program), current_directory, &info);
    start_error = started ? 0 : ::GetLastError();
    if (!started && start_error != ERROR_INTERNAL_ERROR)
      break;
  }
  if (!started) {
    PrintError(L"cannot start " + program[0] + L": error " +
               std::to_wstring(start_error));
    return kExitLaunchFailed;
  }
  if (!::AssignProcessToJobObject(job, info.hProcess)) {
    PrintError(L"cannot put the program into the job: error " +
               std::to_wstring(::GetLastError()));
    ::TerminateProcess(info.hProcess, kExitLaunchFailed);
    return kExitLaunchFailed;
  }
  ::ResumeThread(info.hThread);
  ::CloseHandle(info.hThread);

  const ULONGLONG deadline =
      ::GetTickCount64() + static_cast<ULONGLONG>(timeout_seconds) * 1000;
  ProcessReport report;
  HANDLE first = nullptr;
  ::DuplicateHandle(::GetCurrentProcess(), info.hProcess, ::GetCurrentProcess(),
                    &first, 0, FALSE, DUPLICATE_SAME_ACCESS);
  report.Add(first);
  // The completion port says when a process starts and when the job is
  // empty; the count is checked as well so that a missed message costs a
  // fraction of a second, not the whole timeout.
  bool timed_out = false;
  for (;;) {
    const DWORD left = MillisecondsLeft(deadline);
    if (left == 0) {
      timed_out = true;
      break;
    }
    DWORD message = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED overlapped = nullptr;
    // Memory samples need a shorter beat than the empty-job check.
    const DWORD beat = report_file.empty() ? 200 : 50;
    if (::GetQueuedCompletionStatus(port, &message, &key, &overlapped,
                                    left < beat ? left : beat) &&
        key == reinterpret_cast<ULONG_PTR>(job)) {
      const DWORD pid =
          static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(overlapped));
      if (message == JOB_OBJECT_MSG_NEW_PROCESS && pid != info.dwProcessId &&
          !report_file.empty()) {
        report.AddPid(pid);
      }
      if (message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO)
        break;
    }
    if (!report_file.empty())
      report.Sample();
    if (::WaitForSingleObject(info.hProcess, 0) == WAIT_OBJECT_0 &&
        (ActiveProcesses(job) == 0 || OnlyWineOwnProcessesLeft(job))) {
      break;
    }
  }
  DWORD exit_code = 0;
  ::GetExitCodeProcess(info.hProcess, &exit_code);
  ::CloseHandle(info.hProcess);
  if (!timed_out && !report_file.empty() && !report.Write(report_file, job))
    PrintError(L"cannot write the report " + report_file);

  if (timed_out) {
    PrintError(L"still running after " + std::to_wstring(timeout_seconds) +
               L" s, killed: " + DescribeJobProcesses(job));
    ::TerminateJobObject(job, kExitTimeout);
    ::CloseHandle(job);
    return kExitTimeout;
  }
  ::CloseHandle(job);
  ::CloseHandle(port);
  return static_cast<int>(exit_code);
}

// Starts |program| with the standard handles and does not wait for it.
int SpawnAndExit(const std::vector<std::wstring>& program, int exit_code) {
  PROCESS_INFORMATION info = {};
  if (!StartSuspended(BuildCommandLine(program), std::wstring(), &info))
    return kExitLaunchFailed;
  ::ResumeThread(info.hThread);
  ::CloseHandle(info.hThread);
  ::CloseHandle(info.hProcess);
  return exit_code;
}

int DelayedPrint(const std::wstring& text) {
  ::Sleep(1000);
  const std::string narrow(text.begin(), text.end());  // ASCII only.
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), narrow.data(),
              static_cast<DWORD>(narrow.size()), &written, nullptr);
  return 0;
}

int HoldDesktop() {
  if (!::GetDesktopWindow())
    return kExitLaunchFailed;
  static const char kReady[] = "desktop ready\n";
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), kReady, sizeof(kReady) - 1,
              &written, nullptr);
  // Whoever started this ends it, with the prefix's wineserver.
  ::Sleep(INFINITE);
  return 0;
}

bool StartsWith(const std::wstring& text,
                const wchar_t* prefix,
                std::wstring* rest) {
  const size_t length = wcslen(prefix);
  if (text.compare(0, length, prefix) != 0)
    return false;
  *rest = text.substr(length);
  return true;
}

int Run(const std::vector<std::wstring>& args) {
  DWORD timeout_seconds = kDefaultTimeoutSeconds;
  bool spawn = false;
  int spawn_exit_code = 0;
  std::wstring current_directory;
  std::wstring report_file;
  size_t i = 1;
  for (; i < args.size() && args[i] != L"--"; ++i) {
    std::wstring value;
    if (StartsWith(args[i], L"--timeout-seconds=", &value)) {
      timeout_seconds = wcstoul(value.c_str(), nullptr, 10);
      if (timeout_seconds == 0) {
        PrintError(L"bad timeout " + args[i]);
        return kExitBadUsage;
      }
    } else if (StartsWith(args[i], L"--env=", &value)) {
      const size_t equals = value.find(L'=');
      if (equals == 0 || equals == std::wstring::npos ||
          !::SetEnvironmentVariableW(value.substr(0, equals).c_str(),
                                     value.substr(equals + 1).c_str())) {
        PrintError(L"bad variable " + args[i]);
        return kExitBadUsage;
      }
    } else if (StartsWith(args[i], L"--current-directory=", &value)) {
      current_directory = value;
    } else if (StartsWith(args[i], L"--report=", &value)) {
      report_file = value;
    } else if (args[i] == L"--prepare-desktop") {
      return ::GetDesktopWindow() ? 0 : kExitLaunchFailed;
    } else if (args[i] == L"--hold-desktop") {
      return HoldDesktop();
    } else if (StartsWith(args[i], L"--test-spawn-and-exit=", &value)) {
      spawn = true;
      spawn_exit_code = _wtoi(value.c_str());
    } else if (StartsWith(args[i], L"--test-delayed-print=", &value)) {
      return DelayedPrint(value);
    } else {
      PrintError(L"unknown switch " + args[i]);
      return kExitBadUsage;
    }
  }
  if (i + 1 >= args.size()) {
    PrintError(
        L"usage: kavor_job_runner.exe [--timeout-seconds=N] [--report=FILE] "
        L"[--env=NAME=VALUE]... [--current-directory=DIR] -- "
        L"PROGRAM [ARGS...]");
    return kExitBadUsage;
  }
  const std::vector<std::wstring> program(args.begin() + i + 1, args.end());
  return spawn ? SpawnAndExit(program, spawn_exit_code)
               : RunInJob(program, current_directory, timeout_seconds,
                          report_file);
}

}  // namespace

int main() {
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv)
    return kExitBadUsage;
  std::vector<std::wstring> args(argv, argv + argc);
  ::LocalFree(argv);
  return Run(args);
}
