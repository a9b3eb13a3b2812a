#include "crash/crash_reporter.h"

#include <windows.h>

#include <stdio.h>

#include <atomic>
#include <memory>
#include <string>

#include "base/command_line.h"
#include "base/debug/crash_logging.h"
#include "base/macros.h"
#include "base/path_service.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/wrapped_window_proc.h"
#include "crash/crash_key_table.h"
#include "crash/crash_product_info.h"
#include "crash/crash_reporter_process.h"
#include "crash/handler/exception_handler.h"
#include "crash/reporter_self_crash.h"

namespace crash_reporter {

namespace {

// Windows 7 SP1 (and Vista with an update) swallow exceptions thrown through
// window procedures unless this bit is cleared.
constexpr DWORD kProcessCallbackFilterEnabled = 0x1;

using GetPolicyFunction = BOOL(WINAPI*)(LPDWORD);
using SetPolicyFunction = BOOL(WINAPI*)(DWORD);
using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);

constexpr char kCrashOriginVariable[] = "KAVOR_CRASH_ORIGIN";
// The maker's test automation names its runs; crashes during such a run
// are filed under it.
constexpr char kTestAutomationVariable[] = "KAVTEST_RUN_ID";
constexpr char kTestAutomationCrashKey[] = "kavtest_run";
constexpr char kTestAutomationOrigin[] = "kavtest";

// The kernel32 entry of |name|; kernel32 is mapped into every process, so
// looking it up loads nothing.
FARPROC Kernel32Function(const char* name) {
  HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  return kernel32 ? ::GetProcAddress(kernel32, name) : nullptr;
}

std::atomic<DWORD> g_start_timeout_for_testing(0);

ExceptionHandler* g_exception_handler = nullptr;
std::atomic<int> g_dump_taken(0);

// Concurrent crashes make one dump: every thread after the first waits here
// for the process to end.
bool OnlyFirstCrashDumps(void*, EXCEPTION_POINTERS*, AssertionInfo*) {
  int expected = 0;
  if (g_dump_taken.compare_exchange_strong(expected, 1))
    return true;
  ::Sleep(INFINITE);
  return false;
}

bool DumpDone(const wchar_t*,
              const wchar_t*,
              void*,
              EXCEPTION_POINTERS*,
              AssertionInfo*,
              bool) {
  return true;
}

// Exceptions that leave a window procedure are crashes too.
int DumpAndTerminate(EXCEPTION_POINTERS* info) {
  if (g_exception_handler)
    g_exception_handler->WriteMinidumpForException(info);
  ::TerminateProcess(::GetCurrentProcess(), 1);
  return 1;
}

bool ReadExceptionPolicy(DWORD* flags) {
  auto get_policy = reinterpret_cast<GetPolicyFunction>(
      Kernel32Function("GetProcessUserModeExceptionPolicy"));
  return get_policy && get_policy(flags);
}

std::string ExceptionPolicyText() {
  DWORD flags = 0;
  if (!ReadExceptionPolicy(&flags))
    return std::string();
  char text[16];
  snprintf(text, sizeof(text), "0x%04lx", static_cast<unsigned long>(flags));
  return text;
}

std::string IsWow64Text() {
  auto is_wow64 = reinterpret_cast<IsWow64ProcessFunction>(
      Kernel32Function("IsWow64Process"));
  BOOL wow64 = FALSE;
  if (!is_wow64 || !is_wow64(::GetCurrentProcess(), &wow64))
    return std::string();
  return wow64 ? "1" : "0";
}

void SetCrashKeyOnce(const char* name,
                     uint32_t size,
                     base::debug::CrashKeyString** key,
                     const std::string& value) {
  if (!*key)
    *key = base::debug::AllocateCrashKeyString(name, size);
  base::debug::SetCrashKeyString(*key, value);
}

}  // namespace

const char kCrashReporterParentIdSwitch[] = "crash-reporter-parent-id";
const char kCrashReporterPidSwitch[] = "crash-reporter-pid";
const char kCrashReporterExceptionInfoSwitch[] =
    "crash-reporter-exception-info";
const wchar_t kCrashReporterInitEventPrefix[] = L"KavorCrashReporterInitEvent";
const wchar_t kCrashReporterPipePrefix[] = L"\\\\.\\pipe\\KavorCrashReporter";

bool FormatCrashReporterObjectName(const wchar_t* prefix,
                                   DWORD id,
                                   base::string16* name) {
  wchar_t buffer[38];
  const int length = _snwprintf(buffer, arraysize(buffer), L"%ls%u", prefix,
                                static_cast<unsigned>(id));
  if (length < 0 || length >= static_cast<int>(arraysize(buffer)))
    return false;
  name->assign(buffer, length);
  return true;
}

// CrashReporterClient --------------------------------------------------------

CrashReporterClient::~CrashReporterClient() = default;

bool CrashReporterClient::IsBrowserProcessType(
    const base::string16& process_type) {
  return process_type == L"browser";
}

void CrashReporterClient::GetProductInfo(const base::FilePath&,
                                         base::string16*,
                                         base::string16*,
                                         base::string16*,
                                         base::string16*) {}

bool CrashReporterClient::FixedQuery2() {
  return false;
}

bool CrashReporterClient::FixedQuery4() {
  return false;
}

bool CrashReporterClient::FixedQuery5() {
  return false;
}

bool CrashReporterClient::FixedQuery6() {
  return false;
}

bool CrashReporterClient::FixedQuery7() {
  return true;
}

bool CrashReporterClient::FixedQuery8() {
  return false;
}

int CrashReporterClient::FixedQuery9() {
  return 0;
}

bool CrashReporterClient::GetDumpFolder(base::FilePath*) {
  return false;
}

bool CrashReporterClient::FixedQuery11() {
  return false;
}

bool CrashReporterClient::GetCountersPath(base::FilePath*) {
  return false;
}

bool CrashReporterClient::FixedQuery13() {
  return false;
}

bool CrashReporterClient::FixedQuery14() {
  return false;
}

bool CrashReporterClient::ReportsWithoutConsent() {
  return true;
}

bool CrashReporterClient::IsEnabled() {
  return false;
}

bool CrashReporterClient::FixedQuery17() {
  return true;
}

bool CrashReporterClient::FixedQuery18() {
  return false;
}

bool CrashReporterClient::FixedQuery19() {
  return false;
}

bool CrashReporterClient::FixedQuery20() {
  return false;
}

// static
InstallerCrashReporterClient* InstallerCrashReporterClient::GetInstance() {
  // Never destroyed: a crash during exit still needs it.
  static InstallerCrashReporterClient* const instance =
      new InstallerCrashReporterClient();
  return instance;
}

void InstallerCrashReporterClient::GetProductInfo(
    const base::FilePath& /* program */,
    base::string16* product,
    base::string16* version,
    base::string16* special_build,
    base::string16* channel) {
  const CrashProductInfo& info = GetCrashProductInfo();
  *product = base::UTF8ToWide(info.crash_product_name);
  *version = base::UTF8ToWide(info.version);
  special_build->clear();
  *channel = base::UTF8ToWide(info.channel);
}

bool InstallerCrashReporterClient::GetDumpFolder(base::FilePath* folder) {
  const std::string variable = GetEnvironmentValue(kCrashLogDirVariable);
  if (!variable.empty()) {
    *folder = base::FilePath(base::UTF8ToWide(variable));
    return true;
  }
  return base::PathService::Get(kCrashDumpsFolderKey, folder);
}

bool InstallerCrashReporterClient::GetCountersPath(base::FilePath* path) {
  return base::PathService::Get(kCrashCountersFileKey, path);
}

bool InstallerCrashReporterClient::ReportsWithoutConsent() {
  return false;
}

bool InstallerCrashReporterClient::IsEnabled() {
  return enabled_;
}

// Start-up -------------------------------------------------------------------

void DisableCallbackExceptionFilter() {
  auto set_policy = reinterpret_cast<SetPolicyFunction>(
      Kernel32Function("SetProcessUserModeExceptionPolicy"));
  DWORD flags = 0;
  if (set_policy && ReadExceptionPolicy(&flags))
    set_policy(flags & ~kProcessCallbackFilterEnabled);
}

void SetCrashReporterStartTimeoutForTesting(DWORD milliseconds) {
  g_start_timeout_for_testing.store(milliseconds);
}

DWORD LaunchCrashReporterProcess() {
  base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
  command_line.AppendArguments(*base::CommandLine::ForCurrentProcess(), true);
  const DWORD own_id = ::GetCurrentProcessId();
  command_line.AppendSwitchASCII(kCrashReporterParentIdSwitch,
                                 base::UintToString(own_id));

  base::string16 event_name;
  if (!FormatCrashReporterObjectName(kCrashReporterInitEventPrefix, own_id,
                                     &event_name)) {
    return 0;
  }
  HANDLE init_event = ::CreateEventW(nullptr, TRUE, FALSE, event_name.c_str());
  if (!init_event)
    return 0;

  base::string16 command = command_line.GetCommandLineString();
  STARTUPINFOW startup_info = {};
  startup_info.cb = sizeof(startup_info);
  PROCESS_INFORMATION process_info = {};
  DWORD reporter_id = 0;
  if (::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0,
                       nullptr, nullptr, &startup_info, &process_info)) {
    // A reporter that cannot set up ends at once; its end answers as well as
    // the event does.
    const HANDLE handles[] = {init_event, process_info.hProcess};
    const DWORD widened = g_start_timeout_for_testing.load();
    if (::WaitForMultipleObjects(
            arraysize(handles), handles, FALSE,
            widened ? widened : kCrashReporterStartTimeoutMs) ==
        WAIT_OBJECT_0) {
      reporter_id = process_info.dwProcessId;
    }
    ::CloseHandle(process_info.hThread);
    ::CloseHandle(process_info.hProcess);
  }
  ::CloseHandle(init_event);
  return reporter_id;
}

bool EnsureCrashReporterProcess() {
  if (GetCrashProductInfo().ubn < 0)
    return false;
  unsigned int reporter_id = 0;
  if (!base::StringToUint(
          base::CommandLine::ForCurrentProcess()->GetSwitchValueASCII(
              kCrashReporterPidSwitch),
          &reporter_id)) {
    reporter_id = 0;
  }
  if (reporter_id == 0)
    reporter_id = LaunchCrashReporterProcess();
  InstallerCrashReporterClient::GetInstance()->set_crash_reporter_pid(
      reporter_id);
  return reporter_id != 0;
}

void InstallOutOfProcessCrashHandler() {
  const DWORD reporter_id = static_cast<DWORD>(
      InstallerCrashReporterClient::GetInstance()->crash_reporter_pid());
  if (reporter_id == 0 || g_exception_handler)
    return;
  base::string16 pipe_name;
  if (!FormatCrashReporterObjectName(kCrashReporterPipePrefix, reporter_id,
                                     &pipe_name)) {
    return;
  }
  // The reporter reads the entries out of this process when it dumps, so
  // keys set later still reach the dump.
  const CustomClientInfo custom_info =
      CrashKeyTable::GetInstance()->GetCustomInfo();
  auto handler = std::make_unique<ExceptionHandler>(
      std::wstring(), &OnlyFirstCrashDumps, &DumpDone, nullptr,
      ExceptionHandler::HANDLER_ALL, /*MiniDumpNormal*/ 0u, pipe_name.c_str(),
      &custom_info);
  if (!handler->IsOutOfProcess())
    return;
  handler->set_handle_debug_exceptions(true);
  g_exception_handler = handler.release();
  base::win::SetWinProcExceptionFilter(&DumpAndTerminate);
}

void RunCrashReporterChild() {
  InstallInProcessExceptionHandlers();
  if (base::CommandLine::ForCurrentProcess()->HasSwitch(
          kCrashReporterExceptionInfoSwitch)) {
    // Its few lines join the reporters' log rather than a stray file in the
    // download folder.
    InitCrashReporterLogging();
    RunCrashReporterWithExceptionInfo();
  } else {
    (void)RunCrashReporterServer();
  }
}

void JoinCrashReporting() {
  DisableCallbackExceptionFilter();
  if (EnsureCrashReporterProcess())
    InstallOutOfProcessCrashHandler();
  SetInitialCrashKeys();
}

void SetInitialCrashKeys() {
  CrashKeyTable* table = CrashKeyTable::GetInstance();
  base::debug::SetCrashKeyImplementation(
      std::make_unique<CrashKeyTableAdapter>(table));

  const CrashProductInfo& info = GetCrashProductInfo();
  const base::FilePath program =
      base::CommandLine::ForCurrentProcess()->GetProgram();
  table->SetKeyValue("ptype", "installer");
  table->SetKeyValue("channel", info.channel);
  table->SetKeyValue("ver", info.version);
  table->SetKeyValue("prod", info.crash_product_name);
  table->SetKeyValue("BuildID", ComputeBuildId(info));
  table->SetKeyValue("ReleaseChannel", ComputeReleaseChannel(info));
  table->SetKeyValue("plat", "Win64");
  table->SetKeyValue("symbols-package", SymbolsPackageFor(program));
  table->SetKeyValue("UBN", base::IntToString(info.ubn));
  table->SetKeyValue("exception_policy", ExceptionPolicyText());
  table->SetKeyValue("is_wow64", IsWow64Text());

  static base::debug::CrashKeyString* email_key = nullptr;
  const std::string email =
      GetEnvironmentValue(ProductEnvironmentVariable("CRASH_EMAIL"));
  if (!email.empty())
    SetCrashKeyOnce("Email", base::debug::kCrashKeySize32, &email_key, email);

  static base::debug::CrashKeyString* test_run_key = nullptr;
  const std::string test_run = GetEnvironmentValue(kTestAutomationVariable);
  if (!test_run.empty()) {
    SetCrashKeyOnce(kTestAutomationCrashKey, base::debug::kCrashKeySize256,
                    &test_run_key, test_run);
    table->SetKeyValue("Origin", kTestAutomationOrigin);
  } else {
    const std::string origin = GetEnvironmentValue(kCrashOriginVariable);
    if (!origin.empty())
      table->SetKeyValue("Origin", origin);
  }
}

}  // namespace crash_reporter
