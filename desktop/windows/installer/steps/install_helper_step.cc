#include "desktop/windows/installer/steps/install_helper_step.h"

#include <memory>
#include <string>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "desktop/windows/installer/installer_step_context.h"
#include "desktop/windows/installer/os_operations.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/transactions/file_operations.h"

namespace installer {

namespace {

const wchar_t kHelper32[] = L"installer_helper.exe";
const wchar_t kHelper64[] = L"installer_helper_64.exe";

}  // namespace

InstallHelperStep::InstallHelperStep(InstallerStepContext* context)
    : InstallerStep("install_helper", context) {}

InstallHelperStep::~InstallHelperStep() = default;

void InstallHelperStep::Execute(InstallerStepResult* result, int attempt) {
  const bool windows_64 = GetOsOperations()->GetOsArchitecture() != 0;
  const base::FilePath helper(windows_64 ? kHelper64 : kHelper32);
  const base::FilePath other(windows_64 ? kHelper32 : kHelper64);
  const base::FilePath target = GetTargetFolder();
  Transaction* transaction = GetContext()->GetTransaction();
  std::string error;
  if (GetContext()->IsPackageDirKnown()) {
    if (!base::PathExists(target.Append(helper))) {
      LOG(ERROR) << helper.value() << " is missing in " << target.value();
      *result =
          InstallerStepResult(STEP_FAILED, RESULT_COPY_FAILED, helper.value(),
                              "Installer helper not present in unpacked files");
      return;
    }
    const base::FilePath unused = target.Append(other);
    if (base::PathExists(unused) &&
        !ExecuteOperation(
            transaction,
            std::make_unique<DeleteFileOperation>(unused, false, false),
            &error)) {
      VLOG(1) << "Leaving " << unused.value() << ": " << error;
    }
  } else if (!ExecuteOperation(
                 transaction,
                 std::make_unique<CopyFileOperation>(
                     GetPackageDir().Append(helper), target.Append(helper)),
                 &error)) {
    LOG(ERROR) << "Cannot copy " << helper.value() << ": " << error;
    *result =
        InstallerStepResult(STEP_RETRY_THEN_FAIL, RESULT_COPY_FAILED,
                            helper.value(), "Cannot copy installer helper");
    return;
  }
  GetStatusUnderConstruction()->files.push_back(helper);
  *result = InstallerStepResult(STEP_DONE);
}

}  // namespace installer
