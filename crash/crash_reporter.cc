#include "crash/crash_reporter.h"

#include <windows.h>

#include <stdio.h>

#include "base/macros.h"

namespace crash_reporter {

namespace {

// Windows 7 SP1 (and Vista with an update) swallow exceptions thrown through
// window procedures unless this bit is cleared.
constexpr DWORD kProcessCallbackFilterEnabled = 0x1;

using GetPolicyFunction = BOOL(WINAPI*)(LPDWORD);
using SetPolicyFunction = BOOL(WINAPI*)(DWORD);

}  // namespace

const char kCrashReporterParentIdSwitch[] = "crash-reporter-parent-id";
const char kCrashReporterPidSwitch[] = "crash-reporter-pid";
const char kCrashReporterExceptionInfoSwitch[] = "crash-reporter-exception-info";
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

void DisableCallbackExceptionFilter() {
  // kernel32 is mapped into every process; looking it up loads nothing.
  HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  if (!kernel32)
    return;
  auto get_policy = reinterpret_cast<GetPolicyFunction>(
      ::GetProcAddress(kernel32, "GetProcessUserModeExceptionPolicy"));
  auto set_policy = reinterpret_cast<SetPolicyFunction>(
      ::GetProcAddress(kernel32, "SetProcessUserModeExceptionPolicy"));
  DWORD flags = 0;
  if (get_policy && set_policy && get_policy(&flags))
    set_policy(flags & ~kProcessCallbackFilterEnabled);
}

bool EnsureCrashReporterProcess() {
  // No reporter child can be started yet.
  return false;
}

void InstallOutOfProcessCrashHandler() {}

void SetInitialCrashKeys() {}

CrashReporterClient::~CrashReporterClient() = default;
bool CrashReporterClient::IsBrowserProcessType(const base::string16& t) { return t == L"browser"; }
void CrashReporterClient::GetProductInfo(const base::FilePath&, base::string16*, base::string16*, base::string16*, base::string16*) {}
bool CrashReporterClient::GetDumpFolder(base::FilePath*) { return false; }
bool CrashReporterClient::GetCountersPath(base::FilePath*) { return false; }
bool CrashReporterClient::ReportsWithoutConsent() { return true; }
bool CrashReporterClient::IsEnabled() { return false; }
void InstallerCrashReporterClient::GetProductInfo(const base::FilePath&, base::string16*, base::string16*, base::string16*, base::string16*) {}
bool InstallerCrashReporterClient::GetDumpFolder(base::FilePath*) { return false; }
bool InstallerCrashReporterClient::GetCountersPath(base::FilePath*) { return false; }
bool InstallerCrashReporterClient::ReportsWithoutConsent() { return false; }
bool InstallerCrashReporterClient::IsEnabled() { return enabled_; }

// static
InstallerCrashReporterClient* InstallerCrashReporterClient::GetInstance() {
  static InstallerCrashReporterClient* const instance =
      new InstallerCrashReporterClient();
  return instance;
}

}  // namespace crash_reporter
