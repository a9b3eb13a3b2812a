#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_H_

#include "base/macros.h"
#include "base/observer_list.h"
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
// front end interrupts it.
class Installer {
 public:
  Installer();
  virtual ~Installer();

  void AddObserver(InstallerObserver* observer);
  void RemoveObserver(InstallerObserver* observer);

  // Posts the run body to the current thread; the settings must be
  // complete. Returns whether the post succeeded.
  bool Run(Settings* settings);

  // RESULT_NOT_FINISHED until the run reports its outcome.
  InstallerResult result() const { return result_; }

 private:
  base::ObserverList<InstallerObserver> observers_;
  InstallerResult result_ = RESULT_NOT_FINISHED;

  DISALLOW_COPY_AND_ASSIGN(Installer);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_H_
