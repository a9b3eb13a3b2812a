#include "desktop/windows/installer/interprocess_state.h"

#include "base/command_line.h"
#include "base/guid.h"
#include "desktop/windows/installer/common/tracking_data_dictionary.h"

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

InterprocessState* GetInterprocessState() {
  return nullptr;  // placeholder until the full state lands
}

TrackingDataDictionary* GetServerTrackingData() {
  static TrackingDataDictionary* data = new TrackingDataDictionary();
  return data;
}

}  // namespace installer
