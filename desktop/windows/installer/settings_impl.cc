#include "desktop/windows/installer/settings_impl.h"

#include <windows.h>

#include <algorithm>

#include "base/base_paths.h"
#include "base/bind.h"
#include "base/command_line.h"
#include "base/logging.h"
#include "base/macros.h"
#include "base/path_service.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/avro_stats/avro_events.h"
#include "desktop/windows/installer/avro_stats/avro_stats_sender.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/installation_folder_details.h"
#include "desktop/windows/installer/interprocess_state.h"
#include "desktop/windows/installer/os_operations.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/l10n_handler/l10n_handler.h"

namespace installer {
namespace {

bool HasSwitch(const char* name) {
  return base::CommandLine::ForCurrentProcess()->HasSwitch(name);
}

bool EqualsIgnoreCase(const base::FilePath& a, const base::FilePath& b) {
  return base::FilePath::CompareIgnoreCase(a.value(), b.value()) == 0;
}

// Whether an uninstall entry's display name ("Kavor <stream> ...") names
// stream |channel_id|.
bool IsStreamWord(const base::string16& word, int32_t channel_id) {
  switch (channel_id) {
    case 1:
      return word == L"nightly";
    case 2:
      return word == L"developer" || word == L"Developer";
    case 3:
      return word == L"beta" || word == L"Next";
    case 4:
      return word == L"Stable";
    default:
      return false;
  }
}

bool IsStreamUninstallEntry(RegistryKeyEnumerator* entry, int32_t channel_id) {
  const base::string16 product = base::UTF8ToWide(GetProductName());
  if (!base::StartsWith(entry->GetName(), product,
                        base::CompareCase::SENSITIVE)) {
    return false;
  }
  base::string16 publisher;
  if (!entry->ReadValue(L"Publisher", &publisher)) {
    VLOG(1) << "Cannot read Publisher in an uninstall key";
    return false;
  }
  if (!base::StartsWith(publisher, base::UTF8ToWide(GetCompanyName()),
                        base::CompareCase::SENSITIVE)) {
    return false;
  }
  base::string16 display_name;
  if (!entry->ReadValue(L"DisplayName", &display_name)) {
    VLOG(1) << "Cannot read Display Name in an uninstall key";
    return false;
  }
  const base::string16 prefix = product + L" ";
  if (!base::StartsWith(display_name, prefix, base::CompareCase::SENSITIVE)) {
    VLOG(1) << "DisplayName does not start with " << GetProductName();
    return false;
  }
  size_t end = display_name.find(L' ', prefix.size());
  if (end == base::string16::npos)
    return false;
  return IsStreamWord(display_name.substr(prefix.size(), end - prefix.size()),
                      channel_id);
}

// The labelled dump of a folder's details.
void LogDetails(const InstallationFolderDetails& details) {
  VLOG(1) << "status for install folder:";
  if (details.GetPath() == details.GetValidParentFolder()) {
    VLOG(1) << "valid_parent folder: " << details.GetValidParentFolder();
    VLOG(1) << "has_write_access: " << details.HasWriteAccess();
    return;
  }
  auto optional_text = [](const std::optional<bool>& value) -> std::string {
    if (!value)
      return "not set";
    return *value ? "1" : "0";
  };
  VLOG(1) << "installation_folder_problem: "
          << details.GetInstallationFolderProblem();
  VLOG(1) << "existing_installation: " << details.HasExistingInstallation();
  VLOG(1) << "existing_installation_traces: "
          << details.HasExistingInstallationTraces();
  VLOG(1) << "valid_parent folder: " << details.GetValidParentFolder();
  VLOG(1) << "desktop_shortcut_exists: " << details.DesktopShortcutExists();
  VLOG(1) << "enable_stats: " << optional_text(details.GetEnableStats());
  VLOG(1) << "has_write_access: " << details.HasWriteAccess();
  VLOG(1) << "import_browser_data: "
          << optional_text(details.GetImportBrowserData());
  VLOG(1) << "is_http_handler: " << details.IsHttpHandler();
  VLOG(1) << "language: " << details.GetLanguage();
  VLOG(1) << "old_product_type: " << details.GetOldProductType();
  VLOG(1) << "pinned_shortcut_paths:";
  for (const base::FilePath& path : details.GetPinnedShortcutPaths())
    VLOG(1) << " * " << path;
  VLOG(1) << "profile_path: " << details.GetProfilePath();
  VLOG(1) << "quick_launch_shortcut_exists: "
          << details.QuickLaunchShortcutExists();
  VLOG(1) << "temporary_shortcut_folder: "
          << details.GetTemporaryShortcutFolder();
  VLOG(1) << "temporary_shortcut_folder_exists: "
          << details.TemporaryShortcutFolderExists();
  VLOG(1) << "recreate_desktop_shortcut: " << details.RecreateDesktopShortcut();
  VLOG(1) << "recreate_pinned_shortcut: " << details.RecreatePinnedShortcut();
  VLOG(1) << "recreate_quick_launch_shortcut: "
          << details.RecreateQuickLaunchShortcut();
  VLOG(1) << "recreate_start_menu_shortcut: "
          << details.RecreateStartMenuShortcut();
  VLOG(1) << "single_profile: " << optional_text(details.GetSingleProfile());
  VLOG(1) << "start_menu_shortcut_exists: "
          << details.StartMenuShortcutExists();
  VLOG(1) << "welcome_url: " << details.GetWelcomeUrl();
}

}  // namespace

const char* InstallFlagToString(uint32_t flag) {
  static const char* const kNames[] = {
      "COPY_ONLY",         "SINGLE_PROFILE",      "LAUNCH_KAVOR",
      "ALL_USERS_FLAG",    "DEFAULT_BROWSER",     "IMPORT_BROWSER_DATA",
      "INSTALL_ASSISTANT", "ENABLE_KAVOR_STATS",  "ENABLE_INSTALLER_STATS",
      "DESKTOP_SHORTCUT",  "START_MENU_SHORTCUT", "QUICK_LAUNCH_SHORTCUT",
      "PINNED_SHORTCUT",   "DELETE_PROFILE",
  };
  return flag < arraysize(kNames) ? kNames[flag] : "";
}

int CountStreamUninstallEntries(int32_t channel_id) {
  OsOperations* os = GetOsOperations();
  std::vector<std::pair<HKEY, uint32_t>> views = {
      {HKEY_CURRENT_USER, KEY_READ}};
  if (os->GetOsArchitecture() != 0)
    views.push_back({HKEY_LOCAL_MACHINE, KEY_READ | KEY_WOW64_64KEY});
  views.push_back({HKEY_LOCAL_MACHINE, KEY_READ | KEY_WOW64_32KEY});
  int count = 0;
  for (const auto& view : views) {
    std::unique_ptr<RegistryKeyEnumerator> key =
        os->CreateRegistryKeyEnumerator(view.first, GetUninstallRegistryKey(),
                                        view.second);
    if (!key || !key->IsValid())
      continue;
    std::unique_ptr<RegistrySubkeyEnumerator> subkeys =
        key->CreateSubkeyEnumerator();
    while (std::unique_ptr<RegistryKeyEnumerator> entry = subkeys->Next()) {
      if (IsStreamUninstallEntry(entry.get(), channel_id) && ++count == 2)
        return count;
    }
  }
  return count;
}

SettingsImpl::SettingsImpl(
    const base::FilePath& command_line_folder,
    InstallerArchitecture architecture,
    const PayloadManager* payload,
    InstallationFolderDetailsFetcherFactory fetcher_factory)
    : folder_details_(CreateInstallationFolderDetails()),
      fetcher_factory_(std::move(fetcher_factory)),
      architecture_(architecture),
      no_payload_(!payload),
      run_immediately_(HasSwitch("runimmediately")) {
  base::FilePath::StringType folder = command_line_folder.value();
  std::replace(folder.begin(), folder.end(), L'/', L'\\');
  command_line_folder_ = base::FilePath(folder);
  registry_folder_ = ReadLastInstallFolder(
      GetCompanyRegistryKey(), architecture_ == InstallerArchitecture::X64,
      GetChannelId());
  if (!IsAutoupdateRun()) {
    base::FilePath desktop;
    if (!base::PathService::Get(base::DIR_USER_DESKTOP, &desktop))
      desktop.clear();
    std::unique_ptr<DriveEnumerator> drives =
        GetOsOperations()->CreateDriveInfo();
    standalone_location_ = FindStandaloneLocation(drives.get(), desktop);
  }

  VLOG(1) << "Obtaining system language";
  SetUiLanguage(&install_language_);
  VLOG(1) << "Initializing settings";

  if (IsUninstallRun()) {
    WriteFlag(
        DELETE_PROFILE,
        HasSwitch("deleteuserprofile") &&
            ParseSwitchBool(
                base::CommandLine::ForCurrentProcess()->GetSwitchValueNative(
                    "deleteuserprofile")));
    if (!HasSwitch("backend"))
      single_stream_installation_ =
          CountStreamUninstallEntries(GetChannelId()) < 2;
    SetInstallFolder(Installation::GetCurrent()->GetFolder());
    return;
  }
  if (HasSwitch("language")) {
    SetLanguage(base::CommandLine::ForCurrentProcess()->GetSwitchValueNative(
        "language"));
  }
  ReadSwitches();
  if (!GetFlag(COPY_ONLY))
    ApplyTrackingData();
  ChooseFirstFolder();
}

SettingsImpl::~SettingsImpl() {
  VLOG(1) << "Destroying settings";
  if (pending_fetch_)
    pending_fetch_->Cancel();
}

base::FilePath SettingsImpl::GetDefaultInstallFolder(uint32_t sources) const {
  return ComputeDefaultInstallFolder(
      sources, architecture_, GetFlag(ALL_USERS_FLAG), GetFlag(COPY_ONLY));
}

std::vector<base::FilePath> SettingsImpl::GetDefaultInstallFolders() const {
  if (GetFlag(COPY_ONLY))
    return {standalone_location_.value_or(base::FilePath())};
  return {GetDefaultInstallFolder(DEFAULT_FOLDER_REGISTRY |
                                  DEFAULT_FOLDER_STANDARD)};
}

InstallerOperation SettingsImpl::GetOperation() const {
  return operation_;
}

FolderProblem SettingsImpl::GetFolderProblem() const {
  return folder_problem_;
}

SettingsData SettingsImpl::GetSummary() const {
  SettingsData summary;
  summary.make_default = GetFlag(DEFAULT_BROWSER);
  summary.using_default_installation_folder = EqualsIgnoreCase(
      GetInstallFolder(), GetDefaultInstallFolder(DEFAULT_FOLDER_STANDARD));
  summary.using_privileged_installation_folder =
      SecurityUtilsImpl::GetInstance()->NeedsElevation(
          GetFlag(ALL_USERS_FLAG), folder_details_->HasWriteAccess());
  summary.installation_mode = GetInstallMode();
  summary.installation_operation = operation_;
  return summary;
}

const InstallationFolderDetails& SettingsImpl::GetFolderDetails() const {
  return *folder_details_;
}

bool SettingsImpl::IsFetchingFolderDetails() const {
  return !!pending_fetch_;
}

void SettingsImpl::AddObserver(SettingsObserver* observer) {
  observers_.AddObserver(observer);
}

void SettingsImpl::RemoveObserver(SettingsObserver* observer) {
  observers_.RemoveObserver(observer);
}

bool SettingsImpl::SetFlag(InstallFlag flag, bool value) {
  if (!editable_)
    return false;
  WriteFlag(flag, value);
  VLOG(1) << InstallFlagToString(flag) << " set to: " << value;
  NotifySettingsChanged();
  return true;
}

bool SettingsImpl::SetLaunchBrowser(bool value) {
  return SetFlag(LAUNCH_KAVOR, value);
}

bool SettingsImpl::SetDefaultBrowser(bool value) {
  if (!editable_)
    return false;
  default_browser_choice_ = value;
  if (GetFlag(COPY_ONLY))
    return false;
  return SetFlag(DEFAULT_BROWSER, value);
}

bool SettingsImpl::SetImportBrowserData(bool value) {
  if (!editable_)
    return false;
  import_browser_data_choice_ = value;
  return SetFlag(IMPORT_BROWSER_DATA, value);
}

bool SettingsImpl::SetEnableStats(bool value) {
  if (!editable_)
    return false;
  enable_stats_choice_ = value;
  return SetFlag(ENABLE_INSTALLER_STATS, value) &&
         SetFlag(ENABLE_KAVOR_STATS, value);
}

bool SettingsImpl::SetDesktopShortcut(bool value) {
  return !GetFlag(COPY_ONLY) && SetFlag(DESKTOP_SHORTCUT, value);
}

bool SettingsImpl::SetStartMenuShortcut(bool value) {
  return SetFlag(START_MENU_SHORTCUT, value);
}

bool SettingsImpl::SetQuickLaunchShortcut(bool value) {
  return SetFlag(QUICK_LAUNCH_SHORTCUT, value);
}

bool SettingsImpl::SetDeleteProfile(bool value) {
  return IsUninstallRun() && SetFlag(DELETE_PROFILE, value);
}

bool SettingsImpl::SetInstallAssistant(bool value) {
  return !GetFlag(COPY_ONLY) && SetFlag(INSTALL_ASSISTANT, value);
}

bool SettingsImpl::SetFlag14(bool value) {
  return SetFlag(FLAG_14, value);
}

bool SettingsImpl::SetMode(InstallMode mode) {
  VLOG(2) << "Changing Settings using SetMode";
  if (!editable_)
    return false;
  bool was_default = false;
  for (const base::FilePath& folder : GetDefaultInstallFolders())
    was_default |= EqualsIgnoreCase(GetInstallFolder(), folder);
  const bool keep_single_profile =
      HasSwitch("singleprofile") || operation_ == OPERATION_UPGRADE;
  bool result;
  switch (mode) {
    case INSTALL_MODE_STANDALONE:
      if (!keep_single_profile)
        SetFlag(SINGLE_PROFILE, true);
      result = SetCopyOnly(true);
      break;
    case INSTALL_MODE_CURRENT_USER:
    case INSTALL_MODE_ALL_USERS:
      if (!keep_single_profile)
        SetFlag(SINGLE_PROFILE, false);
      result = SetCopyOnly(false) && operation_ != OPERATION_UPGRADE &&
               !GetFlag(COPY_ONLY) &&
               SetFlag(ALL_USERS_FLAG, mode == INSTALL_MODE_ALL_USERS);
      break;
    default:
      return false;
  }
  if (was_default) {
    SetInstallFolder(GetDefaultInstallFolder(DEFAULT_FOLDER_REGISTRY |
                                             DEFAULT_FOLDER_STANDARD));
  }
  return result;
}

bool SettingsImpl::AlwaysTrue() const {
  return true;
}

bool SettingsImpl::IsNotCopyOnly() const {
  return !GetFlag(COPY_ONLY);
}

bool SettingsImpl::IsNotCopyOnly2() const {
  return IsNotCopyOnly();
}

bool SettingsImpl::IsNewInstallation() const {
  return operation_ == OPERATION_INSTALL;
}

bool SettingsImpl::IsSingleStreamInstallation() const {
  return single_stream_installation_;
}

void SettingsImpl::ApplyCopyOnlyFlags(bool copy_only) {
  WriteFlag(COPY_ONLY, copy_only);
  static const struct {
    const char* name;
    InstallFlag flag;
  } kShortcuts[] = {
      {"desktopshortcut", DESKTOP_SHORTCUT},
      {"startmenushortcut", START_MENU_SHORTCUT},
      {"quicklaunchshortcut", QUICK_LAUNCH_SHORTCUT},
      {"pintotaskbar", PINNED_SHORTCUT},
  };
  if (copy_only) {
    WriteFlag(ALL_USERS_FLAG, false);
    WriteFlag(DEFAULT_BROWSER, false);
    WriteFlag(INSTALL_ASSISTANT, false);
    for (const auto& entry : kShortcuts)
      WriteFlag(entry.flag, false);
    return;
  }
  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();
  for (const auto& entry : kShortcuts) {
    WriteFlag(
        entry.flag,
        !command_line.HasSwitch(entry.name) ||
            ParseSwitchBool(command_line.GetSwitchValueNative(entry.name)));
  }
}

bool SettingsImpl::SetCopyOnly(bool value) {
  if (!editable_ || operation_ == OPERATION_UPGRADE)
    return false;
  ApplyCopyOnlyFlags(value);
  VLOG(1) << InstallFlagToString(COPY_ONLY) << " set to: " << value;
  NotifySettingsChanged();
  return true;
}

bool SettingsImpl::SetSingleProfile(bool value) {
  return operation_ != OPERATION_UPGRADE && SetFlag(SINGLE_PROFILE, value);
}

bool SettingsImpl::SetAllUsers(bool value) {
  return operation_ != OPERATION_UPGRADE && !GetFlag(COPY_ONLY) &&
         SetFlag(ALL_USERS_FLAG, value);
}

void SettingsImpl::SetInstallFolder(const base::FilePath& path) {
  if (!editable_)
    return;
  VLOG(1) << "Setting install folder to: " << path;
  // Compared with what the settings will hold once the pending fetch, if
  // any, replies: choosing A and then the current folder again before A's
  // reply must end on the current folder. FilePath's equality ignores only
  // the drive letter's case.
  const bool same =
      pending_fetch_ ? folder_being_applied_ && path == *folder_being_applied_
                     : path == folder_details_->GetPath();
  if (!same)
    FetchFolderDetails(path, FetchPurpose::kApply);
}

void SettingsImpl::SetInstallFolder(const base::string16& path) {
  SetInstallFolder(base::FilePath(path));
}

void SettingsImpl::RefreshFolderDetails() {
  VLOG(1) << "Refreshing folder details";
  FetchFolderDetails(GetInstallFolder(), FetchPurpose::kApply);
}

void SettingsImpl::SetLanguage(const base::string16& language) {
  if (!editable_ || language == install_language_)
    return;
  install_language_ = language;
  VLOG(1) << "Attempt setting install_language_ to: " << install_language_;
  SetUiLanguage(&install_language_);
  VLOG(1) << "Actual install_language_ set: " << install_language_;
  for (SettingsObserver& observer : observers_)
    observer.OnLanguageChanged();
}

void SettingsImpl::FetchFolderDetails(const base::FilePath& path,
                                      FetchPurpose purpose) {
  if (pending_fetch_)
    pending_fetch_->Cancel();
  pending_fetch_ = fetcher_factory_.Run(path, IsAutoupdateRun());
  folder_being_applied_.reset();
  if (purpose == FetchPurpose::kApply)
    folder_being_applied_ = path;
  // Kept in a local: a fetcher may reply before FetchStatus returns.
  base::scoped_refptr<InstallationFolderDetailsFetcher> fetcher =
      pending_fetch_;
  // The destructor and every later fetch cancel this one, so the reply
  // never outlives this object.
  fetcher->FetchStatus(base::BindOnce(&SettingsImpl::OnFolderDetails,
                                      base::Unretained(this), purpose));
}

void SettingsImpl::OnFolderDetails(
    FetchPurpose purpose, std::unique_ptr<InstallationFolderDetails> details) {
  if (purpose == FetchPurpose::kApply || details->HasExistingInstallation()) {
    ApplyFolderDetails(std::move(details));
    return;
  }
  pending_fetch_ = nullptr;
  SetInstallFolder(GetDefaultInstallFolder(DEFAULT_FOLDER_STANDARD));
}

void SettingsImpl::ApplyFolderDetails(
    std::unique_ptr<InstallationFolderDetails> details) {
  // The fetch is over either way; a frozen object drops what it brought.
  pending_fetch_ = nullptr;
  if (!editable_)
    return;
  folder_details_ = std::move(details);
  const InstallerOperation old_operation = operation_;
  operation_ = OPERATION_NONE;
  folder_problem_ = FOLDER_PROBLEM_NONE;
  LOG(INFO) << "Install folder set: " << folder_details_->GetPath();
  const bool existing = folder_details_->HasExistingInstallation();
  if (old_operation == OPERATION_UPGRADE || existing)
    ReadSwitches();

  if (!HasSwitch("enable-stats")) {
    WriteFlag(ENABLE_KAVOR_STATS,
              enable_stats_choice_.value_or(
                  folder_details_->GetEnableStats().value_or(true)));
  }
  if (!HasSwitch("enable-installer-stats"))
    WriteFlag(ENABLE_INSTALLER_STATS, GetFlag(ENABLE_KAVOR_STATS));

  const int32_t problem = folder_details_->GetInstallationFolderProblem();
  const bool uninstall = IsUninstallRun();
  if (problem != INSTALLATION_FOLDER_VALID || (uninstall && !existing)) {
    if (problem == INSTALLATION_FOLDER_VALID)
      folder_problem_ = FOLDER_PROBLEM_NO_INSTALLATION;
    else if (problem == INSTALLATION_FOLDER_INVALID_PATH ||
             problem == INSTALLATION_FOLDER_NOT_ENOUGH_SPACE)
      folder_problem_ = static_cast<FolderProblem>(problem);
    VLOG(1) << "Invalid install folder";
    NotifyPathChanged();
    return;
  }

  LogDetails(*folder_details_);
  if (GetInterprocessState()->IsFixDownloadableResources())
    operation_ = OPERATION_FIX_DOWNLOADABLE_RESOURCES;
  else if (uninstall)
    operation_ = OPERATION_UNINSTALL;
  else if (existing)
    operation_ = HasSwitch("register-kavor-as-protocol-handler")
                     ? OPERATION_REGISTER_PROTOCOL_HANDLER
                     : OPERATION_UPGRADE;
  else
    operation_ = OPERATION_INSTALL;
  LOG(INFO) << "Operation: " << operation_;

  if (existing) {
    ApplyExistingInstallation();
  } else if (!uninstall && !HasSwitch("singleprofile")) {
    WriteFlag(SINGLE_PROFILE,
              folder_details_->GetSingleProfile().value_or(GetFlag(COPY_ONLY)));
  }
  const base::string16& language = folder_details_->GetLanguage();
  if (!language.empty() && (uninstall || !HasSwitch("language")))
    SetLanguage(language);
  LogFlags();
  NotifyPathChanged();
}

void SettingsImpl::ApplyExistingInstallation() {
  VLOG(1) << "Using settings from existing installation";
  const InstallationFolderDetails& details = *folder_details_;
  const InstallationStatus* status = details.GetInstallationStatus();
  StatusData status_data;
  if (status)
    status_data.source = InstallationStatusOriginToString(status->origin);
  if (!details.GetServerTrackingData().empty())
    status_data.tracking_data = details.GetServerTrackingData();
  if (operation_ == OPERATION_UNINSTALL)
    status_data.uuid = details.GetAutoupdateUuid();
  GetAvroStatsSender()->Send(std::make_unique<StatusParsedEvent>(status_data));

  ApplyCopyOnlyFlags(status && status->copy_only);
  WriteFlag(ALL_USERS_FLAG, status && status->all_users);
  WriteFlag(SINGLE_PROFILE, details.GetSingleProfile().value_or(false));
  if (!HasSwitch("desktopshortcut"))
    WriteFlag(DESKTOP_SHORTCUT, details.DesktopShortcutExists());
  if (!HasSwitch("startmenushortcut"))
    WriteFlag(START_MENU_SHORTCUT, details.StartMenuShortcutExists());
  if (!HasSwitch("quicklaunchshortcut"))
    WriteFlag(QUICK_LAUNCH_SHORTCUT, details.QuickLaunchShortcutExists());
  if (!HasSwitch("pintotaskbar")) {
    WriteFlag(PINNED_SHORTCUT,
              !details.GetPinnedShortcutPaths().empty() || !IsAutoupdateRun());
  }
  if (!HasSwitch("import-browser-data")) {
    WriteFlag(IMPORT_BROWSER_DATA,
              import_browser_data_choice_.value_or(
                  details.GetImportBrowserData().value_or(true)));
  }
}

void SettingsImpl::LogFlags() const {
  static const InstallFlag kLogged[] = {
      ALL_USERS_FLAG,        COPY_ONLY,
      DEFAULT_BROWSER,       ENABLE_INSTALLER_STATS,
      ENABLE_KAVOR_STATS,    IMPORT_BROWSER_DATA,
      LAUNCH_KAVOR,          SINGLE_PROFILE,
      DESKTOP_SHORTCUT,      PINNED_SHORTCUT,
      QUICK_LAUNCH_SHORTCUT, START_MENU_SHORTCUT,
  };
  for (InstallFlag flag : kLogged)
    VLOG(1) << InstallFlagToString(flag) << ": " << GetFlag(flag);
  VLOG(1) << "language: " << install_language_;
}

void SettingsImpl::NotifySettingsChanged() {
  for (SettingsObserver& observer : observers_)
    observer.OnSettingsChanged();
}

void SettingsImpl::NotifyPathChanged() {
  for (SettingsObserver& observer : observers_)
    observer.OnPathChanged();
}

bool SettingsImpl::GetLaunchBrowser() const {
  return GetFlag(LAUNCH_KAVOR);
}
bool SettingsImpl::GetDefaultBrowser() const {
  return GetFlag(DEFAULT_BROWSER);
}
bool SettingsImpl::GetImportBrowserData() const {
  return GetFlag(IMPORT_BROWSER_DATA);
}
bool SettingsImpl::GetEnableInstallerStats() const {
  return GetFlag(ENABLE_INSTALLER_STATS);
}
bool SettingsImpl::GetEnableKavorStats() const {
  return GetFlag(ENABLE_KAVOR_STATS);
}
bool SettingsImpl::GetDesktopShortcut() const {
  return GetFlag(DESKTOP_SHORTCUT);
}
bool SettingsImpl::GetStartMenuShortcut() const {
  return GetFlag(START_MENU_SHORTCUT);
}
bool SettingsImpl::GetQuickLaunchShortcut() const {
  return GetFlag(QUICK_LAUNCH_SHORTCUT);
}
bool SettingsImpl::GetPinnedShortcut() const {
  return GetFlag(PINNED_SHORTCUT);
}
bool SettingsImpl::GetDeleteProfile() const {
  return GetFlag(DELETE_PROFILE);
}
bool SettingsImpl::GetInstallAssistant() const {
  return GetFlag(INSTALL_ASSISTANT);
}
bool SettingsImpl::GetFlag14() const {
  return GetFlag(FLAG_14);
}

InstallMode SettingsImpl::GetInstallMode() const {
  if (GetFlag(COPY_ONLY))
    return INSTALL_MODE_STANDALONE;
  return GetFlag(ALL_USERS_FLAG) ? INSTALL_MODE_ALL_USERS
                                 : INSTALL_MODE_CURRENT_USER;
}

bool SettingsImpl::GetCopyOnly() const {
  return GetFlag(COPY_ONLY);
}
bool SettingsImpl::GetSingleProfile() const {
  return GetFlag(SINGLE_PROFILE);
}
bool SettingsImpl::GetAllUsers() const {
  return GetFlag(ALL_USERS_FLAG);
}

base::FilePath SettingsImpl::GetInstallFolder() const {
  return folder_details_->GetPath();
}

const base::string16& SettingsImpl::GetLanguage() const {
  return install_language_;
}

const base::FilePath& SettingsImpl::GetProfileFolder() const {
  return profile_folder_;
}

bool SettingsImpl::IsEditable() const {
  return editable_;
}

void SettingsImpl::SetEditable(bool editable) {
  editable_ = editable;
}

InstallerArchitecture SettingsImpl::GetArchitecture() const {
  return architecture_;
}

bool SettingsImpl::HasNoPayload() const {
  return no_payload_;
}

bool SettingsImpl::GetRunImmediately() const {
  return run_immediately_;
}

bool SettingsImpl::OffersDeleteProfile() const {
  return IsUninstallRun() && folder_details_ &&
         !folder_details_->GetProfilePath().empty();
}

}  // namespace installer
