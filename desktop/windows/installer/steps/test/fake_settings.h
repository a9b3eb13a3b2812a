#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_TEST_FAKE_SETTINGS_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_TEST_FAKE_SETTINGS_H_

#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "desktop/windows/installer/installation_folder_details_impl.h"
#include "desktop/windows/installer/settings.h"

namespace installer {

// Folder details of a folder that was never examined, at |path|.
class FakeFolderDetails : public InstallationFolderDetailsImpl {
 public:
  const base::FilePath& GetPath() const override { return path; }
  base::FilePath path;
};

// Settings with a chosen operation and folder; everything else is off.
class FakeSettings : public Settings {
 public:
  InstallerOperation operation = OPERATION_NONE;
  FakeFolderDetails* folder_details = nullptr;

  base::FilePath GetDefaultInstallFolder(uint32_t sources) const override { return {}; }
  std::vector<base::FilePath> GetDefaultInstallFolders() const override { return {}; }
  InstallerOperation GetOperation() const override { return operation; }
  FolderProblem GetFolderProblem() const override { return {}; }
  SettingsSummary GetSummary() const override { return {}; }
  const InstallationFolderDetails& GetFolderDetails() const override { return *folder_details; }
  bool IsFetchingFolderDetails() const override { return false; }
  void AddObserver(SettingsObserver* observer) override { }
  void RemoveObserver(SettingsObserver* observer) override { }
  bool SetLaunchBrowser(bool value) override { return false; }
  bool SetDefaultBrowser(bool value) override { return false; }
  bool SetImportBrowserData(bool value) override { return false; }
  bool SetEnableStats(bool value) override { return false; }
  bool SetDesktopShortcut(bool value) override { return false; }
  bool SetStartMenuShortcut(bool value) override { return false; }
  bool SetQuickLaunchShortcut(bool value) override { return false; }
  bool SetDeleteProfile(bool value) override { return false; }
  bool SetInstallAssistant(bool value) override { return false; }
  bool SetFlag14(bool value) override { return false; }
  bool SetMode(InstallMode mode) override { return false; }
  bool AlwaysTrue() const override { return false; }
  bool IsNotCopyOnly() const override { return false; }
  bool IsNotCopyOnly2() const override { return false; }
  bool IsNewInstallation() const override { return false; }
  bool IsSingleStreamInstallation() const override { return false; }
  bool SetCopyOnly(bool value) override { return false; }
  bool SetSingleProfile(bool value) override { return false; }
  bool SetAllUsers(bool value) override { return false; }
  void SetInstallFolder(const base::FilePath& path) override { }
  void SetInstallFolder(const base::string16& path) override { }
  void RefreshFolderDetails() override { }
  void SetLanguage(const base::string16& language) override { }
  bool GetLaunchBrowser() const override { return false; }
  bool GetDefaultBrowser() const override { return false; }
  bool GetImportBrowserData() const override { return false; }
  bool GetEnableInstallerStats() const override { return false; }
  bool GetEnableKavorStats() const override { return false; }
  bool GetDesktopShortcut() const override { return false; }
  bool GetStartMenuShortcut() const override { return false; }
  bool GetQuickLaunchShortcut() const override { return false; }
  bool GetPinnedShortcut() const override { return false; }
  bool GetDeleteProfile() const override { return false; }
  bool GetInstallAssistant() const override { return false; }
  bool GetFlag14() const override { return false; }
  InstallMode GetInstallMode() const override { return {}; }
  bool GetCopyOnly() const override { return false; }
  bool GetSingleProfile() const override { return false; }
  bool GetAllUsers() const override { return false; }
  base::FilePath GetInstallFolder() const override { return folder_details->GetPath(); }
  const base::string16& GetLanguage() const override { static const base::string16 v; return v; }
  const base::FilePath& GetProfileFolder() const override { static const base::FilePath v; return v; }
  void CopyImportSwitches(base::CommandLine* command_line) const override { }
  base::CommandLine AppendToCommandLine(const base::CommandLine& command_line, bool no_launch) const override { return base::CommandLine(base::CommandLine::NO_PROGRAM); }
  bool IsEditable() const override { return false; }
  void SetEditable(bool editable) override { }
  InstallerArchitecture GetArchitecture() const override { return {}; }
  bool HasNoPayload() const override { return false; }
  bool GetRunImmediately() const override { return false; }
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_TEST_FAKE_SETTINGS_H_
