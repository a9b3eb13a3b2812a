#include "crash/reporter_self_crash.h"

namespace crash_reporter {
void InstallInProcessExceptionHandlers() {}
void PrepareSelfCrashLaunch() {}
void RunCrashReporterWithExceptionInfo() {}
}  // namespace crash_reporter
