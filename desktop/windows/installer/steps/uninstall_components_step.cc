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

namespace {

const wchar_t kInstallerSuffix[] = L"_installer.exe";

// Earlier packages named the assistant's component "suite".
const char kSuiteName[] = "suite";
const char kAssistantName[] = "assistant";

// The component's uninstaller; false for a record that could lead outside
// the component's folder or to a folder taken relative to the current one.
bool GetUninstaller(const InstallationComponent& component,
                    base::FilePath* program) {
  const base::string16 name = base::UTF8ToWide(component.name);
  base::FilePath name_path;
  std::string reason;
  if (!MakeSafeRelativePath(name, &name_path, &reason)) {
    reason = "name: " + reason;
  } else if (name_path.BaseName() != name_path) {
    reason = "the name has a folder part";
  } else if (!component.path.IsAbsolute()) {
    reason = "the folder is not absolute";
  }
  if (!reason.empty()) {
    LOG(ERROR) << "Invalid component record " << component.name << " in "
               << component.path.value() << ": " << reason;
    return false;
  }
  *program = component.path.Append(name + kInstallerSuffix);
  if (component.name == kSuiteName && !base::PathExists(*program)) {
    *program = component.path.Append(base::UTF8ToWide(kAssistantName) +
                                     kInstallerSuffix);
    VLOG(1) << "Using the assistant's uninstaller " << program->value();
  }
  return true;
}

}  // namespace

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
    if (!GetUninstaller(component, &program))
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
