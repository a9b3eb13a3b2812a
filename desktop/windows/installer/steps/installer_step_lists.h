#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLER_STEP_LISTS_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLER_STEP_LISTS_H_

#include <memory>
#include <vector>

#include "base/strings/string16.h"

namespace installer {

class InstallerStep;
class InstallerStepContext;
class InterprocessState;

using InstallerStepList = std::vector<std::unique_ptr<InstallerStep>>;

// Builds the ordered step list of each operation for the step scheduler.
// Every builder appends to |steps|; on failure it leaves the reason in the
// thread's last-error record and returns false, and the scheduler adds its
// own context line. |uninstall_string| goes to the step that chooses the
// uninstall key name and writes it there.
class InstallerStepListBuilder {
 public:
  virtual ~InstallerStepListBuilder() = default;

  virtual bool BuildInstallSteps(InstallerStepContext* context,
                                 base::string16* uninstall_string,
                                 InstallerStepList* steps) = 0;
  virtual bool BuildUpgradeSteps(InstallerStepContext* context,
                                 base::string16* uninstall_string,
                                 InstallerStepList* steps) = 0;
  // Reads no package file list; a complete build never fails it.
  virtual bool BuildUninstallSteps(InstallerStepContext* context,
                                   InstallerStepList* steps) = 0;
  // "register_protocol_handlers", then "write_installer_prefs".
  virtual bool BuildRegisterProtocolHandlerSteps(InstallerStepContext* context,
                                                 InstallerStepList* steps) = 0;
  virtual bool BuildFixResourcesSteps(InstallerStepContext* context,
                                      InstallerStepList* steps) = 0;
};

// The lists of the package's operations. The extra files list is read only
// when |interprocess_state| (null: the process-wide one) says the run is
// outside the package.
std::unique_ptr<InstallerStepListBuilder> CreateInstallerStepListBuilder(
    InterprocessState* interprocess_state = nullptr);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLER_STEP_LISTS_H_
