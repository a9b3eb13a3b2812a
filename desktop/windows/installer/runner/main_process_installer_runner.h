#ifndef DESKTOP_WINDOWS_INSTALLER_RUNNER_MAIN_PROCESS_INSTALLER_RUNNER_H_
#define DESKTOP_WINDOWS_INSTALLER_RUNNER_MAIN_PROCESS_INSTALLER_RUNNER_H_

#include "base/files/file_path.h"

namespace installer {

class InstallerObserver;
class Settings;

// The front end's handle on the backend process: the controllers give it
// complete settings and hear the backend's events through its observers.
class MainProcessInstallerRunner {
 public:
  virtual ~MainProcessInstallerRunner() = default;

  // Takes the folder's installer mutex, opens the mailslot, creates the
  // events and launches the backend. 0 on success, else an InstallerResult
  // that the thread's last-error record also holds.
  virtual int Start(Settings* settings) = 0;
  // |package_location|: the package folder (or its prefix while it is being
  // fetched); |assistant_installer|: the assistant component's installer, or
  // empty.
  virtual void SetPaths(const base::FilePath& package_location,
                        const base::FilePath& assistant_installer) = 0;
  // Interrupts a running backend and lets go of everything Start took.
  virtual void Stop() = 0;
  // The package is complete; only the first call counts.
  virtual void OnPackageReady() = 0;
  virtual void AddObserver(InstallerObserver* observer) = 0;
  virtual void RemoveObserver(InstallerObserver* observer) = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_RUNNER_MAIN_PROCESS_INSTALLER_RUNNER_H_
