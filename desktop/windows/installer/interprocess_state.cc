#include "desktop/windows/installer/interprocess_state.h"

#include "base/command_line.h"
#include "desktop/windows/installer/common/tracking_data_dictionary.h"
#include "desktop/windows/installer/interprocess_state_impl.h"

namespace installer {

InterprocessState* GetInterprocessState() {
  // Never destroyed: child processes are launched until the very end.
  static InterprocessState* state =
      new InterprocessStateImpl(std::make_unique<TrackingDataDictionary>(),
                                base::CommandLine::ForCurrentProcess());
  return state;
}

bool IsAutoupdateRun() {
  return GetInterprocessState()->IsAutoupdate();
}

bool IsSilentRun() {
  return GetInterprocessState()->IsSilent();
}

bool IsUninstallRun() {
  return GetInterprocessState()->IsUninstall();
}

std::string GetSessionGuid() {
  return GetInterprocessState()->GetSessionGuid();
}

TrackingDataDictionary* GetServerTrackingData() {
  return GetInterprocessState()->GetTrackingData();
}

}  // namespace installer
