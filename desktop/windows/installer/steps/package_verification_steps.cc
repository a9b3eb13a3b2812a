#include "desktop/windows/installer/steps/package_verification_steps.h"

namespace installer {

// Placeholder bodies until the verification steps land.
VerifyDownloadableResourcesStep::VerifyDownloadableResourcesStep(
    InstallerStepContext* context)
    : InstallerStep("verify_downloadable_resources", context) {}

VerifyDownloadableResourcesStep::~VerifyDownloadableResourcesStep() = default;

void VerifyDownloadableResourcesStep::Execute(InstallerStepResult* result,
                                              int) {
  *result = InstallerStepResult(STEP_DONE);
}

VerifyPackageContentsStep::VerifyPackageContentsStep(
    InstallerStepContext* context,
    const std::vector<std::string>& standard_files,
    const std::vector<std::string>& root_files,
    const std::vector<std::string>& extra_files)
    : InstallerStep("verify_package_contents", context),
      standard_files_(standard_files),
      root_files_(root_files),
      extra_files_(extra_files) {}

VerifyPackageContentsStep::~VerifyPackageContentsStep() = default;

void VerifyPackageContentsStep::Execute(InstallerStepResult* result, int) {
  *result = InstallerStepResult(STEP_DONE);
}

}  // namespace installer
