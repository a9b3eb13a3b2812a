#include "desktop/windows/installer/steps/uninstall_components_step.h"

#include <windows.h>

#include <string>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/installer_step_context.h"
#include "desktop/windows/installer/installer_utils.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/settings.h"

namespace installer {

UninstallComponentsStep::UninstallComponentsStep(InstallerStepContext* context)
    : InstallerStep("uninstall_components", context) {}

UninstallComponentsStep::~UninstallComponentsStep() = default;

void UninstallComponentsStep::Execute(InstallerStepResult* result,
                                      int attempt) {
  *result = InstallerStepResult(STEP_DONE);
  const InstallationStatus& status =
      GetContext()->GetExistingInstallationStatus();
  if (status.components.empty())
    return;
  const Settings* settings = GetSettings();
  for (const InstallationComponent& component : status.components) {
    base::FilePath program;
    if (!GetComponentProgram(component, &program))
      continue;
    base::CommandLine command_line(program);
    command_line.AppendSwitch("uninstall");
    command_line.AppendSwitchASCII("copyonly",
                                   settings->GetCopyOnly() ? "1" : "0");
    command_line.AppendSwitchASCII("allusers",
                                   settings->GetAllUsers() ? "1" : "0");
    LOG(INFO) << "Uninstalling component " << component.name;
    VLOG(1) << command_line.GetCommandLineString();
    // The component's uninstaller finishes on its own; the process handle
    // is closed at once.
    base::Process process =
        base::LaunchProcess(command_line, base::LaunchOptions());
    if (!process.IsValid()) {
      LOG(ERROR) << "Cannot start component uninstaller " << program.value()
                 << ": " << FormatWin32Error(::GetLastError());
    }
  }
}

}  // namespace installer
