#include "desktop/windows/installer/steps/move_file_step.h"

#include <memory>

#include "base/logging.h"
#include "desktop/windows/installer/installer_step_context.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/transactions/file_operations.h"

namespace installer {

bool IsMoveFileStepName(const std::string& name) {
  return name == "move_file";
}

MoveFileStep::MoveFileStep(InstallerStepContext* context,
                           const base::FilePath& relative_path)
    : InstallerStep("move_file", context), relative_path_(relative_path) {}

MoveFileStep::~MoveFileStep() = default;

void MoveFileStep::Execute(InstallerStepResult* result, int attempt) {
  VLOG(1) << "Moving root file " << relative_path_.AsUTF8Unsafe();
  const base::FilePath install_folder =
      GetContext()->GetInstallFolderFromSettings();
  std::string error;
  if (ExecuteOperation(
          GetContext()->GetTransaction(),
          std::make_unique<MoveFileOperation>(
              GetTargetFolder().Append(relative_path_),
              install_folder.Append(relative_path_), GetTargetFolder()),
          &error)) {
    GetStatusUnderConstruction()->root_files.push_back(relative_path_);
    *result = InstallerStepResult(STEP_DONE);
    return;
  }
  // The user knows the install folder, not the version folder the file
  // came from.
  const std::string message = "Failed moving " + relative_path_.AsUTF8Unsafe() +
                              " to " + install_folder.AsUTF8Unsafe() +
                              " because of error: " + error;
  LOG(ERROR) << message;
  *result = InstallerStepResult(STEP_RETRY_THEN_FAIL, RESULT_COPY_FAILED,
                                install_folder.value(), message);
}

}  // namespace installer
