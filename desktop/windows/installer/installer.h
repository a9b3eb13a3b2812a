#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_H_

#include <string>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/memory/weak_ptr.h"
#include "base/observer_list.h"
#include "base/strings/string16.h"
#include "base/win/object_watcher.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/common/installer_result.h"

namespace installer {

class InstallerObserver;
class Settings;

// The hub of one backend run: decides how the run proceeds and reports its
// events to the observers (the backend runner is one), exactly one outcome
// per run: OnError then OnInstallationCancelled, or OnSuccess.
//
// This build does not install yet. The run goes through the events of a
// run in their order and ends with an error that says so; like a real run
// it waits for the front end's package when told to and stops when the
// front end interrupts it. In order:
//   1. opens and watches the front end's
//   "KavorInstaller/InstallationInterrupted"
//      event of the install folder (global form); failing that, OnError
//      (RESULT_GENERAL_ERROR) and OnInstallationCancelled;
//   2. OnInstallFolderReady (the folder is neither created nor changed);
//   3. with the switch `wait-for-package`, waits for the front end's
//      "KavorInstaller/PackageReady" event (at once when it is already set);
//   4. OnEnteringPhase(7), OnTotalSteps(1), OnStepStarting and
//      OnStepFinished of one step, OnImportantEvent("file_copy_retry"),
//      OnStartingNewMainProcess(false), OnReturnedToPreviousMainProcess;
//   5. OnError(RESULT_GENERAL_ERROR, install folder, "Installing is not
//      available in this build of the installer") and
//      OnInstallationCancelled. It never reports success.
// The interrupted event firing before step 5 cancels the run: only
// OnInstallationCancelled, and the result stays RESULT_NOT_FINISHED.
class Installer : public base::win::ObjectWatcher::Delegate {
 public:
  Installer();
  ~Installer() override;

  void AddObserver(InstallerObserver* observer);
  void RemoveObserver(InstallerObserver* observer);

  // Posts the run body to the current thread; the settings must be
  // complete. Returns whether the post succeeded.
  bool Run(Settings* settings);

  // RESULT_NOT_FINISHED until the run reports its outcome.
  InstallerResult result() const { return result_; }

  // base::win::ObjectWatcher::Delegate:
  void OnObjectSignaled(HANDLE object) override;

 private:
  void RunBody(Settings* settings);
  // Opens the event |name| of the install folder and watches it with
  // |watcher| unless it is already set. False after reporting the error.
  bool OpenAndWatchEvent(const wchar_t* name,
                         const char* log_label,
                         const std::string& open_failure,
                         const std::string& watch_failure,
                         base::win::ScopedHandle* event,
                         base::win::ObjectWatcher* watcher,
                         bool* already_set);
  void ContinueAfterPackage();
  void ReportError(InstallerResult code,
                   const base::string16& path,
                   const std::string& message);
  void Cancel();
  void ReleaseResources();

  base::ObserverList<InstallerObserver> observers_;
  InstallerResult result_ = RESULT_NOT_FINISHED;
  bool running_ = false;
  base::FilePath install_folder_;
  base::win::ScopedHandle package_ready_event_;
  base::win::ScopedHandle interrupted_event_;
  base::win::ObjectWatcher package_ready_watcher_;
  base::win::ObjectWatcher interrupted_watcher_;
  base::WeakPtrFactory<Installer> weak_factory_{this};

  DISALLOW_COPY_AND_ASSIGN(Installer);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_H_
