#include "base/test/test_child_process.h"

#include <windows.h>

#include <string>

#include "base/command_line.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"

namespace base {

namespace {

// The exit code of a process whose loader could not set it up: the
// program's own code never ran.
constexpr DWORD kLoaderFailed = 0xC0000142;  // STATUS_DLL_INIT_FAILED

std::string Describe(const CommandLine& command) {
  return WideToUTF8(command.GetCommandLineString());
}

}  // namespace

testing::AssertionResult StartTestChild(const CommandLine& command,
                                        const LaunchOptions& options,
                                        Process* child) {
  std::string reasons;
  for (int attempt = 1; attempt <= 2; ++attempt) {
    *child = LaunchProcess(command, options);
    if (child->IsValid())
      return testing::AssertionSuccess();
    // The launcher has logged the command line and the reason.
    const DWORD error = ::GetLastError();
    reasons += " start " + std::to_string(attempt) + ": " +
               logging::SystemErrorCodeToString(error) + ";";
  }
  return testing::AssertionFailure()
         << "could not start " << Describe(command) << ":" << reasons;
}

testing::AssertionResult WaitForTestChild(Process* child,
                                          const char* what,
                                          int* exit_code,
                                          TimeDelta limit) {
  if (child->WaitForExitWithTimeout(limit, exit_code))
    return testing::AssertionSuccess();
  child->Terminate(1, true);
  return testing::AssertionFailure()
         << "gave up after " << limit.InSeconds() << " s waiting for "
         << what << " to end";
}

testing::AssertionResult RunTestChild(const CommandLine& command,
                                      const LaunchOptions& options,
                                      const char* what,
                                      int* exit_code) {
  for (int attempt = 1;; ++attempt) {
    Process child;
    testing::AssertionResult started =
        StartTestChild(command, options, &child);
    if (!started)
      return started;
    testing::AssertionResult ended =
        WaitForTestChild(&child, what, exit_code);
    if (!ended)
      return ended;
    if (static_cast<DWORD>(*exit_code) != kLoaderFailed || attempt == 2)
      return testing::AssertionSuccess();
    LOG(ERROR) << "The loader of " << Describe(command)
               << " failed (exit code 0x" << std::hex << *exit_code
               << "); starting it once more.";
  }
}

}  // namespace base
