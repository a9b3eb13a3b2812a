#include "desktop/windows/installer/utils/display_scales.h"

namespace installer {

// Placeholder bodies until the display scales land.
std::set<int> GetMonitorScaleIds() {
  return {0};
}

int ScaleToScaleId(double) {
  return 0;
}

std::vector<std::string> GetMinimalPackagePaks(const base::string16&,
                                               const std::set<int>&) {
  return {};
}

std::vector<std::string> ListMissingDownloadableResources(
    const base::FilePath&) {
  return {};
}

}  // namespace installer
