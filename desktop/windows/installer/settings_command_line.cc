// Where the settings come from (switches, tracking data, the registry, the
// drives) and how they go back onto the backend's command line.

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include "base/base_paths.h"
#include "base/macros.h"
#include "base/command_line.h"
#include "base/features/feature_registry.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/base_paths_win.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/common/tracking_data_dictionary.h"
#include "desktop/windows/installer/installation_folder_details.h"
#include "desktop/windows/installer/interprocess_state.h"
#include "desktop/windows/installer/os_operations.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/settings_impl.h"

namespace installer {
namespace {

const base::CommandLine& ProcessCommandLine() {
  return *base::CommandLine::ForCurrentProcess();
}

bool HasSwitch(const char* name) {
  return ProcessCommandLine().HasSwitch(name);
}

bool SwitchBool(const char* name) {
  return ParseSwitchBool(ProcessCommandLine().GetSwitchValueNative(name));
}

// "Kavor developer": the folder an installation gets inside a parent.
base::FilePath::StringType GetProductFolderName() {
  return base::UTF8ToWide(GetProductNameWithChannel());
}

// Drive type (GetDriveTypeW) -> standalone priority; lower wins, 7 and up
// never does.
int GetDrivePriority(uint32_t drive_type) {
  switch (drive_type) {
    case DRIVE_REMOVABLE:
      return 0;
    case DRIVE_REMOTE:
      return 1;
    case DRIVE_FIXED:
      return 3;
    case DRIVE_RAMDISK:
      return 4;
    case DRIVE_CDROM:
      return 6;
    case DRIVE_NO_ROOT_DIR:
      return 8;
    default:
      return 7;
  }
}

constexpr int kDesktopPriority = 5;
constexpr int kUnusablePriority = 7;
// GetDriveTypeW answers DRIVE_UNKNOWN (0) to DRIVE_RAMDISK (6).
constexpr uint32_t kDriveTypeCount = 7;

// The switches that only pass through from the front end to the backend.
const char* const kPassThroughSwitches[] = {"initial-pid", "temp-folder",
                                            "components", "v"};
const char* const kImportSwitches[] = {"import-bookmarks", "import-session",
                                       "import-topsites-to-startdial"};

const char* FlagValue(bool value) {
  return value ? "1" : "0";
}

}  // namespace

bool ParseSwitchBool(const base::string16& value) {
  if (base::EqualsCaseInsensitiveASCII(value, L"yes") ||
      base::EqualsCaseInsensitiveASCII(value, L"true")) {
    return true;
  }
  size_t i = 0;
  while (i < value.size() && (value[i] == L' ' || value[i] == L'\t'))
    ++i;
  if (i < value.size() && (value[i] == L'+' || value[i] == L'-'))
    ++i;
  // Any non-zero digit in the leading number makes it non-zero.
  for (; i < value.size() && value[i] >= L'0' && value[i] <= L'9'; ++i) {
    if (value[i] != L'0')
      return true;
  }
  return false;
}

base::FilePath ReadLastInstallFolder(const base::string16& key_path,
                                     bool x64_package,
                                     int32_t channel_id) {
  std::unique_ptr<RegistryKeyEnumerator> key =
      GetOsOperations()->CreateRegistryKeyEnumerator(HKEY_CURRENT_USER,
                                                     key_path, KEY_READ);
  base::FilePath folder;
  if (key && key->IsValid()) {
    const base::string16 channel = base::UTF8ToWide(GetChannelName());
    struct Candidate {
      bool wanted;
      base::string16 name;
      const char* label;
    };
    const Candidate kCandidates[] = {
        {x64_package, L"Last " + channel + L" Install Path x64", "legacy x64"},
        {true, L"Last " + channel + L" Install Path", "standard"},
        {true,
         L"Last " + base::UTF8ToWide(GetStreamName(channel_id)) +
             L" Install Path",
         "beta=next"},
        {channel_id == kReleaseChannelId, L"Last install path", "primordial"},
    };
    for (const Candidate& candidate : kCandidates) {
      base::string16 value;
      if (!candidate.wanted || !key->ReadValue(candidate.name, &value))
        continue;
      VLOG(1) << "Install folder reg value [" << candidate.label
              << "]: " << value;
      base::FilePath path(value);
      if (path.IsAbsolute() && base::DirectoryExists(path))
        folder = path.StripTrailingSeparators();
      break;
    }
  }
  VLOG(1) << "Install folder from reg value " << folder;
  return folder;
}

std::optional<base::FilePath> FindStandaloneLocation(
    DriveEnumerator* drives, const base::FilePath& desktop) {
  std::optional<base::FilePath> best;
  int best_priority = kUnusablePriority;
  int candidates = 0;
  auto consider = [&](const base::FilePath& parent, int priority) {
    ++candidates;
    if (priority < best_priority) {
      best_priority = priority;
      best = parent.Append(GetProductFolderName());
    }
  };
  // Every ready drive of a known type is a candidate and counts in the log
  // line, also those whose priority can never be chosen.
  while (std::unique_ptr<DriveInfo> drive = drives->Next()) {
    if (drive->IsReady() && drive->GetType() < kDriveTypeCount) {
      consider(base::FilePath(drive->GetRootPath()),
               GetDrivePriority(drive->GetType()));
    }
  }
  if (!desktop.empty())
    consider(desktop, kDesktopPriority);
  LOG(INFO) << "Found " << candidates << " paths for standalone install mode.";
  return best;
}

base::FilePath SettingsImpl::ComputeDefaultInstallFolder(
    uint32_t sources,
    InstallerArchitecture architecture,
    bool all_users,
    bool copy_only) const {
  VLOG(2) << "Retrieving default installation folder path";
  VLOG(2) << " - Using command line: "
          << ((sources & DEFAULT_FOLDER_COMMAND_LINE) ? 1 : 0);
  VLOG(2) << " - Using the registry: "
          << ((sources & DEFAULT_FOLDER_REGISTRY) ? 1 : 0);
  VLOG(2) << " - Using the standard folder: "
          << ((sources & DEFAULT_FOLDER_STANDARD) ? 1 : 0);
  if ((sources & DEFAULT_FOLDER_COMMAND_LINE) && !command_line_folder_.empty())
    return command_line_folder_;
  VLOG(2) << "Default install folder: not from command line";
  if ((sources & DEFAULT_FOLDER_REGISTRY) && !copy_only &&
      !registry_folder_.empty()) {
    return registry_folder_;
  }
  VLOG(2) << "Default install folder: not from registry";
  if (!(sources & DEFAULT_FOLDER_STANDARD))
    return base::FilePath();

  base::FilePath parent;
  if (all_users) {
    VLOG(2) << "Default install folder: for all users";
    if (!base::PathService::Get(architecture == InstallerArchitecture::X64
                                    ? base::DIR_PROGRAM_FILES6432
                                    : base::DIR_PROGRAM_FILESX86,
                                &parent)) {
      return base::FilePath();
    }
  } else if (copy_only) {
    VLOG(2) << "Default install folder: for all standalone";
    return standalone_location_.value_or(base::FilePath());
  } else {
    VLOG(2) << "Default install folder: for current user";
    // Wine has no per-user program files folder (E_INVALIDARG); Windows
    // documents it as "Programs" in the local application data, so that is
    // where a failed lookup leads too, rather than to an empty path.
    if (!GetKnownFolderPath(FOLDERID_UserProgramFiles, CSIDL_LOCAL_APPDATA,
                            &parent, true)) {
      if (base::PathService::Get(base::DIR_LOCAL_APP_DATA, &parent))
        parent = parent.Append(L"Programs");
    }
  }
  if (parent.empty())
    return base::FilePath();
  return parent.Append(GetProductFolderName());
}

void SettingsImpl::ReadSwitches() {
  if (!editable_)
    return;
  VLOG(1) << "Settings from command line";
  WriteFlag(ALL_USERS_FLAG,
            SecurityUtilsImpl::GetInstance()->IsUserAdmin(!IsSilentRun()));
  WriteFlag(COPY_ONLY, false);
  WriteFlag(FLAG_14, false);
  WriteFlag(LAUNCH_KAVOR, true);

  if (IsAutoupdateRun())
    WriteFlag(DEFAULT_BROWSER, false);
  else
    WriteFlag(DEFAULT_BROWSER, default_browser_choice_.value_or(
                                   GetChannelId() == kReleaseChannelId));
  WriteFlag(IMPORT_BROWSER_DATA, import_browser_data_choice_.value_or(true));

  WriteFlag(ENABLE_INSTALLER_STATS, true);
  WriteFlag(ENABLE_KAVOR_STATS, true);
  WriteFlag(SINGLE_PROFILE, false);
  WriteFlag(DESKTOP_SHORTCUT, true);
  WriteFlag(START_MENU_SHORTCUT, true);
  WriteFlag(PINNED_SHORTCUT, true);

  if (HasSwitch("launchkavor"))
    WriteFlag(LAUNCH_KAVOR, SwitchBool("launchkavor"));
  else if (HasSwitch("launchbrowser"))
    WriteFlag(LAUNCH_KAVOR, SwitchBool("launchbrowser"));

  if (HasSwitch("copyonly"))
    WriteFlag(COPY_ONLY, SwitchBool("copyonly"));
  ApplyCopyOnlyFlags(GetFlag(COPY_ONLY));

  if (HasSwitch("import-browser-data"))
    WriteFlag(IMPORT_BROWSER_DATA, SwitchBool("import-browser-data"));

  if (HasSwitch("enable-stats")) {
    bool enable = SwitchBool("enable-stats");
    WriteFlag(ENABLE_KAVOR_STATS, enable);
    WriteFlag(ENABLE_INSTALLER_STATS, enable);
  }
  if (HasSwitch("enable-installer-stats"))
    WriteFlag(ENABLE_INSTALLER_STATS, SwitchBool("enable-installer-stats"));

  if (GetFlag(COPY_ONLY)) {
    WriteFlag(SINGLE_PROFILE, true);
  } else {
    static const struct {
      const char* name;
      InstallFlag flag;
    } kSwitches[] = {
        {"allusers", ALL_USERS_FLAG},
        {"setdefaultbrowser", DEFAULT_BROWSER},
        {"desktopshortcut", DESKTOP_SHORTCUT},
        {"startmenushortcut", START_MENU_SHORTCUT},
        {"quicklaunchshortcut", QUICK_LAUNCH_SHORTCUT},
        {"pintotaskbar", PINNED_SHORTCUT},
    };
    for (const auto& entry : kSwitches) {
      if (HasSwitch(entry.name))
        WriteFlag(entry.flag, SwitchBool(entry.name));
    }
  }

  if (HasSwitch("singleprofile"))
    WriteFlag(SINGLE_PROFILE, SwitchBool("singleprofile"));
  if (HasSwitch("profile-folder"))
    profile_folder_ = ProcessCommandLine().GetSwitchValuePath("profile-folder");
  if (HasSwitch("install-assistant") && !GetFlag(COPY_ONLY))
    SetFlag(INSTALL_ASSISTANT, true);
  LogFlags();
}

void SettingsImpl::ApplyTrackingData() {
  TrackingDataDictionary* tracking = GetServerTrackingData();
  std::string default_browser =
      tracking->GetString("utm.defbr").value_or(std::string());
  std::string enable_stats =
      tracking->GetString("utm.fsce").value_or(std::string());
  if (default_browser.empty() || enable_stats.empty())
    return;
  run_immediately_ = true;
  LOG(INFO) << "defbr:" << default_browser;
  SetFlag(DEFAULT_BROWSER, default_browser == "true");
  LOG(INFO) << "fsce:" << enable_stats;
  SetFlag(ENABLE_INSTALLER_STATS, enable_stats == "true");
  SetFlag(ENABLE_KAVOR_STATS, enable_stats == "true");
}

void SettingsImpl::ChooseFirstFolder() {
  base::FilePath registry_default =
      ComputeDefaultInstallFolder(DEFAULT_FOLDER_REGISTRY, architecture_,
                                  GetFlag(ALL_USERS_FLAG), GetFlag(COPY_ONLY));
  base::FilePath program_files_x86;
  // An x64 package meets a folder that a 32-bit installation chose: keep
  // it only when an installation is really there.
  if (architecture_ == InstallerArchitecture::X64 &&
      command_line_folder_.empty() &&
      base::PathService::Get(base::DIR_PROGRAM_FILESX86, &program_files_x86) &&
      IsParentPathIgnoreCase(program_files_x86, registry_default)) {
    FetchFolderDetails(registry_default, FetchPurpose::kProbeRegistryFolder);
    return;
  }
  SetInstallFolder(GetDefaultInstallFolder(DEFAULT_FOLDER_ALL_SOURCES));
}

void SettingsImpl::CopyImportSwitches(base::CommandLine* command_line) const {
  command_line->CopySwitchesFrom(ProcessCommandLine(), kImportSwitches,
                                 arraysize(kImportSwitches));
}

base::CommandLine SettingsImpl::AppendToCommandLine(
    const base::CommandLine& command_line, bool no_launch) const {
  base::CommandLine result(base::CommandLine::NO_PROGRAM);
  result.AppendSwitch("backend");
  result.CopySwitchesFrom(command_line, kPassThroughSwitches,
                          arraysize(kPassThroughSwitches));
  const base::FilePath folder = GetInstallFolder();
  if (operation_ == OPERATION_INSTALL || operation_ == OPERATION_UPGRADE) {
    result.AppendSwitch("install");
    result.AppendSwitchASCII("import-browser-data",
                             FlagValue(GetFlag(IMPORT_BROWSER_DATA)));
    result.AppendSwitchASCII("enable-stats",
                             FlagValue(GetFlag(ENABLE_KAVOR_STATS)));
    result.AppendSwitchASCII("enable-installer-stats",
                             FlagValue(GetFlag(ENABLE_INSTALLER_STATS)));
    result.AppendSwitchASCII(
        "launchkavor", no_launch ? "0" : FlagValue(GetFlag(LAUNCH_KAVOR)));
    result.AppendSwitchPath("installfolder", folder);
    result.AppendSwitchPath("profile-folder", profile_folder_);
    if (!install_language_.empty())
      result.AppendSwitchNative("language", install_language_);
    if (operation_ == OPERATION_INSTALL) {
      result.AppendSwitchASCII("singleprofile",
                               FlagValue(GetFlag(SINGLE_PROFILE)));
      result.AppendSwitchASCII("copyonly", FlagValue(GetFlag(COPY_ONLY)));
      if (!GetFlag(COPY_ONLY))
        result.AppendSwitchASCII("allusers",
                                 FlagValue(GetFlag(ALL_USERS_FLAG)));
    }
    if (!GetFlag(COPY_ONLY)) {
      static const struct {
        const char* name;
        InstallFlag flag;
      } kShortcutSwitches[] = {
          {"setdefaultbrowser", DEFAULT_BROWSER},
          {"startmenushortcut", START_MENU_SHORTCUT},
          {"desktopshortcut", DESKTOP_SHORTCUT},
          {"quicklaunchshortcut", QUICK_LAUNCH_SHORTCUT},
          {"pintotaskbar", PINNED_SHORTCUT},
      };
      for (const auto& entry : kShortcutSwitches)
        result.AppendSwitchASCII(entry.name, FlagValue(GetFlag(entry.flag)));
    }
    const char* const kTracking[] = {"server-tracking-data"};
    result.CopySwitchesFrom(command_line, kTracking, 1);
    base::AppendFeatureSwitches(&result);
    result.CopySwitchesFrom(command_line, kImportSwitches,
                            arraysize(kImportSwitches));
  } else if (operation_ == OPERATION_UNINSTALL) {
    result.AppendSwitch("uninstall");
    result.AppendSwitchASCII("deleteuserprofile",
                             FlagValue(GetFlag(DELETE_PROFILE)));
  } else if (operation_ == OPERATION_FIX_DOWNLOADABLE_RESOURCES) {
    result.AppendSwitchPath("installfolder", folder);
    result.AppendSwitchASCII("allusers", FlagValue(GetFlag(ALL_USERS_FLAG)));
  }
  VLOG(1) << "Settings as command line: " << result.GetCommandLineString();
  return result;
}

}  // namespace installer
