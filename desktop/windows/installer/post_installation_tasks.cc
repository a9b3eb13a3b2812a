#include "desktop/windows/installer/post_installation_tasks.h"

#include <memory>
#include <string>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/memory/scoped_refptr.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/windows/installer/common/json_pref_store_factory.h"
#include "desktop/windows/installer/installer_utils.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/steps/write_installer_prefs_step.h"

namespace installer {

namespace {

const char kPostElevationSwitch[] = "post-elevated-install-tasks";

const wchar_t kLocalStateFileName[] = L"Local State";
const wchar_t kPreferencesFileName[] = L"Preferences";
const wchar_t kPartnerContentFileName[] = L"custom_partner_content.json";
const wchar_t kTrackingUserAgentFileName[] = L"tracking_user_agent.json";

const char* const kImportSwitches[] = {"import-bookmarks", "import-session",
                                       "import-topsites-to-startdial"};

// A store on |path| of the shared pool, or null when the file is missing or
// cannot be read as preferences. A profile file the installer does not
// understand is left to the browser as it is: opening a store on it would
// move it aside.
base::scoped_refptr<JsonPrefStore> OpenProfileStore(
    const base::FilePath& path) {
  if (!JsonPrefStore::ReadPrefsWithoutChanges(path)) {
    VLOG(1) << "Not changing " << path.value();
    return nullptr;
  }
  base::scoped_refptr<JsonPrefStore> store =
      CreateJsonPrefStore(GetPrefsTaskPool(), path);
  const PersistentPrefStore::PrefReadError error = store->GetReadError();
  if (error == PersistentPrefStore::kReadErrorNone)
    return store;
  LOG(WARNING) << "Not changing " << path.value() << ", read error " << error;
  return nullptr;
}

void Release(base::scoped_refptr<JsonPrefStore>* store,
             const base::FilePath& path) {
  if (*store)
    ReleasePrefStoreAndWait(store, path);
}

// Brings the profile's partner content in line with the package's. True
// when the profile's partner file was replaced or removed, which the
// browser must learn from "Local State".
bool UpdatePartnerContent(const base::FilePath& profile,
                          const base::FilePath& target_folder) {
  const base::FilePath resources = target_folder.Append(L"resources");
  const base::FilePath package_partner =
      resources.Append(kPartnerContentFileName);
  const base::FilePath package_tracking =
      resources.Append(kTrackingUserAgentFileName);
  const base::FilePath profile_partner =
      profile.Append(kPartnerContentFileName);
  const base::FilePath profile_tracking =
      profile.Append(kTrackingUserAgentFileName);
  const bool package_has_partner = base::PathExists(package_partner);

  if (!package_has_partner && !base::PathExists(package_tracking)) {
    // A package without partner content takes the earlier edition's away.
    bool partner_deleted = false;
    if (base::PathExists(profile_partner)) {
      partner_deleted = base::DeleteFile(profile_partner, false);
      if (!partner_deleted)
        LOG(WARNING) << "Cannot delete " << profile_partner.value();
    }
    if (!base::DeleteFile(profile_tracking, false))
      LOG(WARNING) << "Cannot delete " << profile_tracking.value();
    VLOG(1) << "Removing tracking ua file from the user profile";
    return partner_deleted;
  }
  // A profile that has partner or tracking content keeps it.
  if (base::PathExists(profile_partner) || base::PathExists(profile_tracking) ||
      !package_has_partner) {
    return false;
  }
  VLOG(1) << "Installed new cutsom edition to the user profile";
  if (!base::CopyFile(package_partner, profile_partner)) {
    LOG(WARNING) << "Failed to copy new custom edition file.";
    return false;
  }
  return true;
}

}  // namespace

void LaunchComponentPostElevationTasks(const InstallationStatus& status) {
  for (const InstallationComponent& component : status.components) {
    // The record comes from the status file: its name must stay a file
    // name inside the component's folder, and that folder must not depend
    // on the folder this process was started in.
    base::FilePath program;
    if (!GetComponentProgram(component, &program))
      continue;
    base::CommandLine command_line(program);
    command_line.AppendSwitch(kPostElevationSwitch);
    command_line.AppendSwitchPath("installfolder", component.path);
    LOG(INFO) << "Launching " << component.name
              << " component subinstaller with command line "
              << command_line.GetCommandLineString();
    // The process handle closes with the object: nothing waits for it.
    base::Process process =
        base::LaunchProcess(command_line, base::LaunchOptions());
    if (!process.IsValid())
      LOG(WARNING) << "Could not launch " << program.value();
  }
}

void UpdateUserProfile(const base::FilePath& profile,
                       const base::string16& language,
                       const base::FilePath& target_folder,
                       bool autoupdate) {
  VLOG(1) << "User profile modifications";
  const base::FilePath local_state_path = profile.Append(kLocalStateFileName);
  base::scoped_refptr<JsonPrefStore> local_state =
      OpenProfileStore(local_state_path);
  const base::Value* locale = nullptr;
  if (local_state && local_state->GetValue("intl.app_locale", &locale)) {
    VLOG(1) << "Updating user profile language";
    local_state->SetValue("intl.app_locale",
                          std::make_unique<base::Value>(language),
                          WritablePrefStore::DEFAULT_PREF_WRITE_FLAGS);
  }

  if (!autoupdate) {
    const base::FilePath preferences_path =
        profile.Append(kPreferencesFileName);
    base::scoped_refptr<JsonPrefStore> preferences =
        OpenProfileStore(preferences_path);
    if (preferences) {
      VLOG(1) << "Removing stat pref from the user profile";
      preferences->RemoveValue("statistics.collection_enabled",
                               WritablePrefStore::DEFAULT_PREF_WRITE_FLAGS);
    }
    Release(&preferences, preferences_path);
  }

  if (!autoupdate && local_state &&
      UpdatePartnerContent(profile, target_folder)) {
    VLOG(1) << "Flag the fact that custom content was updated in profile.";
    local_state->SetValue("custom_partner_content.updated",
                          std::make_unique<base::Value>(true),
                          WritablePrefStore::DEFAULT_PREF_WRITE_FLAGS);
  }
  Release(&local_state, local_state_path);
}

void LaunchBrowser(const base::FilePath& install_folder,
                   const base::CommandLine& installer_command_line,
                   bool upgrade) {
  base::CommandLine command_line(install_folder.Append(L"launcher.exe"));
  for (const char* name : kImportSwitches) {
    if (installer_command_line.HasSwitch(name)) {
      command_line.AppendSwitchNative(
          name, installer_command_line.GetSwitchValueNative(name));
    }
  }
  if (!upgrade)
    command_line.AppendSwitch("start-maximized");
  LOG(INFO) << "Launching kavor with command line "
            << command_line.GetCommandLineString();
  base::Process launcher =
      base::LaunchProcess(command_line, base::LaunchOptions());
  int exit_code = 0;
  if (!launcher.IsValid() || !launcher.WaitForExit(&exit_code))
    LOG(WARNING) << "Could not launch the browser";
}

}  // namespace installer
