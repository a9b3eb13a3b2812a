#include "desktop/windows/installer/steps/install_components_step.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/string_split.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/installer_step_context.h"
#include "desktop/windows/installer/installer_utils.h"
#include "desktop/windows/installer/package_fetcher/signature_check.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/settings.h"

namespace installer {

namespace {

const char kComponentsSwitch[] = "components";

// Adds |component| to |components|, in place of a record of the same name.
void Record(const InstallationComponent& component,
            std::vector<InstallationComponent>* components) {
  auto same_name = std::find_if(
      components->begin(), components->end(),
      [&](const InstallationComponent& c) { return c.name == component.name; });
  if (same_name != components->end())
    *same_name = component;
  else
    components->push_back(component);
}

}  // namespace

InstallComponentsStep::InstallComponentsStep(
    InstallerStepContext* context, const base::CommandLine* command_line)
    : InstallerStep("install_components", context),
      command_line_(command_line) {}

InstallComponentsStep::~InstallComponentsStep() = default;

void InstallComponentsStep::Execute(InstallerStepResult* result, int attempt) {
  *result = InstallerStepResult(STEP_DONE);
  LOG(INFO) << "Installing Components";
  InstallationStatus* status = GetStatusUnderConstruction();
  if (GetSettings()->GetOperation() == OPERATION_UPGRADE) {
    const InstallationStatus& existing =
        GetContext()->GetExistingInstallationStatus();
    if (&existing != status) {
      for (const InstallationComponent& component : existing.components)
        Record(component, &status->components);
    }
  }
  const base::string16 value =
      command_line_->GetSwitchValueNative(kComponentsSwitch);
  const std::vector<base::string16> entries = base::SplitString(
      value, L"|", base::TRIM_WHITESPACE, base::SPLIT_WANT_NONEMPTY);
  if (entries.empty())
    return;
  LOG(INFO) << "Components present : " << value;
  for (const base::string16& entry : entries)
    InstallComponent(entry);
}

void InstallComponentsStep::InstallComponent(const base::string16& entry) {
  LOG(INFO) << "Processing component " << entry;
  const size_t colon = entry.find(L':');
  const base::string16 name16 = entry.substr(0, colon);
  const base::string16 folder_entry = colon == base::string16::npos
                                          ? base::string16()
                                          : entry.substr(colon + 1);
  // Both parts become paths: the name below the install folder and in the
  // installer's file name, the folder below the package's parent.
  base::FilePath name_path;
  base::FilePath folder;
  std::string reason;
  if (colon == base::string16::npos) {
    reason = "no \":\" between the name and the folder";
  } else if (!MakeSafeRelativePath(name16, &name_path, &reason)) {
    reason = "name: " + reason;
  } else if (name_path.BaseName() != name_path) {
    reason = "the name has a folder part";
  } else if (!folder_entry.empty() &&
             !MakeSafeRelativePath(folder_entry, &folder, &reason)) {
    reason = "folder: " + reason;
  }
  if (!reason.empty()) {
    LOG(ERROR) << "Invalid component entry " << entry << ": " << reason;
    return;
  }
  const std::string name = base::WideToUTF8(name16);
  const base::FilePath installation_path =
      GetContext()->GetInstallFolder().Append(name_path);
  const base::FilePath parent = GetPackageDir().DirName();
  const base::FilePath component_folder =
      folder.empty() ? parent : parent.Append(folder);
  const base::FilePath program = GetComponentInstaller(component_folder, name);
  if (!base::PathExists(program)) {
    LOG(ERROR) << "Component installer does not exist " << program.value();
    return;
  }
  // The download folder may be writable by the user while this step runs
  // elevated: the file checked is the file started only while nobody can
  // write, rename or delete it in between.
  base::win::ScopedHandle held(
      ::CreateFileW(program.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held.IsValid()) {
    LOG(ERROR) << "Cannot hold component installer " << program.value()
               << " against changes: " << FormatWin32Error(::GetLastError());
    return;
  }
  if (!IsProgramSignatureAccepted(program, "component installer"))
    return;

  base::CommandLine command_line(program);
  command_line.AppendSwitchPath("installfolder", installation_path);
  const Settings* settings = GetSettings();
  command_line.AppendSwitchASCII("copyonly",
                                 settings->GetCopyOnly() ? "1" : "0");
  command_line.AppendSwitchASCII("allusers",
                                 settings->GetAllUsers() ? "1" : "0");
  LOG(INFO) << "Running component installer";
  VLOG(1) << command_line.GetCommandLineString();
  base::Process process =
      base::LaunchProcess(command_line, base::LaunchOptions());
  held.Close();
  if (!process.IsValid()) {
    LOG(ERROR) << "Cannot start component installer " << program.value() << ": "
               << FormatWin32Error(::GetLastError());
    return;
  }
  int exit_code = -1;
  if (!process.WaitForExit(&exit_code)) {
    LOG(ERROR) << "Cannot get the exit code of component installer "
               << program.value();
    return;
  }
  LOG(INFO) << "Component installer returned " << exit_code;
  if (exit_code == 0)
    Record({name, installation_path},
           &GetStatusUnderConstruction()->components);
}

}  // namespace installer
