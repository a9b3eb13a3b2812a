#include "crash/reporter_self_crash.h"

namespace crash_reporter {
void InstallInProcessExceptionHandlers() {}
void RunCrashReporterWithExceptionInfo() {}
}  // namespace crash_reporter
