#ifndef CRASH_CRASH_REPORTER_H_
#define CRASH_CRASH_REPORTER_H_

#include "base/macros.h"

// Crash reporting of the installer processes.
//
// The reporter child, its exception handler and the upload come with the
// crash-reporting subsystem. Until then no reporter process exists: the
// set-up calls do nothing, EnsureCrashReporterProcess reports that there is
// no reporter, and the reporter's process id is 0.
namespace crash_reporter {

// The reporter child's own exception handlers.
void InstallInProcessExceptionHandlers();
// The reporter child's work with the switch `crash-reporter-exception-info`.
void RunCrashReporterWithExceptionInfo();
// The reporter child's server; returns when the parent process ends.
void RunCrashReporterServer();

// Clears the process's callback exception policy bit, so that exceptions in
// window callbacks reach the crash handler instead of being swallowed.
void DisableCallbackExceptionFilter();
// True when a reporter process exists (given by `crash-reporter-pid` or
// started now).
bool EnsureCrashReporterProcess();
void InstallOutOfProcessCrashHandler();
void SetInitialCrashKeys();

class InstallerCrashReporterClient {
 public:
  static InstallerCrashReporterClient* GetInstance();

  // The reporter's process id for the `crash-reporter-pid` switch of child
  // processes; 0 when there is no reporter.
  long crash_reporter_pid() const { return crash_reporter_pid_; }

 private:
  InstallerCrashReporterClient() = default;

  long crash_reporter_pid_ = 0;

  DISALLOW_COPY_AND_ASSIGN(InstallerCrashReporterClient);
};

}  // namespace crash_reporter

#endif  // CRASH_CRASH_REPORTER_H_
