#ifndef DESKTOP_WINDOWS_INSTALLER_RUNNER_INSTALLER_PROGRESS_NOTIFIER_H_
#define DESKTOP_WINDOWS_INSTALLER_RUNNER_INSTALLER_PROGRESS_NOTIFIER_H_

#include "base/macros.h"
#include "base/observer_list.h"

namespace installer {

// Sees the three progress events that the front end takes from the
// backend's messages.
class InstallerProgressObserver {
 public:
  virtual ~InstallerProgressObserver() = default;
  virtual void OnPhaseEntered(int phase) = 0;
  virtual void OnTotalSteps(int total) = 0;
  virtual void OnStepFinished(int finished_count) = 0;
};

// The front end's relay of the progress events: made once per front-end
// run and shared by the main-process runner (which feeds it), the progress
// calculator and the window. Main thread only.
class InstallerProgressNotifier {
 public:
  InstallerProgressNotifier();
  virtual ~InstallerProgressNotifier();

  // An observer is added once only; removal is safe while notifying.
  virtual void AddObserver(InstallerProgressObserver* observer);
  virtual void RemoveObserver(InstallerProgressObserver* observer);
  // Stores the phase, then tells every observer.
  virtual void OnEnteringPhase(int phase);
  virtual void OnTotalSteps(int total);
  virtual void OnStepFinished(int finished_count);
  // 0 until the first phase is entered.
  virtual int GetCurrentPhase() const;

 private:
  base::ObserverList<InstallerProgressObserver> observers_;
  int current_phase_ = 0;

  DISALLOW_COPY_AND_ASSIGN(InstallerProgressNotifier);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_RUNNER_INSTALLER_PROGRESS_NOTIFIER_H_
