#include "crash/reporter_self_crash.h"

#include <windows.h>

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <atomic>
#include <memory>
#include <string>
#include <utility>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/macros.h"
#include "base/strings/string_number_conversions.h"
#include "base/win/registry.h"
#include "crash/counter_file_writer.h"
#include "crash/crash_product_info.h"
#include "crash/crash_report_upload.h"
#include "crash/crash_reporter.h"
#include "crash/reporter_common.h"

// Defined beside the exception handler: code of this compiler reaches a
// pure virtual function only through it, and it hands the call to the
// runtime's pure-call handler. Its references from vtables are weak, and
// would not pull it in by themselves; a process without it would jump to
// address 0 instead of reporting the pure call.
extern "C" void __cxa_pure_virtual();

namespace crash_reporter {

namespace {

void (*volatile g_pure_call_route)() = &__cxa_pure_virtual;

constexpr wchar_t kExceptionEventPrefix[] = L"KavorCrashReporterException";
constexpr wchar_t kLastCrashValueName[] = L"Last crash in crash reporter";
constexpr char kReporterCounterName[] = "crash_reporter";
constexpr uint64_t kFileTimeTicksPerDay = 864000000000ULL;

// What the relaunched copy reads out of this process.
ExceptionRecord g_exception_record = {};
// 0 until the first handler runs.
volatile LONG g_handler_gate = 0;
volatile LONG g_handlers_installed = 0;
// Set once g_command_line is whole; a crashing thread reads the line only
// after seeing it.
std::atomic<bool> g_ready(false);
static_assert(ATOMIC_BOOL_LOCK_FREE == 2, "a crash handler cannot take a lock");
// Made before any crash: a handler must not allocate. CreateProcessW may
// write into it.
wchar_t g_command_line[MAX_PATH + 256] = {};

// The exception event, closed at exit.
class ExceptionEvent {
 public:
  ExceptionEvent() = default;
  ~ExceptionEvent() {
    if (handle_)
      ::CloseHandle(handle_);
  }
  HANDLE handle() const { return handle_; }
  void set_handle(HANDLE handle) { handle_ = handle; }

 private:
  HANDLE handle_ = nullptr;
};
ExceptionEvent g_exception_event;

// The first crashing thread goes on; every later one stops for good, so
// that a process reports one crash.
void TakeHandlerGate() {
  if (::InterlockedCompareExchange(&g_handler_gate, 1, 0) == 0)
    return;
  for (;;)
    ::SuspendThread(::GetCurrentThread());
}

// Cut to fit the record's 128 units, terminator included.
template <size_t N>
void CopyAssertionText(wchar_t (&target)[N], const wchar_t* text) {
  if (!text || !*text)
    return;
  wcsncpy(target, text, N - 1);
  target[N - 1] = L'\0';
}

// Records a runtime report as an exception of |code| raised here.
void ReportRuntimeFailure(DWORD code,
                          uint32_t kind,
                          const wchar_t* expression,
                          const wchar_t* function,
                          const wchar_t* file,
                          unsigned int line) {
  // Static: only the one thread past the gate gets here, and the copy reads
  // them after this frame might have been reused.
  static CONTEXT context;
  static EXCEPTION_RECORD exception;
  static EXCEPTION_POINTERS pointers;
  ::RtlCaptureContext(&context);
  memset(&exception, 0, sizeof(exception));
  exception.ExceptionCode = code;
  exception.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
  pointers.ExceptionRecord = &exception;
  pointers.ContextRecord = &context;

  g_exception_record.thread_id = ::GetCurrentThreadId();
  g_exception_record.exception_pointers =
      reinterpret_cast<uintptr_t>(&pointers);
  g_exception_record.assertion.type = kind;
  CopyAssertionText(g_exception_record.assertion.expression, expression);
  CopyAssertionText(g_exception_record.assertion.function, function);
  CopyAssertionText(g_exception_record.assertion.file, file);
  g_exception_record.assertion.line = line;
  LaunchSelfCrashReporter();
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) {
  TakeHandlerGate();
  if (g_ready.load(std::memory_order_acquire)) {
    g_exception_record.thread_id = ::GetCurrentThreadId();
    g_exception_record.exception_pointers =
        reinterpret_cast<uintptr_t>(pointers);
    g_exception_record.assertion.type = kAssertionKindException;
    LaunchSelfCrashReporter();
  }
  return EXCEPTION_EXECUTE_HANDLER;
}

void __cdecl OnInvalidParameter(const wchar_t* expression,
                                const wchar_t* function,
                                const wchar_t* file,
                                unsigned int line,
                                uintptr_t) {
  TakeHandlerGate();
  if (g_ready.load(std::memory_order_acquire)) {
    ReportRuntimeFailure(0xC000000D, kAssertionKindInvalidParameter, expression,
                         function, file, line);
  }
  exit(0);
}

void __cdecl OnPureCall() {
  TakeHandlerGate();
  if (g_ready.load(std::memory_order_acquire)) {
    ReportRuntimeFailure(0xC0000025, kAssertionKindPureCall, nullptr, nullptr,
                         nullptr, 0);
  }
  exit(0);
}

bool ExceptionEventName(DWORD process_id, base::string16* name) {
  return FormatCrashReporterObjectName(kExceptionEventPrefix, process_id, name);
}

// The company key, made when missing; null when there is none to use.
std::unique_ptr<base::win::RegKey> OpenLastCrashKey() {
  const base::string16& company = GetCrashProductInfo().company_registry_key;
  if (company.empty())
    return nullptr;
  auto key = std::make_unique<base::win::RegKey>(
      HKEY_CURRENT_USER, company.c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE);
  if (!key->Valid())
    return nullptr;
  return key;
}

uint64_t FileTimeTicks(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) |
         time.dwLowDateTime;
}

}  // namespace

void InstallInProcessExceptionHandlers() {
  if (::InterlockedExchange(&g_handlers_installed, 1) != 0)
    return;
  ::SetUnhandledExceptionFilter(&OnUnhandledException);
  _set_invalid_parameter_handler(&OnInvalidParameter);
  _set_purecall_handler(&OnPureCall);
  (void)g_pure_call_route;
}

void PrepareSelfCrashLaunch() {
  if (g_ready.load(std::memory_order_acquire))
    return;
  wchar_t program[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, program, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return;

  base::string16 event_name;
  if (!ExceptionEventName(::GetCurrentProcessId(), &event_name))
    return;
  if (!g_exception_event.handle()) {
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, event_name.c_str());
    if (!event)
      return;
    g_exception_event.set_handle(event);
  }

  base::CommandLine command_line(
      base::FilePath(base::string16(program, length)));
  command_line.AppendSwitchASCII(
      kCrashReporterExceptionInfoSwitch,
      base::Uint64ToString(reinterpret_cast<uintptr_t>(&g_exception_record)));
  command_line.AppendSwitchASCII(
      kCrashReporterParentIdSwitch,
      base::UintToString(static_cast<unsigned>(::GetCurrentProcessId())));
  const base::string16 text = command_line.GetCommandLineString();
  if (text.size() >= arraysize(g_command_line))
    return;
  wcscpy(g_command_line, text.c_str());
  g_ready.store(true, std::memory_order_release);
}

void LaunchSelfCrashReporter() {
  if (!g_ready.load(std::memory_order_acquire))
    return;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(nullptr, g_command_line, nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &process)) {
    return;
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  if (g_exception_event.handle())
    ::WaitForSingleObject(g_exception_event.handle(), kSelfCrashWaitMs);
  else
    ::Sleep(kSelfCrashWaitMs);
}

void SignalSelfCrashHandled(DWORD process_id) {
  base::string16 name;
  if (!ExceptionEventName(process_id, &name))
    return;
  HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  if (!event)
    return;
  ::SetEvent(event);
  ::CloseHandle(event);
}

void RunCrashReporterWithExceptionInfo() {
  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();
  unsigned int process_id = 0;
  if (!base::StringToUint(
          command_line.GetSwitchValueASCII(kCrashReporterParentIdSwitch),
          &process_id)) {
    return;
  }
  uint64_t record_address = 0;
  if (!base::StringToUint64(
          command_line.GetSwitchValueASCII(kCrashReporterExceptionInfoSwitch),
          &record_address)) {
    SignalSelfCrashHandled(process_id);
    return;
  }

  int64_t days = 0;
  if (!GetDaysSinceLastReporterCrash(&days) ||
      days < kSelfCrashReportIntervalDays) {
    SignalSelfCrashHandled(process_id);
    return;
  }

  (void)InitCrashReporterPaths();
  CounterFileWriter counters(GetCountersFilePath());
  counters.Add(kReporterCounterName, 1, true);

  base::FilePath dump_path;
  if (!base::GetTempDir(&dump_path)) {
    // A bare name would land in whatever folder this process started in.
    LOG(ERROR) << "Reporter crash: no temporary folder for the dump";
    SignalSelfCrashHandled(process_id);
    return;
  }
  dump_path = dump_path.Append(NextDumpFileName());

  if (!WriteDumpFromExceptionInfo(process_id, record_address, dump_path,
                                  kSelfCrashDumpSizeLimit)) {
    SignalSelfCrashHandled(process_id);
    return;
  }
  auto fields = std::make_unique<CrashReportFields>();
  // While the crashed reporter still waits: its times and memory.
  CollectReporterCrashFields(process_id, fields.get());
  SignalSelfCrashHandled(process_id);
  InitCrashUploadUrl();
  if (UploadCrashReport(dump_path, std::move(fields), false)) {
    SYSTEMTIME now;
    ::GetSystemTime(&now);
    StoreLastReporterCrash(now);
  }
  // The upload deletes the dump, whether or not it was sent.
}

bool GetDaysSinceLastReporterCrash(int64_t* days) {
  std::unique_ptr<base::win::RegKey> key = OpenLastCrashKey();
  if (!key)
    return false;
  uint64_t stored = 0;
  DWORD size = sizeof(stored);
  DWORD type = REG_NONE;
  LONG result = key->ReadValue(kLastCrashValueName, &stored, &size, &type);
  if (result == ERROR_SUCCESS && (type != REG_QWORD || size != sizeof(stored)))
    result = ERROR_INVALID_DATA;
  if (result == ERROR_FILE_NOT_FOUND || result == ERROR_INVALID_DATA ||
      result == ERROR_MORE_DATA) {
    // No time yet, or one nobody can read: a value that stayed unreadable
    // would hold back every report for good.
    if (result != ERROR_FILE_NOT_FOUND) {
      LOG(WARNING) << "Unusable registry value \"Last crash in crash "
                      "reporter\"; starting afresh";
    }
    stored = 0;
    if (key->WriteValue(kLastCrashValueName, &stored, sizeof(stored),
                        REG_QWORD) != ERROR_SUCCESS) {
      return false;
    }
  } else if (result != ERROR_SUCCESS) {
    return false;
  }
  FILETIME now_time;
  ::GetSystemTimeAsFileTime(&now_time);
  const uint64_t now = FileTimeTicks(now_time);
  if (now < stored)
    return false;
  *days = static_cast<int64_t>((now - stored) / kFileTimeTicksPerDay);
  return true;
}

void StoreLastReporterCrash(const SYSTEMTIME& now) {
  FILETIME time;
  if (!::SystemTimeToFileTime(&now, &time))
    return;
  std::unique_ptr<base::win::RegKey> key = OpenLastCrashKey();
  if (!key)
    return;
  const uint64_t ticks = FileTimeTicks(time);
  (void)key->WriteValue(kLastCrashValueName, &ticks, sizeof(ticks), REG_QWORD);
}

}  // namespace crash_reporter
