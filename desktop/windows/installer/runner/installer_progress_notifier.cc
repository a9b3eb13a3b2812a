#include "desktop/windows/installer/runner/installer_progress_notifier.h"

// Placeholder bodies; the real ones replace this file.
namespace installer {

InstallerProgressNotifier::InstallerProgressNotifier() = default;
InstallerProgressNotifier::~InstallerProgressNotifier() = default;
void InstallerProgressNotifier::AddObserver(
    InstallerProgressObserver* observer) {}
void InstallerProgressNotifier::RemoveObserver(
    InstallerProgressObserver* observer) {}
void InstallerProgressNotifier::OnEnteringPhase(int phase) {}
void InstallerProgressNotifier::OnTotalSteps(int total) {}
void InstallerProgressNotifier::OnStepFinished(int finished_count) {}
int InstallerProgressNotifier::GetCurrentPhase() const {
  return current_phase_;
}

}  // namespace installer
