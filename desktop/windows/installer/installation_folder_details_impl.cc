#include "desktop/windows/installer/installation_folder_details_impl.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "base/base_paths.h"
#include "base/bind.h"
#include "base/features/list_value_feature_reader.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/sys_info.h"
#include "base/values.h"
#include "base/win/windows_version.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/existing_installation_reader.h"
#include "desktop/windows/installer/installer_experiments.h"
#include "desktop/windows/installer/installer_object_names.h"
#include "desktop/windows/installer/service/global_storage_win.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/service/taskband_utils.h"

namespace installer {

namespace {

constexpr wchar_t kLauncherExe[] = L"launcher.exe";
constexpr wchar_t kInstallerPrefsFileName[] = L"installer_prefs.json";
constexpr wchar_t kServerTrackingDataFileName[] = L"server_tracking_data";
constexpr wchar_t kLocalStateFileName[] = L"Local State";
constexpr char kAutoupdateUuidName[] = "UUID";

// What one volume needs free; a volume that holds both the temporary folder
// (where the package is unpacked) and the target needs it twice.
constexpr uint64_t kRequiredSpaceMb = 200;
constexpr int64_t kBytesPerMb = 1024 * 1024;

// Read, write and execute of a folder.
constexpr uint32_t kFolderReadWriteExecute = 0x1201BF;

InstallationFolderDetailsFactory* g_factory_for_testing = nullptr;

// The named kernel objects of one installation, each made of its name and
// the install folder (MakeKernelObjectName), and the mailslot, made of its
// prefix and the folder. Every installer process examines the folder with
// this check before it makes any of them, so a folder they would not fit
// is refused when it is chosen instead of failing the run once it started.
constexpr struct {
  const wchar_t* name;
  bool global;
} kInstallationKernelObjects[] = {
    // clang-format off
    {kInstallerMutexName, true},
    {kPackageReadyEventName, true},
    {kInterruptedEventName, true},
    {kHandOverSucceededEventName, true},
    {kGivePermissionEventName, false},
    {kGivePermissionUndoEventName, false},
    // clang-format on
};

// The system takes object and mailslot names of fewer than MAX_PATH
// characters.
constexpr size_t kMaxKernelObjectNameLength = MAX_PATH - 1;

size_t LongestKernelObjectName(const base::FilePath& folder) {
  size_t longest = base::string16(kMailslotNamespace).size() +
                   base::string16(kMailslotPrefix).size() +
                   folder.value().size();
  for (const auto& object : kInstallationKernelObjects) {
    longest = std::max(
        longest,
        MakeKernelObjectName(object.name, folder, object.global).size());
  }
  return longest;
}

// A record's copy-only flag holds only while nothing of a system
// integration was recorded, and a machine-wide key makes it an all-users
// installation whatever the flag says.
void NormalizeStatus(InstallationStatus* status) {
  status->copy_only =
      status->copy_only && status->hklm_keys.empty() &&
      status->hkcu_keys.empty() && status->desktop_shortcut.empty() &&
      status->menu_shortcut.empty() && status->quick_launch_shortcut.empty();
  status->all_users =
      !status->copy_only && (status->all_users || !status->hklm_keys.empty());
}

base::FilePath GetVolume(const base::FilePath& path) {
  std::vector<base::FilePath::StringType> components;
  path.GetComponents(&components);
  if (components.empty())
    return base::FilePath();
  return base::FilePath(base::ToUpperASCII(components.front()));
}

// Sets |*out| from a boolean preference and unsets it for anything else.
void ReadOptionalBool(const base::DictionaryValue& prefs,
                      const char* key,
                      std::optional<bool>* out) {
  const base::Value* value = nullptr;
  bool flag = false;
  if (prefs.Get(key, &value) && value->GetAsBoolean(&flag))
    *out = flag;
  else
    out->reset();
}

}  // namespace

int64_t QueryFreeDiskSpace(const base::FilePath& volume) {
  // "C:" alone would name the drive's current folder; the root is meant.
  base::FilePath root = volume;
  if (!root.empty() &&
      !base::FilePath::IsSeparator(root.value()[root.value().size() - 1])) {
    root = base::FilePath(root.value() + L"\\");
  }
  return base::SysInfo::AmountOfFreeDiskSpace(root);
}

InstallationFolderDetailsImpl::InstallationFolderDetailsImpl()
    : InstallationFolderDetailsImpl(base::BindRepeating(&QueryFreeDiskSpace)) {}

InstallationFolderDetailsImpl::InstallationFolderDetailsImpl(
    FreeDiskSpaceQuery free_space)
    : InstallationFolderDetailsImpl(std::move(free_space),
                                    std::make_unique<TaskbandUtilsImpl>()) {}

InstallationFolderDetailsImpl::InstallationFolderDetailsImpl(
    FreeDiskSpaceQuery free_space, std::unique_ptr<TaskbandUtils> taskband)
    : free_space_(std::move(free_space)), taskband_(std::move(taskband)) {
  // The installer's own experiments, so that the folder's recorded states
  // have something to override.
  RegisterInstallerExperiments(&experiments_);
}

InstallationFolderDetailsImpl::~InstallationFolderDetailsImpl() = default;

void InstallationFolderDetailsImpl::Initialize(const base::FilePath& path,
                                               bool recovery_mode) {
  VLOG(1) << "Initializing status: " << path << " with recovery mode "
          << static_cast<int>(recovery_mode);
  path_ = path;
  installation_folder_problem_ = INSTALLATION_FOLDER_INVALID_PATH;
  existing_installation_traces_ = false;
  status_read_error_.clear();
  status_file_contents_.clear();
  status_.reset();

  if (!CheckPathValidity())
    return;

  if (base::DirectoryExists(path_))
    ExamineExistingFolder(recovery_mode);
  else
    FindValidParentFolder();

  CheckDiskSpace();

  if (status_)
    FindShortcuts();

  if (installation_folder_problem_ == INSTALLATION_FOLDER_VALID)
    DetermineWriteAccess();

  if (!status_)
    return;

  // The record found here, not the file read again: the installation must
  // answer for what this examination saw.
  InstallationImpl installation(path_,
                                std::make_unique<InstallationStatus>(*status_));
  VLOG(1) << "Determining whether we handled http";
  is_http_handler_ = installation.IsDefaultHandlerFor(L"http");

  VLOG(1) << "Reading existing tracking data";
  if (!base::ReadFileToString(path_.Append(kServerTrackingDataFileName),
                              &server_tracking_data_)) {
    server_tracking_data_.clear();
  }

  ReadInstallerPrefs();
  ReadProfile(&installation);

  // The storage may still find older values in the profile's fallback file.
  // An unknown profile is told too, as an empty folder: the storage is the
  // process's, and must forget the fallback file of an earlier examination.
  GlobalStorageWin* storage = GlobalStorageWin::GetInstance();
  storage->MigrateFromFile(profile_path_);
  if (storage->Get(kAutoupdateUuidName, &autoupdate_uuid_) !=
      GLOBAL_STORAGE_DONE) {
    LOG(ERROR) << "Cannot read the autoupdate UUID";
    autoupdate_uuid_.clear();
  }
}

bool InstallationFolderDetailsImpl::CheckPathValidity() {
  invalid_path_reason_ = FindInvalidPathReason();
  if (invalid_path_reason_.empty())
    return true;
  LOG(INFO) << "Install folder refused: \"" << path_.value() << "\" "
            << invalid_path_reason_;
  return false;
}

std::string InstallationFolderDetailsImpl::FindInvalidPathReason() const {
  if (path_.empty())
    return "is empty";
  if (!IsValidPathName(path_, true)) {
    return "is not a valid Windows folder path (too long, a device name, a "
           "part ending in a dot or blank or a character Windows refuses)";
  }
  if (!path_.IsAbsolute())
    return "is relative";
  if (!base::DirectoryExists(path_) && base::PathExists(path_))
    return "is a file";
  if (!base::PathIsWritable(path_)) {
    const base::string16 root = path_.value().substr(0, 3);
    const UINT type = ::GetDriveTypeW(root.c_str());
    if (type == DRIVE_NO_ROOT_DIR)
      return "is on no drive or share that can be reached";
    if (type == DRIVE_CDROM)
      return "is on a CD-ROM that cannot be written";
  }
  const size_t name_length = LongestKernelObjectName(path_);
  if (name_length > kMaxKernelObjectNameLength) {
    // A shorter folder shortens every name alike.
    const size_t fitting =
        path_.value().size() - (name_length - kMaxKernelObjectNameLength);
    return "is too long: the names of the installation's kernel objects, "
           "which carry the folder, would pass the system's limit; at most " +
           base::Uint64ToString(fitting) + " characters fit";
  }
  return std::string();
}

void InstallationFolderDetailsImpl::ExamineExistingFolder(bool recovery_mode) {
  VLOG(1) << "Path is a folder";
  valid_parent_folder_ = path_;
  status_ = InstallationStatusFileReaderImpl().Read(
      path_, recovery_mode, &status_read_error_, &status_file_contents_);
  if (status_) {
    VLOG(1) << "Path is an existing installation";
    NormalizeStatus(status_.get());
  } else {
    VLOG(1) << "Path is not an existing installation";
    existing_installation_traces_ =
        base::PathExists(path_.Append(kLauncherExe));
  }
}

void InstallationFolderDetailsImpl::FindValidParentFolder() {
  base::FilePath current = path_.DirName();
  while (true) {
    if (base::DirectoryExists(current)) {
      VLOG(1) << "Path is valid";
      valid_parent_folder_ = current;
      return;
    }
    if (base::PathExists(current)) {
      VLOG(1) << "Path is child of a file (invalid)";
      return;
    }
    base::FilePath parent = current.DirName();
    if (parent == current) {
      VLOG(1) << "Path is a root folder that's not valid"
              << "(probably invalid drive letter)";
      return;
    }
    current = parent;
  }
}

void InstallationFolderDetailsImpl::CheckDiskSpace() {
  low_space_volumes_.clear();
  base::FilePath temp;
  if (!base::PathService::Get(base::DIR_TEMP, &temp))
    temp.clear();
  const base::FilePath temp_volume = GetVolume(temp);
  const base::FilePath target_volume = GetVolume(path_);

  std::vector<LowSpaceVolume> needed;
  if (temp_volume == target_volume) {
    needed.push_back({target_volume, 2 * kRequiredSpaceMb});
  } else {
    needed.push_back({temp_volume, kRequiredSpaceMb});
    needed.push_back({target_volume, kRequiredSpaceMb});
  }
  for (const LowSpaceVolume& volume : needed) {
    const int64_t free_bytes = free_space_.Run(volume.volume);
    // A failed query (-1) counts as too little.
    if (free_bytes < 0 ||
        static_cast<uint64_t>(free_bytes / kBytesPerMb) < volume.required_mb) {
      low_space_volumes_.push_back(volume);
    }
  }
  installation_folder_problem_ = low_space_volumes_.empty()
                                     ? INSTALLATION_FOLDER_VALID
                                     : INSTALLATION_FOLDER_NOT_ENOUGH_SPACE;
}

void InstallationFolderDetailsImpl::FindShortcuts() {
  VLOG(1) << "Testing shortcuts";
  const base::FilePath browser_exe =
      base::FilePath(base::UTF8ToUTF16(GetBrowserExeName()));
  TestShortcutTarget(path_.Append(kLauncherExe), true);
  TestShortcutTarget(path_.Append(browser_exe), false);
  if (!status_->subfolder.empty()) {
    const base::FilePath version_folder =
        status_->subfolder.IsAbsolute() ? status_->subfolder
                                        : path_.Append(status_->subfolder);
    TestShortcutTarget(version_folder.Append(browser_exe), false);
  }

  if (temporary_shortcut_folder_.empty()) {
    base::FilePath programs;
    if (base::PathService::Get(base::DIR_START_MENU, &programs)) {
      temporary_shortcut_folder_ =
          programs.Append(base::UTF8ToUTF16(GetCompanyName()));
    }
  }
  temporary_shortcut_folder_exists_ =
      !temporary_shortcut_folder_.empty() &&
      base::DirectoryExists(temporary_shortcut_folder_);
}

void InstallationFolderDetailsImpl::TestShortcutTarget(
    const base::FilePath& target, bool is_launcher) {
  BY_HANDLE_FILE_INFORMATION target_info;
  if (!GetFileInformationByPath(target, &target_info))
    return;

  struct Shortcut {
    const base::FilePath* path;
    bool* exists;
    bool* recreate;
  };
  const Shortcut shortcuts[] = {
      {&status_->desktop_shortcut, &desktop_shortcut_exists_,
       &recreate_desktop_shortcut_},
      {&status_->menu_shortcut, &start_menu_shortcut_exists_,
       &recreate_start_menu_shortcut_},
      {&status_->quick_launch_shortcut, &quick_launch_shortcut_exists_,
       &recreate_quick_launch_shortcut_},
  };
  // Since Windows 8 the start menu shows tiles, whose shortcut the launcher
  // no longer serves as it did: it is made anew unless found earlier.
  if (base::win::GetVersion() >= base::win::WIN8 &&
      !start_menu_shortcut_exists_) {
    recreate_start_menu_shortcut_ = true;
  }
  for (const Shortcut& shortcut : shortcuts) {
    if (*shortcut.exists || shortcut.path->empty())
      continue;
    if (IsShortcutToTarget(*shortcut.path, target, &target_info)) {
      *shortcut.exists = true;
      // A shortcut straight to the browser bypasses the launcher: it is made
      // again, pointing at the launcher.
      if (!is_launcher)
        *shortcut.recreate = true;
    }
  }
  // Pins are looked for only until one target has some: the first target
  // with pins is the one the pins were made for.
  if (pinned_shortcut_paths_.empty()) {
    taskband_->FindPinnedShortcuts(target, status_->app_id, &target_info,
                                   &pinned_shortcut_paths_);
    // A pin straight to the browser bypasses the launcher, as above.
    if (!pinned_shortcut_paths_.empty() && !is_launcher)
      recreate_pinned_shortcut_ = true;
  }
  if (suffixed_pinned_shortcut_paths_.empty()) {
    taskband_->FindPinnedShortcuts(target, status_->GetSuffixedAppId(),
                                   &target_info,
                                   &suffixed_pinned_shortcut_paths_);
  }
}

void InstallationFolderDetailsImpl::DetermineWriteAccess() {
  VLOG(1) << "Determining write access";
  if (valid_parent_folder_.empty()) {
    has_write_access_ = false;
    return;
  }
  const uint32_t rights =
      base::PathExists(path_) ? kFolderReadWriteExecute : FILE_ADD_SUBDIRECTORY;
  has_write_access_ = SecurityUtilsImpl::GetInstance()->HasAccess(
      valid_parent_folder_.value(), SE_FILE_OBJECT, rights);
}

void InstallationFolderDetailsImpl::ReadInstallerPrefs() {
  const base::FilePath prefs_path = path_.Append(kInstallerPrefsFileName);
  if (!base::PathExists(prefs_path))
    return;
  VLOG(1) << "Reading existing prefs";
  // Examining a folder must leave it as it was: the store would move a
  // damaged file aside and might write a backup copy.
  std::unique_ptr<base::DictionaryValue> prefs =
      JsonPrefStore::ReadPrefsWithoutChanges(prefs_path);
  if (!prefs)
    prefs = std::make_unique<base::DictionaryValue>();
  ReadOptionalBool(*prefs, "single_profile", &single_profile_);
  ReadOptionalBool(*prefs, "import_browser_data", &import_browser_data_);
  ReadOptionalBool(*prefs, "enable_stats", &enable_stats_);
  const base::Value* value = nullptr;
  base::string16 language;
  if (prefs->Get("language", &value) && value->GetAsString(&language))
    language_ = language;
  std::string welcome_url;
  if (prefs->Get("welcome-url", &value) && value->GetAsString(&welcome_url))
    welcome_url_ = welcome_url;

  VLOG(1) << "Reading existing experiments status";
  const base::ListValue* experiments = nullptr;
  if (prefs->Get("all-installer-experiments", &value) &&
      value->GetAsList(&experiments)) {
    base::ListValueFeatureReader reader(experiments);
    experiments_.ApplyReader(&reader);
  }
  if (experiments_.IsEnabled(kInstallerExperimentTest))
    LOG(INFO) << "Test experiment was enabled in install folder.";
}

void InstallationFolderDetailsImpl::ReadProfile(Installation* installation) {
  VLOG(1) << "Finding current user profile";
  profile_path_.clear();
  if (!installation->GetProfileDirectory(&profile_path_)) {
    profile_path_.clear();
    return;
  }
  // As with the installer preferences: the profile belongs to the browser,
  // and looking at it must not move a damaged file aside.
  std::unique_ptr<base::DictionaryValue> local_state =
      JsonPrefStore::ReadPrefsWithoutChanges(
          profile_path_.Append(kLocalStateFileName));
  if (!local_state)
    return;
  VLOG(1) << "Obtaining current user language";
  base::string16 language;
  if (local_state->GetString("intl.app_locale", &language))
    language_ = language;
}

const std::string& InstallationFolderDetailsImpl::GetInvalidPathReason() const {
  return invalid_path_reason_;
}

const InstallationStatus* InstallationFolderDetailsImpl::GetInstallationStatus()
    const {
  return status_.get();
}

const base::FilePath& InstallationFolderDetailsImpl::GetPath() const {
  return path_;
}

const base::FilePath& InstallationFolderDetailsImpl::GetValidParentFolder()
    const {
  return valid_parent_folder_;
}

int32_t InstallationFolderDetailsImpl::GetInstallationFolderProblem() const {
  return installation_folder_problem_;
}

std::vector<LowSpaceVolume> InstallationFolderDetailsImpl::GetLowSpaceVolumes()
    const {
  return low_space_volumes_;
}

bool InstallationFolderDetailsImpl::HasExistingInstallation() const {
  return status_ != nullptr;
}

bool InstallationFolderDetailsImpl::HasExistingInstallationTraces() const {
  return existing_installation_traces_;
}

const std::string& InstallationFolderDetailsImpl::GetStatusReadError() const {
  return status_read_error_;
}

const std::string& InstallationFolderDetailsImpl::GetStatusFileContents()
    const {
  return status_file_contents_;
}

const std::string& InstallationFolderDetailsImpl::GetWelcomeUrl() const {
  return welcome_url_;
}

bool InstallationFolderDetailsImpl::DesktopShortcutExists() const {
  return desktop_shortcut_exists_;
}

std::optional<bool> InstallationFolderDetailsImpl::GetEnableStats() const {
  return enable_stats_;
}

bool InstallationFolderDetailsImpl::HasWriteAccess() const {
  return has_write_access_;
}

std::optional<bool> InstallationFolderDetailsImpl::GetImportBrowserData()
    const {
  return import_browser_data_;
}

bool InstallationFolderDetailsImpl::IsHttpHandler() const {
  return is_http_handler_;
}

const base::string16& InstallationFolderDetailsImpl::GetLanguage() const {
  return language_;
}

int32_t InstallationFolderDetailsImpl::GetOldProductType() const {
  return old_product_type_;
}

const std::vector<base::FilePath>&
InstallationFolderDetailsImpl::GetPinnedShortcutPaths() const {
  return pinned_shortcut_paths_;
}

const std::vector<base::FilePath>&
InstallationFolderDetailsImpl::GetSuffixedPinnedShortcutPaths() const {
  return suffixed_pinned_shortcut_paths_;
}

const base::FilePath& InstallationFolderDetailsImpl::GetProfilePath() const {
  return profile_path_;
}

bool InstallationFolderDetailsImpl::QuickLaunchShortcutExists() const {
  return quick_launch_shortcut_exists_;
}

const base::FilePath&
InstallationFolderDetailsImpl::GetTemporaryShortcutFolder() const {
  return temporary_shortcut_folder_;
}

bool InstallationFolderDetailsImpl::TemporaryShortcutFolderExists() const {
  return temporary_shortcut_folder_exists_;
}

const std::string& InstallationFolderDetailsImpl::GetServerTrackingData()
    const {
  return server_tracking_data_;
}

bool InstallationFolderDetailsImpl::RecreateDesktopShortcut() const {
  return recreate_desktop_shortcut_;
}

bool InstallationFolderDetailsImpl::RecreatePinnedShortcut() const {
  return recreate_pinned_shortcut_;
}

bool InstallationFolderDetailsImpl::RecreateQuickLaunchShortcut() const {
  return recreate_quick_launch_shortcut_;
}

bool InstallationFolderDetailsImpl::RecreateStartMenuShortcut() const {
  return recreate_start_menu_shortcut_;
}

std::optional<bool> InstallationFolderDetailsImpl::GetSingleProfile() const {
  return single_profile_;
}

bool InstallationFolderDetailsImpl::StartMenuShortcutExists() const {
  return start_menu_shortcut_exists_;
}

bool InstallationFolderDetailsImpl::IsExperimentEnabled(
    const std::string& name) const {
  return experiments_.IsEnabled(name);
}

const std::string& InstallationFolderDetailsImpl::GetAutoupdateUuid() const {
  return autoupdate_uuid_;
}

std::unique_ptr<InstallationFolderDetails> CreateInstallationFolderDetails() {
  if (g_factory_for_testing)
    return g_factory_for_testing->Run();
  return std::make_unique<InstallationFolderDetailsImpl>();
}

void SetInstallationFolderDetailsFactoryForTesting(
    InstallationFolderDetailsFactory factory) {
  delete g_factory_for_testing;
  g_factory_for_testing =
      factory ? new InstallationFolderDetailsFactory(std::move(factory))
              : nullptr;
}

}  // namespace installer
