#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_SETTINGS_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_SETTINGS_H_

#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/strings/string16.h"
#include "desktop/windows/installer/installation_folder_details_impl.h"
#include "desktop/windows/installer/settings.h"

namespace installer {
namespace test {

// Folder details of a folder that was never examined (no existing
// installation) at |*path|.
class FakeFolderDetails : public InstallationFolderDetailsImpl {
 public:
  explicit FakeFolderDetails(const base::FilePath* path) : path_(path) {}
  const base::FilePath& GetPath() const override { return *path_; }

 private:
  const base::FilePath* const path_;
};

// Complete settings of |operation| into |folder|, as a front end hands them
// to its runner; everything else answers with defaults.
class FakeSettings : public Settings {
 public:
  base::FilePath folder;
  InstallerOperation operation = OPERATION_INSTALL;
  bool editable = true;

  FakeSettings() = default;
  // The folder details point at this object's |folder|.
  FakeSettings(const FakeSettings&) = delete;
  FakeSettings& operator=(const FakeSettings&) = delete;

  base::FilePath GetInstallFolder() const override { return folder; }
  InstallerOperation GetOperation() const override { return operation; }
  FolderProblem GetFolderProblem() const override {
    return FOLDER_PROBLEM_NONE;
  }
  base::CommandLine AppendToCommandLine(const base::CommandLine&,
                                        bool no_launch) const override {
    base::CommandLine result(base::CommandLine::NO_PROGRAM);
    result.AppendSwitch("backend");
    result.AppendSwitch("install");
    result.AppendSwitchPath("installfolder", folder);
    result.AppendSwitchASCII("launchkavor", no_launch ? "0" : "1");
    return result;
  }
  bool IsEditable() const override { return editable; }
  void SetEditable(bool value) override { editable = value; }

  base::FilePath GetDefaultInstallFolder(uint32_t) const override { return {}; }
  std::vector<base::FilePath> GetDefaultInstallFolders() const override {
    return {};
  }
  SettingsData GetSummary() const override { return {}; }
  const InstallationFolderDetails& GetFolderDetails() const override {
    return details_;
  }
  bool IsFetchingFolderDetails() const override { return false; }
  void AddObserver(SettingsObserver*) override {}
  void RemoveObserver(SettingsObserver*) override {}
  bool SetLaunchBrowser(bool) override { return false; }
  bool SetDefaultBrowser(bool) override { return false; }
  bool SetImportBrowserData(bool) override { return false; }
  bool SetEnableStats(bool) override { return false; }
  bool SetDesktopShortcut(bool) override { return false; }
  bool SetStartMenuShortcut(bool) override { return false; }
  bool SetQuickLaunchShortcut(bool) override { return false; }
  bool SetDeleteProfile(bool) override { return false; }
  bool SetInstallAssistant(bool) override { return false; }
  bool SetFlag14(bool) override { return false; }
  bool SetMode(InstallMode) override { return false; }
  bool AlwaysTrue() const override { return true; }
  bool IsNotCopyOnly() const override { return true; }
  bool IsNotCopyOnly2() const override { return true; }
  bool IsNewInstallation() const override { return true; }
  bool IsSingleStreamInstallation() const override { return true; }
  bool SetCopyOnly(bool) override { return false; }
  bool SetSingleProfile(bool) override { return false; }
  bool SetAllUsers(bool) override { return false; }
  void SetInstallFolder(const base::FilePath&) override {}
  void SetInstallFolder(const base::string16&) override {}
  void RefreshFolderDetails() override {}
  void SetLanguage(const base::string16&) override {}
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
  InstallMode GetInstallMode() const override {
    return INSTALL_MODE_CURRENT_USER;
  }
  bool GetCopyOnly() const override { return false; }
  bool GetSingleProfile() const override { return false; }
  bool GetAllUsers() const override { return false; }
  const base::string16& GetLanguage() const override { return language_; }
  const base::FilePath& GetProfileFolder() const override { return profile_; }
  void CopyImportSwitches(base::CommandLine*) const override {}
  InstallerArchitecture GetArchitecture() const override {
    return InstallerArchitecture::X64;
  }
  bool HasNoPayload() const override { return false; }
  bool GetRunImmediately() const override { return false; }
  bool OffersDeleteProfile() const override { return false; }

 private:
  FakeFolderDetails details_{&folder};
  base::string16 language_;
  base::FilePath profile_;
};

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_SETTINGS_H_
