#include "desktop/windows/installer/installer_step_context_impl.h"

#include <utility>

#include "base/base_paths.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/installation_folder_details.h"
#include "desktop/windows/installer/interprocess_state.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/settings.h"

namespace installer {

const wchar_t InstallerStepContextImpl::kMinimalInstallFileName[] =
    L"minimal_install";

InstallerStepContextImpl::InstallerStepContextImpl(
    InterprocessState* interprocess_state)
    : interprocess_state_(interprocess_state),
      status_under_construction_(INSTALLATION_STATUS_GENERATED) {}

InstallerStepContextImpl::~InstallerStepContextImpl() = default;

InterprocessState* InstallerStepContextImpl::interprocess_state() {
  return interprocess_state_ ? interprocess_state_ : GetInterprocessState();
}

Settings* InstallerStepContextImpl::GetSettings() {
  return settings_;
}

Transaction* InstallerStepContextImpl::GetTransaction() {
  return &transaction_;
}

const InstallationStatus&
InstallerStepContextImpl::GetExistingInstallationStatus() {
  const InstallationStatus* status = GetFolderDetails().GetInstallationStatus();
  if (status)
    return *status;
  // A folder without an installation has no record; steps then read an
  // empty one.
  static const InstallationStatus* const kNoStatus = new InstallationStatus();
  return *kNoStatus;
}

base::FilePath InstallerStepContextImpl::GetTargetFolder() {
  const base::FilePath install_folder = GetInstallFolder();
  if (installation_subfolder_.empty())
    return install_folder;
  return install_folder.Append(installation_subfolder_);
}

base::FilePath InstallerStepContextImpl::GetPackageDir() {
  return interprocess_state()->GetPackageDir();
}

base::FilePath InstallerStepContextImpl::GetTargetFolderForStatus() {
  return GetTargetFolder();
}

base::FilePath InstallerStepContextImpl::GetInstallFolder() {
  return GetFolderDetails().GetPath();
}

base::FilePath InstallerStepContextImpl::GetInstallFolderFromSettings() {
  return settings_->GetInstallFolder();
}

InstallationStatus* InstallerStepContextImpl::GetStatusUnderConstruction() {
  return &status_under_construction_;
}

const InstallationFolderDetails& InstallerStepContextImpl::GetFolderDetails() {
  return settings_->GetFolderDetails();
}

uint32_t InstallerStepContextImpl::GetSecondInstallerPid() {
  return second_installer_pid_;
}

TemplateVariables* InstallerStepContextImpl::GetVariables() {
  return this;
}

bool InstallerStepContextImpl::HasTemporaryFolderPermission() {
  return permission_undo_event_.IsValid();
}

void InstallerStepContextImpl::StartRecordingRegistryValues() {
  VLOG(2) << "Recording registry values";
  recording_registry_values_ = true;
}

void InstallerStepContextImpl::StopRecordingRegistryValues() {
  VLOG(2) << "Stopped recording registry values";
  recording_registry_values_ = false;
}

void InstallerStepContextImpl::OnImportantEvent(const std::string& name) {
  LOG(INFO) << "Important event: " << name;
  if (important_event_callback_)
    important_event_callback_.Run(name);
}

bool InstallerStepContextImpl::HasExistingInstallation() {
  return GetFolderDetails().HasExistingInstallation();
}

bool InstallerStepContextImpl::IsMinimalInstall() {
  if (settings_->GetOperation() == OPERATION_FIX_DOWNLOADABLE_RESOURCES)
    return true;
  return base::PathExists(GetTargetFolder().Append(kMinimalInstallFileName));
}

bool InstallerStepContextImpl::IsRunningFromTargetFolder() {
  base::FilePath exe;
  if (!base::PathService::Get(base::FILE_EXE, &exe))
    return false;
  // Windows paths ignore case, and a folder chosen as "C:\Kavor\" is the
  // same folder as the executable's "C:\Kavor".
  return base::FilePath::CompareIgnoreCase(
             exe.DirName().StripTrailingSeparators().value(),
             GetTargetFolder().StripTrailingSeparators().value()) == 0;
}

bool InstallerStepContextImpl::IsPackageDirKnown() {
  return interprocess_state()->IsPackageDirKnown();
}

base::string16 InstallerStepContextImpl::GetVariable(
    const base::string16& name) const {
  if (name == L"InstallFolder")
    return settings_->GetFolderDetails().GetPath().value();
  if (name == L"Version")
    return base::UTF8ToUTF16(GetVersionString());
  if (name == L"Executable")
    return base::UTF8ToUTF16(GetBrowserExeName());
  if (name == L"Product")
    return base::UTF8ToUTF16(GetProductName());
  if (name == L"Company")
    return base::UTF8ToUTF16(GetCompanyName());
  if (name == L"CompanyRegistryKey")
    return GetCompanyRegistryKey();
  if (name == L"Stream")
    return base::UTF8ToUTF16(GetChannelName());
  if (name == L"Uninstall")
    return uninstall_string_;
  if (name == L"HelpURL")
    return base::UTF8ToUTF16(GetNamedUrl("help"));
  if (name == L"CompanyURL")
    return base::UTF8ToUTF16(GetNamedUrl("homepage"));
  if (name == L"DownloadsURL")
    return base::UTF8ToUTF16(GetNamedUrl("download"));
  if (name == L"ProgID")
    return base::UTF8ToUTF16(GetProductInternalName());
  return name;
}

std::vector<RegistryKeyRecord>*
InstallerStepContextImpl::GetRecordedRegistryValues(HKEY root) {
  if (!recording_registry_values_)
    return nullptr;
  return root == HKEY_LOCAL_MACHINE ? &status_under_construction_.hklm_keys
                                    : &status_under_construction_.hkcu_keys;
}

}  // namespace installer
