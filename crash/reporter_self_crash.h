#ifndef CRASH_REPORTER_SELF_CRASH_H_
#define CRASH_REPORTER_SELF_CRASH_H_

#include <windows.h>

#include "base/time/time.h"

// The crash reporter cannot send its own crashes to itself. A reporter that
// crashes starts a fresh copy of the installer that reads the crash out of
// its memory, writes a small dump and uploads it (at most once in a few
// days), and then lets the crashed reporter end.
namespace crash_reporter {

// Reports are sent no more often than this.
constexpr int kSelfCrashReportIntervalDays = 3;
// How long a crashed reporter waits for the copy to read its memory.
constexpr DWORD kSelfCrashWaitMs = 20000;

// The unhandled-exception filter and the runtime's invalid-parameter and
// pure-call handlers of a reporter process; once per process.
void InstallInProcessExceptionHandlers();

// Gets the command line of the copy ready; the handlers report nothing
// before this.
void PrepareSelfCrashLaunch();
// Starts the copy and waits until it has read the crash (at most
// kSelfCrashWaitMs).
void LaunchSelfCrashReporter();
// Tells the crashed reporter |process_id| that it may end.
void SignalSelfCrashHandled(DWORD process_id);

// The copy's work: `crash-reporter-parent-id` names the crashed reporter,
// `crash-reporter-exception-info` the address of its exception record.
void RunCrashReporterWithExceptionInfo();

// Whole days since the last reported reporter crash (0 days stored when
// none was); false when that time lies ahead or the registry fails.
bool GetDaysSinceLastReporterCrash(int64_t* days);
void StoreLastReporterCrash(const SYSTEMTIME& now);

}  // namespace crash_reporter

#endif  // CRASH_REPORTER_SELF_CRASH_H_
