#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_H_

#include <windows.h>
#include <stdint.h>

#include <memory>
#include <string>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/memory/weak_ptr.h"
#include "base/observer_list.h"
#include "base/strings/string16.h"
#include "base/win/object_watcher.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/common/installer_result.h"
#include "desktop/windows/installer/installer_step_context_impl.h"
#include "desktop/windows/installer/package_unpacker.h"
#include "desktop/windows/installer/steps/installer_step_scheduler.h"

namespace base {
class CommandLine;
}

namespace installer {

struct InstallationStatus;
class InstallationStatusReader;
class InstallerObserver;
class SavedSecurityDescriptor;
class Settings;

// Makes a reader of "installation_status.json" when the run needs one.
using InstallationStatusReaderFactory =
    base::RepeatingCallback<std::unique_ptr<InstallationStatusReader>()>;

// The hub of one backend run. It decides how the run proceeds (install in
// place through the step list, wait for the front end's package, unpack the
// package and hand over to the package's own installer, or only the tasks
// after an elevated run) and reports to its observers: exactly one outcome
// per run, OnError followed by OnInstallationCancelled, or OnSuccess.
//
// Everything the run changes by itself (the folders it creates, the last
// install path value, the browser executable an uninstall moves aside) goes
// into the run's transaction: rolled back on a failure or a cancel,
// committed when this object is destroyed.
class Installer : public InstallerStepContextImpl,
                  public base::win::ObjectWatcher::Delegate,
                  public InstallerStepSchedulerDelegate,
                  public PackageUnpackerDelegate {
 public:
  // |interprocess_state| and |command_line| null mean the process-wide ones;
  // the command line is the run's own, which the run reads its switches
  // from and where the chosen installation subfolder is written.
  Installer(std::unique_ptr<InstallerStepScheduler> scheduler,
            InstallationStatusReaderFactory status_reader_factory,
            InterprocessState* interprocess_state = nullptr,
            base::CommandLine* command_line = nullptr);
  ~Installer() override;

  void AddObserver(InstallerObserver* observer);
  void RemoveObserver(InstallerObserver* observer);

  // Posts the run body to the current thread. The settings must be complete
  // (their folder examined) and are read-only from now on. Returns whether
  // the post succeeded.
  bool Run(Settings* settings);

  // The front end's process (not owned; it outlives the run): the run stops
  // between the package's files when that process has ended, as when it
  // interrupts the run.
  void SetFrontEndProcess(HANDLE process);

  // RESULT_NOT_FINISHED until the run reports its outcome.
  InstallerResult result() const { return result_; }

  // Whether the run ended because the front end interrupted it or ended
  // after this process took the package: such a front end does not wait
  // for this process to let go of the package folder.
  bool interrupted_with_package() const {
    return interrupted_ && package_taken_;
  }

  // InstallerStepContext:
  void OnImportantEvent(const std::string& name) override;

  // base::win::ObjectWatcher::Delegate:
  void OnObjectSignaled(HANDLE object) override;

  // InstallerStepSchedulerDelegate:
  void OnStepStarting(const std::string& name) override;
  void OnStepFinished(const std::string& name,
                      int attempt,
                      int steps_done) override;
  void OnAllStepsDone(bool success) override;

  // PackageUnpackerDelegate:
  bool ShouldStopUnpacking() override;
  void OnTotalSteps(int count) override;
  void OnStepFinished(const std::string& name, int count) override;

 private:
  // What to do once the front end's package is ready.
  enum PackageOperation : uint32_t {
    PACKAGE_OPERATION_NORMAL = 0,
    PACKAGE_OPERATION_POST_ELEVATION = 1,
  };

  void RunBody();
  // The part of the run body from the folder's write access on.
  void RunWithFolder(const base::FilePath& folder,
                     bool may_write,
                     bool is_admin);
  // The run once the package is there: the hand-over to the package's
  // installer, or the in-place run.
  void RunWithPackage();
  // Whether this process unpacks the package and hands the run over to the
  // installer it holds.
  bool HandsOverToPackage();
  bool IsFixingResources();
  // Without write access to |folder|: true when the run may go on, false
  // after the outcome was reported.
  bool ObtainWriteAccess(const base::FilePath& folder, bool is_admin);
  void RunInPlace();
  // Starts the scheduled steps; none runs once the run released its state.
  void RunSteps();
  // The installation subfolder as the run knows it now: the recorded one
  // for an uninstall or a repair, else the `install-subfolder` value.
  base::FilePath ComputeInstallationSubfolder();
  void SaveLastInstallPath();
  void ApplyInstallerPrefsExperiments();

  void WaitForPackage(PackageOperation operation);
  void OnPackageReady();
  // Hands the run over to the package's installer and waits for it; true
  // only when it reported success. False with the last-error record set.
  bool RunInstallerFromPackage(bool post_elevation);
  // The package's installer ended without reporting: logs what it may have
  // done in |folder| and left, which the rollback of this run does not undo.
  void LogWhatHandOverMayHaveLeft(const base::FilePath& folder);
  // Tells the backend that handed the run over to this process that it
  // succeeded.
  void ConfirmHandedOverSuccess();

  // Hands the whole run to an elevated copy of this backend and then does,
  // in this process, what belongs to the user. False with the last-error
  // record set.
  bool RunElevated();
  // The status the elevated copy wrote into the install folder; null when
  // there is none or it can't be read.
  std::unique_ptr<InstallationStatus> ReadStatusOfElevatedRun();
  // Has an elevated permission process grant this user access to |folder|;
  // true once it says so. A temporary grant is taken back when the run
  // releases its resources. False with the last-error record set.
  bool GrantFolderPermissionElevated(const base::FilePath& folder,
                                     bool permanent);
  void RunPostElevationTasks();
  void FinalizeInstallation();

  void Broadcast(void (InstallerObserver::*event)());
  void ReportError(InstallerResult code,
                   const base::string16& path,
                   const std::string& message);
  void ReportLastError();
  // A failed unpacking or hand-over: the last error, or the cancel when the
  // front end interrupted the run meanwhile.
  void ReportHandOverFailure();
  void ReportSuccess();
  // The front end interrupted the run or has ended.
  bool IsRunInterrupted();
  // Cancels the run for the front end's interruption.
  void CancelInterrupted();
  void Cancel();
  void ReleaseResources();

  std::unique_ptr<InstallerStepScheduler> scheduler_;
  InstallationStatusReaderFactory status_reader_factory_;
  base::CommandLine* const command_line_;
  // Present while this process holds a grant on the install folder that it
  // made itself; put back when the run releases its resources.
  std::unique_ptr<SavedSecurityDescriptor> saved_folder_security_;
  base::ObserverList<InstallerObserver> observers_;
  bool running_ = false;
  bool interrupted_ = false;
  bool package_taken_ = false;
  InstallerResult result_ = RESULT_NOT_FINISHED;
  base::win::ScopedHandle package_ready_event_;
  base::win::ScopedHandle interrupted_event_;
  HANDLE front_end_process_ = nullptr;
  base::win::ObjectWatcher package_ready_watcher_;
  base::win::ObjectWatcher interrupted_watcher_;
  PackageOperation package_operation_ = PACKAGE_OPERATION_NORMAL;
  std::unique_ptr<PackageUnpacker> unpacker_;
  // Invalidated when the run releases its state: guards the steps' tasks.
  base::WeakPtrFactory<Installer> steps_weak_factory_{this};
  base::WeakPtrFactory<Installer> weak_factory_{this};

  DISALLOW_COPY_AND_ASSIGN(Installer);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_H_
