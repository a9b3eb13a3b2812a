#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_DELETE_FILE_STEP_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_DELETE_FILE_STEP_H_

#include "base/files/file_path.h"
#include "desktop/windows/installer/steps/installer_step.h"

namespace installer {

// "delete_file_step": removes one file through the run's transaction. The
// file is only moved aside until the run commits, so a failure later on
// puts it back.
class DeleteFileStep : public InstallerStep {
 public:
  DeleteFileStep(InstallerStepContext* context, const base::FilePath& path);
  ~DeleteFileStep() override;

  // InstallerStep:
  void Execute(InstallerStepResult* result, int attempt) override;

 private:
  const base::FilePath path_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_DELETE_FILE_STEP_H_
