#include "desktop/windows/installer/steps/shortcut_steps.h"

#include <optional>
#include <utility>

#include "base/base_paths.h"
#include "base/base_paths_win.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/shortcut.h"
#include "desktop/windows/installer/common/product_info.h"
#include "desktop/windows/installer/common/tracking_data_dictionary.h"
#include "desktop/windows/installer/installation_folder_details.h"
#include "desktop/windows/installer/installer_step_context.h"
#include "desktop/windows/installer/interprocess_state.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/taskband_utils.h"
#include "desktop/windows/installer/service/transactions/file_operations.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/l10n_handler/l10n_handler.h"

namespace installer {

namespace {

const wchar_t kLauncherName[] = L"launcher.exe";
const wchar_t kAppIdPrefix[] = L"KavorSoftware.KavorWebBrowser.";
const wchar_t kResourcesFolder[] = L"resources";
const wchar_t kTrackingUserAgentName[] = L"tracking_user_agent.json";

// Shortcuts that no longer exist: the outcome only shows in the log.
void DeleteShortcutFile(Transaction* transaction, const base::FilePath& path) {
  std::string error;
  if (!ExecuteOperation(
          transaction,
          std::make_unique<DeleteFileOperation>(path, false, false), &error)) {
    VLOG(1) << "Cannot delete " << path.value() << ": " << error;
  }
}

}  // namespace

int ShortcutFolderKey(int kind, bool all_users) {
  switch (kind) {
    case SHORTCUT_DESKTOP:
      return all_users ? static_cast<int>(base::DIR_COMMON_DESKTOP)
                       : static_cast<int>(base::DIR_USER_DESKTOP);
    case SHORTCUT_START_MENU:
      return all_users ? base::DIR_COMMON_START_MENU : base::DIR_START_MENU;
    default:
      return base::DIR_USER_QUICK_LAUNCH;
  }
}

ShortcutsStep::ShortcutsStep(const std::string& name,
                             InstallerStepContext* context,
                             InterprocessState* state,
                             std::unique_ptr<TaskbandUtils> taskband)
    : InstallerStep(name, context),
      state_(state),
      taskband_(std::move(taskband)) {}

ShortcutsStep::~ShortcutsStep() = default;

// static
base::FilePath ShortcutsStep::GetShortcutName() {
  return base::FilePath(ProductInfoImpl::GetInstance()->GetShortcutFileName(
      GetString(IDS_SHORTCUT_NAME)));
}

void ShortcutsStep::CreateShortcuts(ShortcutDestinations& destinations,
                                    bool pinning,
                                    const base::FilePath& target) {
  const InstallationStatus* status = GetStatusUnderConstruction();
  base::win::ShortcutProperties properties;
  properties.set_target(target);
  properties.set_working_dir(target.DirName());
  properties.set_app_id(kAppIdPrefix + status->app_id);

  const base::FilePath name = GetShortcutName();
  LOG(INFO) << "Using shortcut name " << name.value();
  LOG(INFO) << "Creating master shortcut";
  // A relative folder would put the shortcuts wherever the process happens
  // to run, and the copies would carry them from there.
  const base::FilePath package = GetPackageDir();
  if (package.empty() || !package.IsAbsolute()) {
    LOG(ERROR) << "No shortcuts: the package folder is not known as a full "
                  "path (\""
               << package.value() << "\")";
    return;
  }
  const base::FilePath master = package.Append(name);
  LOG(INFO) << "Creating master shortcut at " << master.value();
  if (!base::win::CreateOrUpdateShortcutLink(master, properties,
                                             base::win::SHORTCUT_CREATE)) {
    LOG(ERROR) << "Failed to create shortcut at " << master.value();
    return;
  }
  const base::FilePath helper_folder = GetTargetFolder();
  if (pinning) {
    LOG(INFO) << "Pinning master shortcut";
    if (!taskband_->PinShortcut(helper_folder, master, 0))
      LOG(ERROR) << "Failed pinning " << master.value();
  }

  Transaction* transaction = GetContext()->GetTransaction();
  bool start_menu_copied = false;
  for (int kind = 0; kind < SHORTCUT_DESTINATION_COUNT; ++kind) {
    ShortcutDestination& destination = destinations[kind];
    if (!destination.create)
      continue;
    const base::FilePath path = destination.folder.Append(name);
    DeleteShortcutFile(transaction, path);
    std::string error;
    if (!ExecuteOperation(transaction,
                          std::make_unique<CopyFileOperation>(master, path),
                          &error)) {
      LOG(ERROR) << "Cannot copy the shortcut to " << path.value() << ": "
                 << error;
      continue;
    }
    *destination.status_path = path;
    if (kind == SHORTCUT_START_MENU)
      start_menu_copied = true;
  }
  if (start_menu_copied && !state_->IsAutoupdate() &&
      !taskband_->PinShortcutWithHelper(helper_folder, master)) {
    LOG(ERROR) << "Failed pinning (S) " << master.value();
  }
  if (pinning)
    CreateSocialSiteShortcut(package, target);
}

void ShortcutsStep::CreateSocialSiteShortcut(const base::FilePath& package,
                                             const base::FilePath& target) {
  const base::FilePath resources = GetTargetFolder().Append(kResourcesFolder);
  const TrackingDataDictionary* tracking = state_->GetTrackingData();
  const std::optional<std::string> medium =
      tracking ? tracking->GetString("utm.medium") : std::nullopt;
  if (medium != std::string("pb") &&
      !base::PathExists(resources.Append(kTrackingUserAgentName))) {
    return;
  }
  const std::string site =
      GetSettings()->GetLanguage() == L"ru" ? "vk" : "facebook";
  const base::string16 wide_site = base::UTF8ToUTF16(site);
  base::win::ShortcutProperties properties;
  properties.set_target(target);
  properties.set_app_id(kAppIdPrefix +
                        GetStatusUnderConstruction()->GetSuffixedAppId());
  properties.set_icon(resources.Append(wide_site + L"_icon.ico"), 0);
  properties.set_arguments(L"https://" + wide_site + L".com/");

  const base::FilePath shortcut = package.Append(wide_site + L".lnk");
  LOG(INFO) << "Creating " << site << " shortcut at " << shortcut.value();
  if (!base::win::CreateOrUpdateShortcutLink(shortcut, properties,
                                             base::win::SHORTCUT_CREATE)) {
    LOG(ERROR) << "Failed to create " << site << " shortcut at "
               << shortcut.value();
    return;
  }
  LOG(INFO) << "Pinning " << site << " shortcut";
  if (!taskband_->PinShortcut(GetTargetFolder(), shortcut, 0))
    LOG(ERROR) << "Failed pinning " << site << ": " << shortcut.value();
}

void ShortcutsStep::UnpinShortcuts(
    const std::vector<base::FilePath>& shortcuts) {
  for (const base::FilePath& shortcut : shortcuts) {
    LOG(INFO) << "Unpinning shortcut " << shortcut.value();
    LOG(INFO) << "Unpinning "
              << (taskband_->UnpinShortcut(shortcut) ? "successful" : "failed");
    DeleteShortcutFile(GetContext()->GetTransaction(), shortcut);
  }
}

InstallShortcutsStep::InstallShortcutsStep(
    InstallerStepContext* context,
    InterprocessState* state,
    std::unique_ptr<TaskbandUtils> taskband)
    : ShortcutsStep("install_shortcuts", context, state, std::move(taskband)) {}

InstallShortcutsStep::~InstallShortcutsStep() = default;

void InstallShortcutsStep::Execute(InstallerStepResult* result, int attempt) {
  *result = InstallerStepResult(STEP_DONE);
  Settings* settings = GetSettings();
  if (settings->GetCopyOnly())
    return;
  LOG(INFO) << "Installing shortcuts";
  const base::FilePath target =
      GetContext()->GetInstallFolder().Append(kLauncherName);
  InstallationStatus* status = GetStatusUnderConstruction();

  const bool all_users = settings->GetAllUsers();
  struct Source {
    bool wanted;
    base::FilePath* status_path;
    const char* log;
  };
  const Source sources[SHORTCUT_DESTINATION_COUNT] = {
      {settings->GetDesktopShortcut(), &status->desktop_shortcut,
       all_users ? "Preparing  to set up shortcut on common desktop"
                 : "Preparing  to set up shortcut on user desktop"},
      {settings->GetStartMenuShortcut(), &status->menu_shortcut,
       all_users ? "Preparing  to set up shortcut in common start menu"
                 : "Preparing  to set up shortcut in user start menu"},
      {settings->GetQuickLaunchShortcut(), &status->quick_launch_shortcut,
       "Preparing  to set up shortcut in user quick launch"},
  };
  ShortcutDestinations destinations;
  for (int kind = 0; kind < SHORTCUT_DESTINATION_COUNT; ++kind) {
    const Source& source = sources[kind];
    if (!source.wanted)
      continue;
    VLOG(2) << source.log;
    ShortcutDestination& destination = destinations[kind];
    if (!base::PathService::Get(ShortcutFolderKey(kind, all_users),
                                &destination.folder)) {
      LOG(ERROR) << "Cannot find the folder of shortcut " << kind;
      continue;
    }
    destination.status_path = source.status_path;
    destination.create = true;
  }
  CreateShortcuts(destinations, settings->GetPinnedShortcut(), target);
}

RemoveShortcutsStep::RemoveShortcutsStep(
    InstallerStepContext* context,
    InterprocessState* state,
    std::unique_ptr<TaskbandUtils> taskband)
    : ShortcutsStep("remove_shortcuts", context, state, std::move(taskband)) {}

RemoveShortcutsStep::~RemoveShortcutsStep() = default;

void RemoveShortcutsStep::Execute(InstallerStepResult* result, int attempt) {
  *result = InstallerStepResult(STEP_DONE);
  LOG(INFO) << "Removing shortctus.";
  const InstallationFolderDetails& details = GetFolderDetails();
  if (!details.GetPinnedShortcutPaths().empty()) {
    VLOG(1) << "Unpinning shortcuts";
    UnpinShortcuts(details.GetPinnedShortcutPaths());
  }
  if (!details.GetSuffixedPinnedShortcutPaths().empty()) {
    VLOG(1) << "Unpinning extra shortcuts";
    UnpinShortcuts(details.GetSuffixedPinnedShortcutPaths());
  }
  Transaction* transaction = GetContext()->GetTransaction();
  // The details find shortcuts only in a status record they hold.
  if (const InstallationStatus* existing = details.GetInstallationStatus()) {
    const struct {
      bool exists;
      const base::FilePath& path;
      const char* log;
    } kShortcuts[] = {
        {details.DesktopShortcutExists(), existing->desktop_shortcut,
         "Removing desktop shortcut."},
        {details.StartMenuShortcutExists(), existing->menu_shortcut,
         "Removing start menu shortcut."},
        {details.QuickLaunchShortcutExists(), existing->quick_launch_shortcut,
         "Removing quick launch shortcut."},
    };
    for (const auto& shortcut : kShortcuts) {
      if (!shortcut.exists)
        continue;
      VLOG(1) << shortcut.log;
      DeleteShortcutFile(transaction, shortcut.path);
    }
  }
  if (details.TemporaryShortcutFolderExists()) {
    VLOG(1) << "Removing temporary shortcut folder.";
    DeleteShortcutFile(transaction, details.GetTemporaryShortcutFolder());
  }
}

UpdateShortcutsStep::UpdateShortcutsStep(
    InstallerStepContext* context,
    InterprocessState* state,
    std::unique_ptr<TaskbandUtils> taskband)
    : ShortcutsStep("update_shortcuts", context, state, std::move(taskband)) {}

UpdateShortcutsStep::~UpdateShortcutsStep() = default;

bool UpdateShortcutsStep::ShortcutsNeedRenaming(
    const InstallationStatus& existing) const {
  const base::FilePath::StringType current =
      GetShortcutName().RemoveExtension().value();
  for (const base::FilePath* path :
       {&existing.desktop_shortcut, &existing.menu_shortcut,
        &existing.quick_launch_shortcut}) {
    if (path->empty())
      continue;
    if (path->BaseName().RemoveExtension().value() != current)
      return true;
  }
  return false;
}

void UpdateShortcutsStep::Execute(InstallerStepResult* result, int attempt) {
  *result = InstallerStepResult(STEP_DONE);
  Settings* settings = GetSettings();
  if (settings->GetCopyOnly())
    return;
  LOG(INFO) << "Updating shortcuts";
  const InstallationFolderDetails& details = GetFolderDetails();
  // An upgrade always has a record; without one nothing is known to exist.
  const InstallationStatus empty_status;
  const InstallationStatus& existing = details.GetInstallationStatus()
                                           ? *details.GetInstallationStatus()
                                           : empty_status;
  const bool rename = ShortcutsNeedRenaming(existing);
  if (rename)
    LOG(INFO) << "Shortcuts need to be renamed";

  InstallationStatus* status = GetStatusUnderConstruction();
  const struct {
    const char* log;
    bool exists;
    bool wanted;
    bool recreate;
    const base::FilePath& old_path;
    base::FilePath* new_path;
  } kKinds[SHORTCUT_DESTINATION_COUNT] = {
      {"Handling desktop shortcut:", details.DesktopShortcutExists(),
       settings->GetDesktopShortcut(), details.RecreateDesktopShortcut(),
       existing.desktop_shortcut, &status->desktop_shortcut},
      {"Handling start menu shortcut:", details.StartMenuShortcutExists(),
       settings->GetStartMenuShortcut(), details.RecreateStartMenuShortcut(),
       existing.menu_shortcut, &status->menu_shortcut},
      {"Handling quick launch shortcut:", details.QuickLaunchShortcutExists(),
       settings->GetQuickLaunchShortcut(),
       details.RecreateQuickLaunchShortcut(), existing.quick_launch_shortcut,
       &status->quick_launch_shortcut},
  };
  Transaction* transaction = GetContext()->GetTransaction();
  const bool all_users = settings->GetAllUsers();
  ShortcutDestinations destinations;
  for (int kind = 0; kind < SHORTCUT_DESTINATION_COUNT; ++kind) {
    const auto& shortcut = kKinds[kind];
    VLOG(1) << shortcut.log;
    base::FilePath folder;
    if (!base::PathService::Get(ShortcutFolderKey(kind, all_users), &folder))
      LOG(ERROR) << "Cannot find the folder of shortcut " << kind;
    ShortcutDestination& destination = destinations[kind];
    bool create = false;
    if (shortcut.exists && !shortcut.wanted) {
      VLOG(1) << "Removing shortcut";
      DeleteShortcutFile(transaction, shortcut.old_path);
    } else if (shortcut.exists && shortcut.recreate) {
      VLOG(1) << "Recreating shortcut";
      DeleteShortcutFile(transaction, shortcut.old_path);
      create = true;
    } else if (shortcut.exists) {
      // Kept where it is unless it moves to the new name.
      *shortcut.new_path = shortcut.old_path;
      if (rename && !folder.empty()) {
        const base::FilePath renamed = folder.Append(GetShortcutName());
        VLOG(1) << "Moving shortcut";
        std::string error;
        if (ExecuteOperation(transaction,
                             std::make_unique<MoveFileOperation>(
                                 shortcut.old_path, renamed, base::FilePath()),
                             &error)) {
          *shortcut.new_path = renamed;
        } else {
          LOG(ERROR) << "Cannot rename the shortcut "
                     << shortcut.old_path.value() << ": " << error;
        }
      }
    } else if (shortcut.wanted) {
      VLOG(1) << "Preparing to add shortcut";
      create = true;
    }
    if (create && !folder.empty()) {
      destination.folder = folder;
      destination.status_path = shortcut.new_path;
      destination.create = true;
    }
  }
  CreateShortcuts(destinations, DecidePinning(rename),
                  GetContext()->GetInstallFolder().Append(kLauncherName));
}

bool UpdateShortcutsStep::DecidePinning(bool rename) {
  VLOG(1) << "Handling pinned shortcut:";
  // The pins of a machine-wide installation are left to the runs a user
  // starts; an autoupdate neither takes them away nor adds one.
  if (state()->IsAutoupdate() && GetSettings()->GetAllUsers())
    return false;
  const std::vector<base::FilePath>& pinned =
      GetFolderDetails().GetPinnedShortcutPaths();
  const bool wanted = GetSettings()->GetPinnedShortcut();
  if (pinned.empty())
    return wanted;
  if (!wanted) {
    VLOG(1) << "Unpinning existing shortcuts";
    UnpinShortcuts(pinned);
    return false;
  }
  if (!rename && !GetFolderDetails().RecreatePinnedShortcut())
    return false;
  VLOG(1) << "Unpinning existing shortcuts (with repin)";
  UnpinShortcuts(pinned);
  return true;
}

}  // namespace installer
