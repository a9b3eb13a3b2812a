#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_MOVE_FILE_STEP_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_MOVE_FILE_STEP_H_

#include <string>

#include "base/files/file_path.h"
#include "desktop/windows/installer/steps/installer_step.h"

namespace installer {

// Every root file moved up into the install folder is a step of this one
// name.
bool IsMoveFileStepName(const std::string& name);

// "move_file": when the run works from the target folder, the package
// already lies there, so its root files are moved up into the install
// folder rather than copied, and recorded among the root files.
class MoveFileStep : public InstallerStep {
 public:
  MoveFileStep(InstallerStepContext* context,
               const base::FilePath& relative_path);
  ~MoveFileStep() override;

  // InstallerStep:
  void Execute(InstallerStepResult* result, int attempt) override;

 private:
  const base::FilePath relative_path_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_MOVE_FILE_STEP_H_
