#include "crash/crash_reporter_process.h"

namespace crash_reporter {
int RunCrashReporterServer() { return -1; }
}  // namespace crash_reporter
