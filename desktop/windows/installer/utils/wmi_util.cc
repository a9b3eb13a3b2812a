#include "desktop/windows/installer/utils/wmi_util.h"

namespace installer {

// Placeholder bodies until the WMI utilities land.
bool ConnectToWmi(bool, IWbemServices**) {
  return false;
}

bool CreateWmiMethodParams(IWbemServices*,
                           const base::string16&,
                           const base::string16&,
                           IWbemClassObject**) {
  return false;
}

bool LaunchProcessThroughWmi(const base::string16&, int*) {
  return false;
}

std::string ArchitectureToString(int) {
  return std::string();
}

std::string ArchitectureToLowerCaseString(int) {
  return std::string();
}

}  // namespace installer
