#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALL_COMPONENTS_STEP_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALL_COMPONENTS_STEP_H_

#include "base/strings/string16.h"
#include "desktop/windows/installer/steps/installer_step.h"

namespace base {
class CommandLine;
}

namespace installer {

// "install_components": runs the installer of each optional component that
// the front end asked for with "components" ("name:folder|name:folder"),
// each a child process, and records the components that installed in the
// new status. An upgrade keeps the components installed earlier. A
// component that is missing, badly signed or fails is logged and skipped;
// the step never fails.
class InstallComponentsStep : public InstallerStep {
 public:
  // |command_line| is not owned and outlives the step.
  InstallComponentsStep(InstallerStepContext* context,
                        const base::CommandLine* command_line);
  ~InstallComponentsStep() override;

  void Execute(InstallerStepResult* result, int attempt) override;

 private:
  void InstallComponent(const base::string16& entry);

  const base::CommandLine* const command_line_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALL_COMPONENTS_STEP_H_
