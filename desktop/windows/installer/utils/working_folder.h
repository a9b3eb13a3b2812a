#ifndef DESKTOP_WINDOWS_INSTALLER_UTILS_WORKING_FOLDER_H_
#define DESKTOP_WINDOWS_INSTALLER_UTILS_WORKING_FOLDER_H_

#include <functional>
#include <string>
#include <vector>

#include "base/files/file_path.h"

namespace installer {

// Tests whether |base|\|name| can serve as the installer's working folder
// and leaves it in place when it can. The folder is created when missing.
// With a non-empty |executable| the folder must also be able to run a copy
// of it (some machines forbid running programs from temporary folders): the
// copy is started with "--version", waited for and deleted; when copying or
// starting fails the folder is removed again (only if empty) and the test
// fails. |folder| receives the folder on success.
bool ProbeWorkingFolder(const base::FilePath& base,
                        const std::wstring& name,
                        const base::FilePath& executable,
                        base::FilePath* folder);

// Gives one candidate base folder; false when it is not available. Asked
// only when the bases before it failed, since asking may create the folder.
using BaseFolderGetter = std::function<bool(base::FilePath* base)>;

// The candidate bases of the download folder, in the order they are tried:
// the temporary folder, the user's Downloads folder, the user's home folder
// and the folder of |executable|.
std::vector<BaseFolderGetter> GetDownloadFolderBases(
    const base::FilePath& executable);

// The first of |bases| whose |name| subfolder passes ProbeWorkingFolder.
bool FindWorkingFolder(const std::vector<BaseFolderGetter>& bases,
                       const std::wstring& name,
                       const base::FilePath& executable,
                       base::FilePath* folder);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UTILS_WORKING_FOLDER_H_
