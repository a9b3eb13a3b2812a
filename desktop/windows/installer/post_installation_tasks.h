#ifndef DESKTOP_WINDOWS_INSTALLER_POST_INSTALLATION_TASKS_H_
#define DESKTOP_WINDOWS_INSTALLER_POST_INSTALLATION_TASKS_H_

#include "base/files/file_path.h"
#include "base/strings/string16.h"

namespace base {
class CommandLine;
}

namespace installer {

struct InstallationStatus;

// The work after an installation that belongs to the user's own context.
// None of it fails the installation: what cannot be done is logged.

// Starts the post-elevation part of the installer of each component that
// |status| records, with `post-elevated-install-tasks` and the component's
// folder; none is waited for.
void LaunchComponentPostElevationTasks(const InstallationStatus& status);

// Adjusts the browser profile at |profile| to the installation in
// |target_folder|: the interface language (only where the profile chose
// one), and unless |autoupdate| the statistics choice (left to the browser
// again) and the partner content the package brings in "resources".
void UpdateUserProfile(const base::FilePath& profile,
                       const base::string16& language,
                       const base::FilePath& target_folder,
                       bool autoupdate);

// Starts the browser's "launcher.exe" in |install_folder| with the import
// switches of |installer_command_line|, maximized unless |upgrade|, and
// waits for the launcher to exit.
void LaunchBrowser(const base::FilePath& install_folder,
                   const base::CommandLine& installer_command_line,
                   bool upgrade);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_POST_INSTALLATION_TASKS_H_
