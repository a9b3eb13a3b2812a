#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_REMOVE_MINIMAL_INSTALL_FILE_STEP_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_REMOVE_MINIMAL_INSTALL_FILE_STEP_H_

#include "desktop/windows/installer/steps/installer_step.h"

namespace installer {

// "remove_minimal_install_file": once every downloadable resource is in the
// target folder, the installation is no longer minimal and its marker
// goes. A resource still missing keeps the marker; neither is a failure.
class RemoveMinimalInstallFileStep : public InstallerStep {
 public:
  explicit RemoveMinimalInstallFileStep(InstallerStepContext* context);
  ~RemoveMinimalInstallFileStep() override;

  // InstallerStep:
  void Execute(InstallerStepResult* result, int attempt) override;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_REMOVE_MINIMAL_INSTALL_FILE_STEP_H_
