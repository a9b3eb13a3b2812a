#include <stdarg.h>
#include <stdio.h>

#include <string>

#include "base/command_line.h"
#include "desktop/windows/installer/common/product_constants.h"

namespace installer {
namespace {

// The print-only roles and the console help write through this.
void PrintToStdout(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vfprintf(stdout, format, args);
  va_end(args);
  fflush(stdout);
}

// Print-only roles, in the order they are tested: the first present one
// answers before anything else is set up.
struct PrintOnlyRole {
  const char* switch_name;
  std::string (*value)();
};

// The process exit codes RunInstaller returns (the host passes them on).
enum ExitCode : int {
  kExitSuccess = 0,
  // Started for a role this build does not have.
  kExitRoleNotAvailable = 101,
};

constexpr PrintOnlyRole kPrintOnlyRoles[] = {
    {"version", &GetVersionString},
    {"internal-version", &GetInternalVersionString},
    {"stream", &GetChannelName},
};

}  // namespace
}  // namespace installer

extern "C" int RunInstaller() {
  using installer::kPrintOnlyRoles;
  base::CommandLine::Init();
  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();
  for (const auto& role : kPrintOnlyRoles) {
    if (command_line.HasSwitch(role.switch_name)) {
      installer::PrintToStdout("%s", role.value().c_str());
      return installer::kExitSuccess;
    }
  }

  // The other roles are not part of this library yet; say so rather than
  // pretend to have done anything.
  fprintf(stderr,
          "This installer role is not available in this build; only "
          "--version, --internal-version and --stream are.\n");
  return installer::kExitRoleNotAvailable;
}
