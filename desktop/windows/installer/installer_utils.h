#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_UTILS_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_UTILS_H_

#include <string>
#include <vector>

#include "base/files/file_path.h"

namespace installer {

// Whether the running installer is the one inside an unpacked package: the
// browser executable and "files_list" lie beside it and it is not named
// "installer.exe". On an uninstall run the browser executable alone decides.
bool IsInsidePackage();

// Reads a package's "files_list": one relative path per line, empty lines
// skipped, blanks kept. The lines go to the front of |lines|. On failure the
// thread's last-error record says so.
bool ReadFilesList(const base::FilePath& path, std::vector<std::string>* lines);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_UTILS_H_
