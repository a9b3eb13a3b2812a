#ifndef DESKTOP_WINDOWS_INSTALLER_SETTINGS_H_
#define DESKTOP_WINDOWS_INSTALLER_SETTINGS_H_

#include <stdint.h>

#include <vector>

#include "base/files/file_path.h"
#include "base/strings/string16.h"
#include "desktop/windows/installer/avro_stats/avro_detail_records.h"

namespace base {
class CommandLine;
}  // namespace base

namespace installer {

class InstallationFolderDetails;

// The installer's yes/no options; the value is the bit number.
enum InstallFlag : uint32_t {
  COPY_ONLY = 0,
  SINGLE_PROFILE = 1,
  LAUNCH_KAVOR = 2,
  ALL_USERS_FLAG = 3,
  DEFAULT_BROWSER = 4,
  IMPORT_BROWSER_DATA = 5,
  INSTALL_ASSISTANT = 6,
  ENABLE_KAVOR_STATS = 7,
  ENABLE_INSTALLER_STATS = 8,
  DESKTOP_SHORTCUT = 9,
  START_MENU_SHORTCUT = 10,
  QUICK_LAUNCH_SHORTCUT = 11,
  PINNED_SHORTCUT = 12,
  DELETE_PROFILE = 13,
  FLAG_14 = 14,
  INSTALL_FLAG_COUNT = 15,
};

// The flag's name for log lines; empty for FLAG_14 and unknown values.
const char* InstallFlagToString(uint32_t flag);

// What a run does, decided once the folder is examined.
enum InstallerOperation : int32_t {
  OPERATION_NONE = 0,
  OPERATION_INSTALL = 1,
  OPERATION_UPGRADE = 2,
  OPERATION_UNINSTALL = 3,
  OPERATION_REGISTER_PROTOCOL_HANDLER = 4,
  OPERATION_FIX_DOWNLOADABLE_RESOURCES = 5,
};

// Derived from COPY_ONLY and ALL_USERS_FLAG, never stored.
enum InstallMode : int32_t {
  INSTALL_MODE_ALL_USERS = 0,
  INSTALL_MODE_CURRENT_USER = 1,
  INSTALL_MODE_STANDALONE = 2,
};

// The settings' verdict on the current folder.
enum FolderProblem : int32_t {
  FOLDER_PROBLEM_NONE = 0,
  FOLDER_PROBLEM_INVALID_PATH = 1,
  FOLDER_PROBLEM_NOT_ENOUGH_SPACE = 2,
  FOLDER_PROBLEM_NO_INSTALLATION = 3,
};

// Whether |problem| is one the options page warns about under the folder.
inline bool ShowsFolderWarning(FolderProblem problem) {
  return problem == FOLDER_PROBLEM_INVALID_PATH ||
         problem == FOLDER_PROBLEM_NOT_ENOUGH_SPACE;
}

// Where a default install folder may come from; a bit mask.
enum DefaultFolderSource : uint32_t {
  DEFAULT_FOLDER_STANDARD = 1,
  DEFAULT_FOLDER_REGISTRY = 2,
  DEFAULT_FOLDER_COMMAND_LINE = 4,
  DEFAULT_FOLDER_ALL_SOURCES = 7,
};

// The architecture of the package the run installs.
enum class InstallerArchitecture { X86 = 0, X64 = 1, INVALID = 2 };

class SettingsObserver {
 public:
  virtual ~SettingsObserver() = default;
  virtual void OnSettingsChanged() = 0;
  virtual void OnLanguageChanged() = 0;
  virtual void OnPathChanged() = 0;
};

// What the installer is going to do: the operation, the target folder and
// what is known of it, the mode, the language and the install flags. One
// object per process, used on the main thread. Setters return whether the
// change was made.
class Settings {
 public:
  virtual ~Settings() = default;

  virtual base::FilePath GetDefaultInstallFolder(uint32_t sources) const = 0;
  virtual std::vector<base::FilePath> GetDefaultInstallFolders() const = 0;
  virtual InstallerOperation GetOperation() const = 0;
  virtual FolderProblem GetFolderProblem() const = 0;
  // The settings as the statistics report them.
  virtual SettingsData GetSummary() const = 0;
  virtual const InstallationFolderDetails& GetFolderDetails() const = 0;
  virtual bool IsFetchingFolderDetails() const = 0;
  virtual void AddObserver(SettingsObserver* observer) = 0;
  virtual void RemoveObserver(SettingsObserver* observer) = 0;
  virtual bool SetLaunchBrowser(bool value) = 0;
  virtual bool SetDefaultBrowser(bool value) = 0;
  virtual bool SetImportBrowserData(bool value) = 0;
  virtual bool SetEnableStats(bool value) = 0;
  virtual bool SetDesktopShortcut(bool value) = 0;
  virtual bool SetStartMenuShortcut(bool value) = 0;
  virtual bool SetQuickLaunchShortcut(bool value) = 0;
  virtual bool SetDeleteProfile(bool value) = 0;
  virtual bool SetInstallAssistant(bool value) = 0;
  virtual bool SetFlag14(bool value) = 0;
  virtual bool SetMode(InstallMode mode) = 0;
  virtual bool AlwaysTrue() const = 0;
  virtual bool IsNotCopyOnly() const = 0;
  virtual bool IsNotCopyOnly2() const = 0;
  virtual bool IsNewInstallation() const = 0;
  virtual bool IsSingleStreamInstallation() const = 0;
  virtual bool SetCopyOnly(bool value) = 0;
  virtual bool SetSingleProfile(bool value) = 0;
  virtual bool SetAllUsers(bool value) = 0;
  virtual void SetInstallFolder(const base::FilePath& path) = 0;
  virtual void SetInstallFolder(const base::string16& path) = 0;
  virtual void RefreshFolderDetails() = 0;
  virtual void SetLanguage(const base::string16& language) = 0;
  virtual bool GetLaunchBrowser() const = 0;
  virtual bool GetDefaultBrowser() const = 0;
  virtual bool GetImportBrowserData() const = 0;
  virtual bool GetEnableInstallerStats() const = 0;
  virtual bool GetEnableKavorStats() const = 0;
  virtual bool GetDesktopShortcut() const = 0;
  virtual bool GetStartMenuShortcut() const = 0;
  virtual bool GetQuickLaunchShortcut() const = 0;
  virtual bool GetPinnedShortcut() const = 0;
  virtual bool GetDeleteProfile() const = 0;
  virtual bool GetInstallAssistant() const = 0;
  virtual bool GetFlag14() const = 0;
  virtual InstallMode GetInstallMode() const = 0;
  virtual bool GetCopyOnly() const = 0;
  virtual bool GetSingleProfile() const = 0;
  virtual bool GetAllUsers() const = 0;
  virtual base::FilePath GetInstallFolder() const = 0;
  virtual const base::string16& GetLanguage() const = 0;
  virtual const base::FilePath& GetProfileFolder() const = 0;
  virtual void CopyImportSwitches(base::CommandLine* command_line) const = 0;
  // The backend's settings switches, on a command line without a program;
  // the switches that only pass through are copied from |command_line| (the
  // process's own).
  virtual base::CommandLine AppendToCommandLine(
      const base::CommandLine& command_line, bool no_launch) const = 0;
  virtual bool IsEditable() const = 0;
  virtual void SetEditable(bool editable) = 0;
  virtual InstallerArchitecture GetArchitecture() const = 0;
  virtual bool HasNoPayload() const = 0;
  virtual bool GetRunImmediately() const = 0;
  // Whether the user may choose to delete the user data: an uninstall run
  // of an installation that has a profile.
  virtual bool OffersDeleteProfile() const = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SETTINGS_H_
