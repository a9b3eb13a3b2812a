#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_PENDING_STEP_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_PENDING_STEP_H_

#include <string>

#include "desktop/windows/installer/steps/installer_step.h"

namespace installer {

// A step of the lists whose work is not part of this build yet. It keeps
// its place and its name in the list, so that counts, progress and the
// front end's messages are those of the full list, reports success and
// changes nothing.
class PendingStep : public InstallerStep {
 public:
  PendingStep(const std::string& name, InstallerStepContext* context);
  ~PendingStep() override;

  // InstallerStep:
  void Execute(InstallerStepResult* result, int attempt) override;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_PENDING_STEP_H_
