#include <windows.h>

#include "base/command_line.h"
#include "base/test/handle_verifier_export.h"
#include "base/test/test_watchdog.h"
#include "gtest/gtest.h"

int main(int argc, char** argv) {
  // A crashing test must end its process, not wait on an error dialog.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  // Every test executable verifies its handles the way a host that exports
  // the verifier does.
  base::test::EnableHandleVerifierExport();
  testing::InitGoogleTest(&argc, argv);
  // Code under test reads the process command line as the library would.
  base::CommandLine::Init();
  // No single test comes near this; one that does is stuck.
  base::test::InstallTestWatchdog(120);
  return RUN_ALL_TESTS();
}
