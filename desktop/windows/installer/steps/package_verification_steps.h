#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_PACKAGE_VERIFICATION_STEPS_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_PACKAGE_VERIFICATION_STEPS_H_

#include <string>
#include <vector>

#include "desktop/windows/installer/steps/installer_step.h"

namespace installer {

// "verify_downloadable_resources": in a minimal install, every downloadable
// resource present in the package folder must carry its known digest.
class VerifyDownloadableResourcesStep : public InstallerStep {
 public:
  explicit VerifyDownloadableResourcesStep(InstallerStepContext* context);
  ~VerifyDownloadableResourcesStep() override;

  void Execute(InstallerStepResult* result, int attempt) override;
};

// "verify_package_contents": every file the package's lists name can be
// opened before anything is copied.
class VerifyPackageContentsStep : public InstallerStep {
 public:
  VerifyPackageContentsStep(InstallerStepContext* context,
                            const std::vector<std::string>& standard_files,
                            const std::vector<std::string>& root_files,
                            const std::vector<std::string>& extra_files);
  ~VerifyPackageContentsStep() override;

  void Execute(InstallerStepResult* result, int attempt) override;

 private:
  const std::vector<std::string> standard_files_;
  const std::vector<std::string> root_files_;
  const std::vector<std::string> extra_files_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_PACKAGE_VERIFICATION_STEPS_H_
