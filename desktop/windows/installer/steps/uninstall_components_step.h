#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_UNINSTALL_COMPONENTS_STEP_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_UNINSTALL_COMPONENTS_STEP_H_

#include "desktop/windows/installer/steps/installer_step.h"

namespace installer {

// "uninstall_components": starts the uninstaller of every component that
// the installation recorded ("NAME_installer.exe --uninstall" in the
// component's folder) and does not wait for it. A component whose
// uninstaller cannot be started is logged and skipped; the step never
// fails.
class UninstallComponentsStep : public InstallerStep {
 public:
  explicit UninstallComponentsStep(InstallerStepContext* context);
  ~UninstallComponentsStep() override;

  void Execute(InstallerStepResult* result, int attempt) override;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_UNINSTALL_COMPONENTS_STEP_H_
