#ifndef DESKTOP_WINDOWS_INSTALLER_UTILS_DISPLAY_SCALES_H_
#define DESKTOP_WINDOWS_INSTALLER_UTILS_DISPLAY_SCALES_H_

#include <set>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/strings/string16.h"

namespace installer {

// The ids of the display scales in use on this machine's monitors (0 for
// 100 %, 1 for 125 %, 2 for 150 %, 3 for 200 %, 4 for 250 %).
std::set<int> GetMonitorScaleIds();
// The id of the supported scale nearest to |scale| (the smaller one on a
// tie).
int ScaleToScaleId(double scale);
// The resource paks a minimal package needs for |language| and the scales
// |scale_ids|, as relative paths.
std::vector<std::string> GetMinimalPackagePaks(const base::string16& language,
                                               const std::set<int>& scale_ids);
// The downloadable resource files missing from |folder|, in table order.
std::vector<std::string> ListMissingDownloadableResources(
    const base::FilePath& folder);

namespace internal {

// The scale ids of monitors whose horizontal DPIs are |dpis| (96 is 100 %).
std::set<int> ScaleIdsForDpis(const std::vector<double>& dpis);

}  // namespace internal

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UTILS_DISPLAY_SCALES_H_
