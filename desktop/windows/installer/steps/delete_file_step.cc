#include "desktop/windows/installer/steps/delete_file_step.h"

#include <memory>
#include <string>

#include "base/logging.h"
#include "desktop/windows/installer/installer_step_context.h"
#include "desktop/windows/installer/service/transactions/file_operations.h"

namespace installer {

DeleteFileStep::DeleteFileStep(InstallerStepContext* context,
                               const base::FilePath& path)
    : InstallerStep("delete_file_step", context), path_(path) {}

DeleteFileStep::~DeleteFileStep() = default;

void DeleteFileStep::Execute(InstallerStepResult* result, int attempt) {
  LOG(INFO) << "Deleting file " << path_.value();
  std::string error;
  if (ExecuteOperation(
          GetContext()->GetTransaction(),
          std::make_unique<DeleteFileOperation>(path_, false, false), &error)) {
    *result = InstallerStepResult(STEP_DONE);
    return;
  }
  LOG(ERROR) << "Cannot delete " << path_.value() << ": " << error;
  *result = InstallerStepResult(STEP_RETRY_THEN_FAIL, RESULT_GENERAL_ERROR,
                                base::string16(),
                                "Cannot delete file " + path_.AsUTF8Unsafe());
}

}  // namespace installer
