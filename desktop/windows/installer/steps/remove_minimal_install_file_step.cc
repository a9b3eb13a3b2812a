#include "desktop/windows/installer/steps/remove_minimal_install_file_step.h"

#include <memory>
#include <string>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/installer_step_context.h"
#include "desktop/windows/installer/installer_utils.h"
#include "desktop/windows/installer/service/transactions/file_operations.h"
#include "desktop/windows/installer/steps/downloadable_resources.h"

namespace installer {

RemoveMinimalInstallFileStep::RemoveMinimalInstallFileStep(
    InstallerStepContext* context)
    : InstallerStep("remove_minimal_install_file", context) {}

RemoveMinimalInstallFileStep::~RemoveMinimalInstallFileStep() = default;

void RemoveMinimalInstallFileStep::Execute(InstallerStepResult* result,
                                           int attempt) {
  LOG(INFO) << "Removing minimal install file.";
  *result = InstallerStepResult(STEP_DONE);
  const base::FilePath target = GetTargetFolder();
  const DownloadableResource* resources = GetDownloadableResources();
  for (size_t i = 0; i < kDownloadableResourceCount; ++i) {
    // A name that does not decode to a path inside the folder cannot be
    // there; testing it as it stands could hit the folder itself.
    base::FilePath relative;
    if (!MakeSafeRelativePath(
            base::UTF8ToWide(DecodeResourcePath(resources[i])), &relative) ||
        !base::PathExists(target.Append(relative))) {
      VLOG(1) << "Resource " << i << " is missing; the install stays minimal";
      return;
    }
  }
  std::string error;
  if (!ExecuteOperation(GetContext()->GetTransaction(),
                        std::make_unique<DeleteFileOperation>(
                            target.Append(L"minimal_install"), false, false),
                        &error)) {
    LOG(ERROR) << "Cannot remove the minimal install marker: " << error;
  }
}

}  // namespace installer
