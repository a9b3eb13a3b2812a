#include "desktop/windows/installer/interprocess_state.h"

#include "base/command_line.h"
#include "base/guid.h"

namespace installer {
namespace {

bool HasSwitch(const char* name) {
  return base::CommandLine::ForCurrentProcess()->HasSwitch(name);
}

}  // namespace

bool IsAutoupdateRun() {
  return HasSwitch("autoupdate");
}

bool IsSilentRun() {
  return HasSwitch("silent");
}

bool IsUninstallRun() {
  return HasSwitch("uninstall");
}

std::string GetSessionGuid() {
  static const std::string* guid = [] {
    std::string value =
        base::CommandLine::ForCurrentProcess()->GetSwitchValueASCII(
            "session-guid");
    return new std::string(value.empty() ? base::GenerateGUID() : value);
  }();
  return *guid;
}

}  // namespace installer
