#ifndef DESKTOP_WINDOWS_INSTALLER_RUNNER_BACKEND_PROCESS_INSTALLER_RUNNER_IMPL_H_
#define DESKTOP_WINDOWS_INSTALLER_RUNNER_BACKEND_PROCESS_INSTALLER_RUNNER_IMPL_H_

#include <windows.h>

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/run_loop.h"
#include "base/threading/simple_thread.h"
#include "base/win/object_watcher.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/common/installer_result.h"
#include "desktop/windows/installer/installer_observer.h"
#include "desktop/windows/installer/ipc/ipc_sender.h"
#include "desktop/windows/installer/settings.h"

namespace base {
class CommandLine;
}

namespace installer {

class Installer;

// Holds the install folder's installer mutex for this backend. The front
// end holds it while it runs; a backend outlives its front end when that
// one is killed or ends while the backend still rolls back, and then the
// mutex, abandoned, goes straight to this keeper's waiting thread, so that
// no other installer takes the folder before this backend has ended.
class InstallerMutexKeeper : public base::SimpleThread {
 public:
  InstallerMutexKeeper();
  ~InstallerMutexKeeper() override;

  // Starts waiting for the mutex of |folder|; false when its objects can't
  // be made.
  bool Begin(const base::FilePath& folder);
  // Lets go of the mutex, and stops waiting for it; idempotent.
  void End();

  // base::SimpleThread:
  void Run() override;

 private:
  base::win::ScopedHandle mutex_;
  base::win::ScopedHandle stop_event_;

  DISALLOW_COPY_AND_ASSIGN(InstallerMutexKeeper);
};

// The backend's value of `initial-proc-handle`: the front end's process
// handle written as hexadecimal bytes in memory order, 8 bytes (a 64-bit
// front end) or 4 (a 32-bit one, whose handle values are sign-extended).
// False for anything else.
bool ParseInitialProcessHandle(const std::string& text, HANDLE* handle);

// The spine of the backend process: watches the front end that launched it,
// runs the Installer once the settings are complete and turns every
// installer event into one message to the front end's mailslot.
class BackendProcessInstallerRunner {
 public:
  virtual ~BackendProcessInstallerRunner() = default;
  // Runs until the installer reports its outcome or the front end ends;
  // returns the installer's result, or the start-up failure.
  virtual InstallerResult Run(Settings* settings) = 0;
};

class BackendProcessInstallerRunnerImpl
    : public BackendProcessInstallerRunner,
      public SettingsObserver,
      public InstallerObserver,
      public base::win::ObjectWatcher::Delegate {
 public:
  BackendProcessInstallerRunnerImpl();
  ~BackendProcessInstallerRunnerImpl() override;

  // BackendProcessInstallerRunner:
  InstallerResult Run(Settings* settings) override;

  // SettingsObserver:
  void OnSettingsChanged() override {}
  void OnLanguageChanged() override {}
  void OnPathChanged() override;

  // InstallerObserver:
  void OnInstallFolderReady() override;
  void OnStartingNewMainProcess(bool elevated) override;
  void OnEnteringPhase(int phase) override;
  void OnReturnedToPreviousMainProcess() override;
  void OnTotalSteps(int total) override;
  void OnStepStarting(const std::string& name) override;
  void OnStepFinished(const std::string& name,
                      int attempt,
                      int finished_count) override;
  void OnImportantEvent(const std::string& name) override;
  void OnError(int code,
               const base::string16& path,
               const std::string& message) override;
  void OnSuccess() override;
  void OnInstallationCancelled() override;
  void OnBackendProcessTerminated(int result) override {}

  // base::win::ObjectWatcher::Delegate:
  void OnObjectSignaled(HANDLE object) override;

 private:
  // Takes the front end's process from the command line and watches it.
  InstallerResult WatchInitialProcess(const base::CommandLine& command_line);
  void Start();
  // At the end of the backend: when the front end has ended (waiting a
  // while for one that interrupted the run), removes the package folders
  // its session made.
  void RemovePackageFoldersOfEndedFrontEnd(bool interrupted);

  base::RunLoop run_loop_;
  // The front end; not valid when no process is watched.
  base::win::ScopedHandle initial_process_;
  base::win::ObjectWatcher initial_process_watcher_;
  InstallerMutexKeeper mutex_keeper_;
  IpcSender ipc_sender_;
  std::unique_ptr<Installer> installer_;
  Settings* settings_ = nullptr;
  // The installer refused to start: the run's result.
  InstallerResult start_failure_ = RESULT_SUCCESS;

  DISALLOW_COPY_AND_ASSIGN(BackendProcessInstallerRunnerImpl);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_RUNNER_BACKEND_PROCESS_INSTALLER_RUNNER_IMPL_H_
