#include "desktop/windows/installer/os_operations.h"

// Placeholder until the operating-system operations land.
namespace installer {
namespace {
OsOperations* g_testing_operations = nullptr;
}  // namespace

OsOperations* GetOsOperations() {
  return g_testing_operations;
}

void SetOsOperationsForTesting(OsOperations* operations) {
  g_testing_operations = operations;
}

}  // namespace installer
