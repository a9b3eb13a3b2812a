#ifndef DESKTOP_WINDOWS_INSTALLER_RUNNER_MAIN_PROCESS_INSTALLER_RUNNER_IMPL_H_
#define DESKTOP_WINDOWS_INSTALLER_RUNNER_MAIN_PROCESS_INSTALLER_RUNNER_IMPL_H_

#include <stdint.h>
#include <windows.h>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/memory/weak_ptr.h"
#include "base/observer_list.h"
#include "base/pickle.h"
#include "base/process/process.h"
#include "base/timer/timer.h"
#include "base/win/object_watcher.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/ipc/ipc_receiver.h"
#include "desktop/windows/installer/runner/main_process_installer_runner.h"

namespace installer {

class InstallerObserver;
class InstallerProgressNotifier;
class Settings;

// The front end's runner: holds the install folder's installer mutex for
// the run, reads the backend's messages from the folder's mailslot and
// launches the backend, which inherits the mutex and a handle of this
// process. Main thread only; the messages and the backend's end arrive as
// tasks of the thread's message loop.
class MainProcessInstallerRunnerImpl
    : public MainProcessInstallerRunner,
      public base::win::ObjectWatcher::Delegate,
      public IpcReceiver::Delegate {
 public:
  // |notifier| gets the progress events and outlives the runner.
  explicit MainProcessInstallerRunnerImpl(InstallerProgressNotifier* notifier);
  ~MainProcessInstallerRunnerImpl() override;

  // MainProcessInstallerRunner:
  int Start(Settings* settings) override;
  void SetPaths(const base::FilePath& package_location,
                const base::FilePath& assistant_installer) override;
  void Stop() override;
  void OnPackageReady() override;
  void AddObserver(InstallerObserver* observer) override;
  void RemoveObserver(InstallerObserver* observer) override;

  // base::win::ObjectWatcher::Delegate: the backend has ended.
  void OnObjectSignaled(HANDLE object) override;

  // IpcReceiver::Delegate:
  void OnMessageReceived(const base::Pickle& message) override;

 private:
  // Everything after validation; the failures set the last-error record.
  int StartBackend();
  // Writes the end marker into the mailslot; false when it can't.
  bool WriteEndMarker();
  bool IsEndMarker(const base::Pickle& message) const;
  // Tells the observers that the backend has ended.
  void ReportBackendEnd();

  InstallerProgressNotifier* const notifier_;
  IpcReceiver receiver_;
  base::FilePath package_location_;
  base::FilePath assistant_installer_;
  base::Process backend_process_;
  base::win::ScopedHandle mutex_;
  base::win::ObjectWatcher watcher_;
  base::win::ScopedHandle package_ready_event_;
  base::win::ScopedHandle interrupted_event_;
  // Null when no run is under way; a started backend without settings is
  // a stopped run still ending.
  Settings* settings_ = nullptr;
  bool package_available_ = false;
  bool backend_started_ = false;
  // The receiver is connected and not closed yet.
  bool receiving_ = false;
  // The backend's end as its exit code tells, until it is reported.
  int backend_result_ = 0;
  // Tells this runner's end marker from one another process wrote.
  uint64_t end_marker_token_ = 0;
  // Reports the backend's end should the end marker never come back.
  base::OneShotTimer end_marker_timer_;
  base::ObserverList<InstallerObserver> observers_;
  // An observer may destroy the runner from the backend's end.
  base::WeakPtrFactory<MainProcessInstallerRunnerImpl> weak_factory_{this};

  DISALLOW_COPY_AND_ASSIGN(MainProcessInstallerRunnerImpl);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_RUNNER_MAIN_PROCESS_INSTALLER_RUNNER_IMPL_H_
