#include "desktop/windows/installer/runner/installer_progress_notifier.h"

namespace installer {

InstallerProgressNotifier::InstallerProgressNotifier() = default;
InstallerProgressNotifier::~InstallerProgressNotifier() = default;

void InstallerProgressNotifier::AddObserver(
    InstallerProgressObserver* observer) {
  observers_.AddObserver(observer);
}

void InstallerProgressNotifier::RemoveObserver(
    InstallerProgressObserver* observer) {
  observers_.RemoveObserver(observer);
}

void InstallerProgressNotifier::OnEnteringPhase(int phase) {
  // Stored first: an observer that asks for the phase sees the new one.
  current_phase_ = phase;
  for (InstallerProgressObserver& observer : observers_)
    observer.OnPhaseEntered(phase);
}

void InstallerProgressNotifier::OnTotalSteps(int total) {
  for (InstallerProgressObserver& observer : observers_)
    observer.OnTotalSteps(total);
}

void InstallerProgressNotifier::OnStepFinished(int finished_count) {
  for (InstallerProgressObserver& observer : observers_)
    observer.OnStepFinished(finished_count);
}

int InstallerProgressNotifier::GetCurrentPhase() const {
  return current_phase_;
}

}  // namespace installer
