// An installer process as far as crash reporting goes, for the reporter's
// tests: it takes part in crash reporting exactly as the installer's entry
// point does, with a product of its own, and then does what it is told.
//
//   kavor_crash_host.exe [--counters-file=PATH] [--flags-file=PATH]
//       [--set-key=NAME=VALUE] [--action=ACTION]
//
// With `crash-reporter-parent-id` it is the reporter (the first process
// starts it with this same command line). Otherwise it starts or joins a
// reporter, prints "reporter PID" on standard output, and then, by ACTION:
//   exit (default)     ends with 0
//   crash              writes to a page it may not write
//   wait-for=PATH      ends once PATH exists (so the test decides when the
//                      reporter's parent has gone)
//   crash-two-threads  two threads write to such a page at once
//   crash-child        starts itself with `crash-reporter-pid` and
//                      --action=crash, waits for it, prints
//                      "child-exit CODE" and ends with 0
//   crash-child-two-threads   the same with --action=crash-two-threads
// The file switches stand in for the folders the reporter's files would be
// in: the product has none of its own for them.

#include <windows.h>

#include <stdio.h>

#include <string>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/debug/crash_logging.h"
#include "crash/crash_generation/crash_generation_client.h"
#include "crash/crash_product_info.h"
#include "crash/crash_reporter.h"
#include "crash/crash_reporter_process.h"
#include "crash/test/test_product.h"

namespace {

crash_reporter::CrashProductInfo TestProduct() {
  crash_reporter::CrashProductInfo info =
      crash_reporter::test::TestCrashProduct();
  info.company_registry_key = L"Software\\Kavor Crash Host Test";
  info.upload_url = "http://127.0.0.1:1/no-crash-service";
  return info;
}

void OverridePath(const base::CommandLine& command_line,
                  const char* name,
                  int key) {
  const base::FilePath path = command_line.GetSwitchValuePath(name);
  if (!path.empty())
    (void)base::PathService::OverrideAndCreateIfNeeded(key, path, true, false);
}

void Crash() {
  volatile int* nowhere = nullptr;
  *nowhere = 1;
}

DWORD WINAPI CrashWhenSignalled(void* event) {
  ::WaitForSingleObject(event, INFINITE);
  Crash();
  return 0;
}

// Two threads crash at the same moment: only one dump may come of it.
int CrashTwoThreads() {
  HANDLE go = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE threads[2];
  for (HANDLE& thread : threads)
    thread = ::CreateThread(nullptr, 0, &CrashWhenSignalled, go, 0, nullptr);
  ::SetEvent(go);
  ::WaitForMultipleObjects(2, threads, TRUE, INFINITE);
  return 4;
}

int CrashChild(const base::CommandLine& command_line,
               const std::string& child_action) {
  base::CommandLine child(command_line.GetProgram());
  child.AppendSwitchASCII(
      crash_reporter::kCrashReporterPidSwitch,
      base::IntToString(static_cast<int>(
          crash_reporter::InstallerCrashReporterClient::GetInstance()
              ->crash_reporter_pid())));
  child.AppendSwitchASCII("action", child_action);
  for (const char* name : {"counters-file", "flags-file", "set-key"}) {
    if (command_line.HasSwitch(name))
      child.AppendSwitchNative(name, command_line.GetSwitchValueNative(name));
  }
  base::Process process = base::LaunchProcess(child, base::LaunchOptions());
  int exit_code = -1;
  if (!process.IsValid() || !process.WaitForExit(&exit_code))
    return 3;
  printf("child-exit 0x%08x\n", static_cast<unsigned>(exit_code));
  fflush(stdout);
  return 0;
}

}  // namespace

int main() {
  base::CommandLine::Init();
  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();
  crash_reporter::SetCrashProductInfo(TestProduct());
  // On a loaded machine a reporter may take longer than the usual wait to
  // listen, and a dump longer than the usual time: the tests wait for the
  // outcome, not for the time.
  crash_reporter::SetCrashReporterStartTimeoutForTesting(60000);
  crash_reporter::CrashGenerationClient::SetDumpWaitForTesting(60000);
  OverridePath(command_line, "counters-file",
               crash_reporter::kCrashCountersFileKey);
  OverridePath(command_line, "flags-file", crash_reporter::kCrashFlagsFileKey);

  if (command_line.HasSwitch(crash_reporter::kCrashReporterParentIdSwitch)) {
    crash_reporter::RunCrashReporterChild();
    return 0;
  }
  crash_reporter::JoinCrashReporting();
  printf("reporter %ld\n",
         crash_reporter::InstallerCrashReporterClient::GetInstance()
             ->crash_reporter_pid());
  fflush(stdout);

  const std::string key = command_line.GetSwitchValueASCII("set-key");
  const size_t equals = key.find('=');
  if (equals != std::string::npos) {
    base::debug::SetCrashKeyString(
        base::debug::AllocateCrashKeyString(key.substr(0, equals).c_str(),
                                            base::debug::kCrashKeySize64),
        key.substr(equals + 1));
  }

  const std::string action = command_line.GetSwitchValueASCII("action");
  if (action == "crash") {
    Crash();
    return 4;
  }
  if (action == "crash-two-threads")
    return CrashTwoThreads();
  if (action == "crash-child")
    return CrashChild(command_line, "crash");
  if (action == "crash-child-two-threads")
    return CrashChild(command_line, "crash-two-threads");
  const base::FilePath wait_for = command_line.GetSwitchValuePath("wait-for");
  if (!wait_for.empty()) {
    // Bounded, so that a broken test never leaves the process behind.
    for (int i = 0; i < 6000 && !base::PathExists(wait_for); ++i)
      ::Sleep(10);
  }
  return 0;
}
