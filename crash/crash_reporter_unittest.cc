#include "crash/crash_reporter.h"

#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

TEST(CrashReporterTest, ThereIsNoReporter) {
  DisableCallbackExceptionFilter();
  EXPECT_FALSE(EnsureCrashReporterProcess());
  InstallOutOfProcessCrashHandler();
  SetInitialCrashKeys();
  EXPECT_EQ(0,
            InstallerCrashReporterClient::GetInstance()->crash_reporter_pid());
}

}  // namespace
}  // namespace crash_reporter
