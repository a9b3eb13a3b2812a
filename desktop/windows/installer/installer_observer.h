#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_OBSERVER_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_OBSERVER_H_

#include <string>

#include "base/strings/string16.h"

namespace installer {

// The events of one installer run. The backend's installer reports them to
// its observers; the backend runner turns each of the first ten into one
// mailslot message, and the front end's runner turns the message back into
// the same call on its own observers. The order of the operations is the
// order of the message types and must not change.
//
// Every operation does nothing by default: most observers want a few events.
class InstallerObserver {
 public:
  virtual ~InstallerObserver() = default;

  // The install folder exists (or was just created); sent before the
  // backend waits for the package or unpacks it.
  virtual void OnInstallFolderReady() {}
  // Another installer process is about to take over the run (an elevated
  // copy, or the package's own installer).
  virtual void OnStartingNewMainProcess(bool elevated) {}
  virtual void OnEnteringPhase(int phase) {}
  // The process that took over has ended.
  virtual void OnReturnedToPreviousMainProcess() {}
  virtual void OnTotalSteps(int total) {}
  virtual void OnStepStarting(const std::string& name) {}
  // |finished_count| counts the steps done so far, this one included.
  virtual void OnStepFinished(const std::string& name,
                              int attempt,
                              int finished_count) {}
  // An event word of the backend, such as "file_copy_retry".
  virtual void OnImportantEvent(const std::string& name) {}
  // |code| is an InstallerResult; |path| is the file the error concerns, or
  // empty.
  virtual void OnError(int code,
                       const base::string16& path,
                       const std::string& message) {}
  virtual void OnSuccess() {}
  // The run was rolled back; follows OnError, or stands alone when the run
  // was interrupted. Never crosses the mailslot.
  virtual void OnInstallationCancelled() {}
  // Front end only: the backend process has ended with |result| (an
  // InstallerResult mapped from its exit code).
  virtual void OnBackendProcessTerminated(int result) {}
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_OBSERVER_H_
