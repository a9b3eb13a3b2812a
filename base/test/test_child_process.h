#ifndef BASE_TEST_TEST_CHILD_PROCESS_H_
#define BASE_TEST_TEST_CHILD_PROCESS_H_

#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/time/time.h"
#include "gtest/gtest.h"

namespace base {

class CommandLine;

// Helper processes of tests. On a loaded machine the system now and then
// refuses to start a process, or its loader gives up before the program's
// own code runs; both are reported with the command line and the system's
// reason, and the start is tried once more. A second failure fails the
// test.

// Starts |command|.
[[nodiscard]] testing::AssertionResult StartTestChild(
    const CommandLine& command,
    const LaunchOptions& options,
    Process* child);

// Waits for |child| to end, at most |limit|; a child still running then is
// ended and the failure names |what|.
[[nodiscard]] testing::AssertionResult WaitForTestChild(
    Process* child,
    const char* what,
    int* exit_code,
    TimeDelta limit = TimeDelta::FromMinutes(1));

// Starts |command| and waits for it to end as above. A child whose loader
// failed never ran, so it is started once more.
[[nodiscard]] testing::AssertionResult RunTestChild(
    const CommandLine& command,
    const LaunchOptions& options,
    const char* what,
    int* exit_code);

}  // namespace base

#endif  // BASE_TEST_TEST_CHILD_PROCESS_H_
