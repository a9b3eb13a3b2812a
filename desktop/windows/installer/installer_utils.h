#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_UTILS_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_UTILS_H_

#include <vector>

#include "base/strings/string16.h"

namespace installer {

class Settings;
struct LowSpaceVolume;

// Whether the running installer is the one inside an unpacked package: the
// browser executable and "files_list" lie beside it and it is not named
// "installer.exe". On an uninstall run the browser executable alone decides.
//
// So far only this check; reading files lists, the drive-space list and the
// settings check join with the settings.
bool IsInsidePackage();

// The volumes short of space as the user reads them: one localized
// "drive <volume> (<MB> MB needed)" per volume, joined by ", ".
base::string16 FormatDriveSpaceList(const std::vector<LowSpaceVolume>& volumes);

// The last check before an installation starts: false, with the thread's
// last-error record telling why, when the settings' folder has a problem.
bool ValidateSettings(Settings* settings);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_UTILS_H_
