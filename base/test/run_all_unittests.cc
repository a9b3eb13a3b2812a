#include <windows.h>

#include "base/test/handle_verifier_export.h"
#include "gtest/gtest.h"

int main(int argc, char** argv) {
  // A crashing test must end its process, not wait on an error dialog.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  // Every test executable verifies its handles the way a host that exports
  // the verifier does.
  base::test::EnableHandleVerifierExport();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
