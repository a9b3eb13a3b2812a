#include <windows.h>

#include "gtest/gtest.h"

int main(int argc, char** argv) {
  // A crashing test must end its process, not wait on an error dialog.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
