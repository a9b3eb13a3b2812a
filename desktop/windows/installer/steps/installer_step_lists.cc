#include "desktop/windows/installer/steps/installer_step_lists.h"

#include <string>

#include "base/logging.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/steps/installer_step.h"

namespace installer {

namespace {

bool NotAvailable(const char* list) {
  const std::string message =
      std::string("The ") + list + " steps are not available in this build";
  LOG(ERROR) << message;
  return SetLastInstallerError(RESULT_GENERAL_ERROR, message);
}

class UnavailableStepListBuilder : public InstallerStepListBuilder {
 public:
  bool BuildInstallSteps(InstallerStepContext* context,
                         base::string16* uninstall_string,
                         InstallerStepList* steps) override {
    return NotAvailable("install");
  }
  bool BuildUpgradeSteps(InstallerStepContext* context,
                         base::string16* uninstall_string,
                         InstallerStepList* steps) override {
    return NotAvailable("upgrade");
  }
  bool BuildUninstallSteps(InstallerStepContext* context,
                           InstallerStepList* steps) override {
    return NotAvailable("uninstall");
  }
  bool BuildRegisterProtocolHandlerSteps(InstallerStepContext* context,
                                         InstallerStepList* steps) override {
    return NotAvailable("protocol handler registration");
  }
  bool BuildFixResourcesSteps(InstallerStepContext* context,
                              InstallerStepList* steps) override {
    return NotAvailable("fix resources");
  }
};

}  // namespace

std::unique_ptr<InstallerStepListBuilder> CreateInstallerStepListBuilder() {
  return std::make_unique<UnavailableStepListBuilder>();
}

}  // namespace installer
