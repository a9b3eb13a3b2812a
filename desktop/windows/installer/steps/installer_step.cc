#include "desktop/windows/installer/steps/installer_step.h"

#include "desktop/windows/installer/installer_step_context.h"

namespace installer {

InstallerStepResult::InstallerStepResult(InstallerStepStatus status)
    : status(status), code(RESULT_GENERAL_ERROR) {}

InstallerStepResult::InstallerStepResult(InstallerStepStatus status,
                                         InstallerResult code,
                                         const base::string16& path,
                                         const std::string& message)
    : status(status), code(code), path(path), message(message) {}

InstallerStep::InstallerStep(const std::string& name,
                             InstallerStepContext* context)
    : name_(name), context_(context) {}

InstallerStep::~InstallerStep() = default;

Settings* InstallerStep::GetSettings() const {
  return context_->GetSettings();
}

base::FilePath InstallerStep::GetTargetFolder() const {
  return context_->GetTargetFolder();
}

base::FilePath InstallerStep::GetPackageDir() const {
  return context_->GetPackageDir();
}

InstallationStatus* InstallerStep::GetStatusUnderConstruction() const {
  return context_->GetStatusUnderConstruction();
}

const InstallationFolderDetails& InstallerStep::GetFolderDetails() const {
  return context_->GetFolderDetails();
}

}  // namespace installer
