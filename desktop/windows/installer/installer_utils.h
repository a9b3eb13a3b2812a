#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_UTILS_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_UTILS_H_

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/strings/string16.h"

namespace installer {

class Settings;
struct LowSpaceVolume;

// Whether the running installer is the one inside an unpacked package: the
// browser executable and "files_list" lie beside it and it is not named
// "installer.exe". On an uninstall run the browser executable alone decides.
bool IsInsidePackage();

// Reads a package's "files_list": one relative path per line, empty lines
// skipped, blanks kept. The lines go to the front of |lines|. On failure the
// thread's last-error record says so.
bool ReadFilesList(const base::FilePath& path, std::vector<std::string>* lines);

// The volumes short of space as the user reads them: one localized
// "drive <volume> (<MB> MB needed)" per volume, joined by ", ".
base::string16 FormatDriveSpaceList(const std::vector<LowSpaceVolume>& volumes);

// The last check before an installation starts: true once the settings'
// folder was examined without a problem and an operation chosen; otherwise
// false, with the thread's last-error record telling why for a folder
// problem.
bool ValidateSettings(Settings* settings);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_UTILS_H_
