// A child process for the process-launching tests. The first argument picks
// what it does:
//   print TEXT         writes TEXT to standard output, exits with 0
//   print-stderr TEXT  writes TEXT to standard error, exits with 0
//   silent             writes nothing, exits with 0
//   exit N             exits with the decimal or 0x-hexadecimal code N
//   crash              dies of an access violation
//   signal-handle H    signals the event whose handle value is H (decimal);
//                      exits with 0 when it could, 2 when it could not
//   print-cwd          writes its current folder to standard output
//   sleep              waits until it is killed (two minutes at most, so
//                      that a test that failed before killing it leaves
//                      no process behind for long)
//   --backend          the same: stands in for a backend that holds nothing
//   --version          writes "47.0.4127.0", as a package's installer.exe
//                      answers, exits with 0
//   count-pipe-reads   writes how many read ends of anonymous pipes it
//                      holds besides its standard handles (inherited ones)
//   append-twice FILE  appends the line "begin" to FILE, waits 200 ms, then
//                      appends "end"; exits with 4 when it cannot write
//   hold FILE STOP     keeps FILE open for reading, letting others read,
//                      write, rename and delete it (a deleted FILE goes
//                      when it is let go), writes "holding", and lets go
//                      and exits with 0 once STOP exists (two minutes at
//                      most); exits with 5 when it cannot open FILE
// Anything else exits with 99.

#include <windows.h>
#include <shellapi.h>

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <string>

namespace {

const DWORD kLongestSleepMs = 120000;

// Exit codes.
const int kExitOk = 0;
const int kExitSignalFailed = 2;
const int kExitNoCurrentFolder = 3;
const int kExitCannotAppend = 4;
const int kExitCannotHold = 5;
const int kBadUsage = 99;

void WriteTo(DWORD std_handle, const wchar_t* text) {
  // The tests pass ASCII text only.
  std::string narrow;
  for (const wchar_t* p = text; *p; ++p)
    narrow.push_back(static_cast<char>(*p));
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(std_handle), narrow.data(),
              static_cast<DWORD>(narrow.size()), &written, nullptr);
}

// An anonymous pipe's read end is the server end of the named pipe behind
// it. Handle values are multiples of four; a child holds few handles.
int CountPipeReadEnds() {
  const HANDLE standard[] = {::GetStdHandle(STD_INPUT_HANDLE),
                             ::GetStdHandle(STD_OUTPUT_HANDLE),
                             ::GetStdHandle(STD_ERROR_HANDLE)};
  int count = 0;
  for (uintptr_t value = 4; value < 0x4000; value += 4) {
    HANDLE handle = reinterpret_cast<HANDLE>(value);
    DWORD flags = 0;
    if (handle == standard[0] || handle == standard[1] ||
        handle == standard[2] || !::GetHandleInformation(handle, &flags) ||
        ::GetFileType(handle) != FILE_TYPE_PIPE) {
      continue;
    }
    DWORD pipe_flags = 0;
    if (::GetNamedPipeInfo(handle, &pipe_flags, nullptr, nullptr, nullptr) &&
        (pipe_flags & PIPE_SERVER_END)) {
      ++count;
    }
  }
  return count;
}

// Appends |line| to the file at |path|, which other children append to as
// well.
bool AppendLine(const wchar_t* path, const char* line) {
  HANDLE file =
      ::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  DWORD written = 0;
  const DWORD size = static_cast<DWORD>(strlen(line));
  const bool ok =
      ::WriteFile(file, line, size, &written, nullptr) && written == size;
  ::CloseHandle(file);
  return ok;
}

int Run(int argc, wchar_t** argv) {
  if (argc < 2)
    return kBadUsage;
  const wchar_t* mode = argv[1];
  if (wcscmp(mode, L"print") == 0 && argc >= 3) {
    WriteTo(STD_OUTPUT_HANDLE, argv[2]);
    return kExitOk;
  }
  if (wcscmp(mode, L"print-stderr") == 0 && argc >= 3) {
    WriteTo(STD_ERROR_HANDLE, argv[2]);
    return kExitOk;
  }
  if (wcscmp(mode, L"silent") == 0)
    return kExitOk;
  if (wcscmp(mode, L"exit") == 0 && argc >= 3) {
    ::ExitProcess(static_cast<UINT>(wcstoul(argv[2], nullptr, 0)));
  }
  if (wcscmp(mode, L"crash") == 0) {
    volatile int* null_pointer = nullptr;
    *null_pointer = 1;
    return kBadUsage;
  }
  if (wcscmp(mode, L"signal-handle") == 0 && argc >= 3) {
    HANDLE handle = reinterpret_cast<HANDLE>(
        static_cast<uintptr_t>(_wcstoui64(argv[2], nullptr, 10)));
    return ::SetEvent(handle) ? kExitOk : kExitSignalFailed;
  }
  if (wcscmp(mode, L"--version") == 0) {
    WriteTo(STD_OUTPUT_HANDLE, L"47.0.4127.0");
    return kExitOk;
  }
  if (wcscmp(mode, L"print-cwd") == 0) {
    wchar_t buffer[MAX_PATH];
    if (!::GetCurrentDirectoryW(MAX_PATH, buffer))
      return kExitNoCurrentFolder;
    WriteTo(STD_OUTPUT_HANDLE, buffer);
    return kExitOk;
  }
  if (wcscmp(mode, L"count-pipe-reads") == 0) {
    WriteTo(STD_OUTPUT_HANDLE, std::to_wstring(CountPipeReadEnds()).c_str());
    return 0;
  }
  if (wcscmp(mode, L"append-twice") == 0 && argc >= 3) {
    if (!AppendLine(argv[2], "begin\n"))
      return kExitCannotAppend;
    ::Sleep(200);
    return AppendLine(argv[2], "end\n") ? kExitOk : kExitCannotAppend;
  }
  if (wcscmp(mode, L"hold") == 0 && argc >= 4) {
    HANDLE file =
        ::CreateFileW(argv[2], GENERIC_READ,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
      return kExitCannotHold;
    WriteTo(STD_OUTPUT_HANDLE, L"holding\n");
    const DWORD kPollMs = 100;
    for (DWORD waited = 0;
         waited < kLongestSleepMs &&
         ::GetFileAttributesW(argv[3]) == INVALID_FILE_ATTRIBUTES;
         waited += kPollMs) {
      ::Sleep(kPollMs);
    }
    ::CloseHandle(file);
    return kExitOk;
  }
  // "--backend": a front end's runner started it as its backend.
  if (wcscmp(mode, L"sleep") == 0 || wcscmp(mode, L"--backend") == 0) {
    ::Sleep(kLongestSleepMs);
    return kExitOk;
  }
  return kBadUsage;
}

}  // namespace

int main() {
  // A crash must end this process at once, without any error dialog.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv)
    return kBadUsage;
  int result = Run(argc, argv);
  ::LocalFree(argv);
  return result;
}
