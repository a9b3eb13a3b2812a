#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALL_HELPER_STEP_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALL_HELPER_STEP_H_

#include "desktop/windows/installer/steps/installer_step.h"

namespace installer {

// "install_helper": puts the helper executable of the Windows bitness into
// the target folder ("installer_helper_64.exe" on 64-bit Windows, else
// "installer_helper.exe") and records it among the installed files. A
// package unpacked into the target folder already holds it; the helper of
// the other bitness is then dropped.
class InstallHelperStep : public InstallerStep {
 public:
  explicit InstallHelperStep(InstallerStepContext* context);
  ~InstallHelperStep() override;

  // InstallerStep:
  void Execute(InstallerStepResult* result, int attempt) override;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALL_HELPER_STEP_H_
