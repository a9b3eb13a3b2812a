#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_UI_SETTINGS_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_UI_SETTINGS_H_

#include <vector>

#include "base/observer_list.h"
#include "desktop/windows/installer/test/fake_settings.h"

namespace installer {
namespace test {

// Settings as the wizard sees them: every choice is stored, refused while
// not editable, and reported to the observers as a real settings object
// would.
class FakeUiSettings : public FakeSettings {
 public:
  bool default_browser = false;
  bool import_browser_data = false;
  bool enable_installer_stats = false;
  bool enable_kavor_stats = false;
  bool delete_profile = false;
  bool flag14 = false;
  bool all_users = false;
  bool copy_only = false;
  bool run_immediately = false;
  bool fetching_folder_details = false;
  bool offers_delete_profile = false;
  InstallMode mode = INSTALL_MODE_ALL_USERS;
  FolderProblem folder_problem = FOLDER_PROBLEM_NONE;
  std::vector<base::FilePath> suggested_folders;
  base::string16 language = L"en";
  int refresh_requests = 0;

  FolderProblem GetFolderProblem() const override { return folder_problem; }
  bool IsFetchingFolderDetails() const override {
    return fetching_folder_details;
  }
  std::vector<base::FilePath> GetDefaultInstallFolders() const override {
    return suggested_folders;
  }
  void AddObserver(SettingsObserver* observer) override {
    observers_.AddObserver(observer);
  }
  void RemoveObserver(SettingsObserver* observer) override {
    observers_.RemoveObserver(observer);
  }
  bool HasObserver(SettingsObserver* observer) const {
    return observers_.HasObserver(observer);
  }

  bool SetDefaultBrowser(bool value) override {
    return Store(value, &default_browser);
  }
  bool SetImportBrowserData(bool value) override {
    return Store(value, &import_browser_data);
  }
  bool SetEnableStats(bool value) override {
    return Store(value, &enable_installer_stats, &enable_kavor_stats);
  }
  bool SetDeleteProfile(bool value) override {
    return Store(value, &delete_profile);
  }
  bool SetFlag14(bool value) override { return Store(value, &flag14); }
  bool SetAllUsers(bool value) override { return Store(value, &all_users); }
  bool SetCopyOnly(bool value) override { return Store(value, &copy_only); }
  bool SetMode(InstallMode value) override { return Store(value, &mode); }
  void SetInstallFolder(const base::FilePath& path) override {
    if (!editable)
      return;
    folder = path;
    NotifyPathChanged();
  }
  void SetInstallFolder(const base::string16& path) override {
    SetInstallFolder(base::FilePath(path));
  }
  void RefreshFolderDetails() override { ++refresh_requests; }
  void SetLanguage(const base::string16& value) override {
    if (!editable)
      return;
    language = value;
    for (SettingsObserver& observer : observers_)
      observer.OnLanguageChanged();
  }

  bool GetDefaultBrowser() const override { return default_browser; }
  bool GetImportBrowserData() const override { return import_browser_data; }
  bool GetEnableInstallerStats() const override {
    return enable_installer_stats;
  }
  bool GetEnableKavorStats() const override { return enable_kavor_stats; }
  bool GetDeleteProfile() const override { return delete_profile; }
  bool GetFlag14() const override { return flag14; }
  bool GetAllUsers() const override { return all_users; }
  bool GetCopyOnly() const override { return copy_only; }
  InstallMode GetInstallMode() const override { return mode; }
  const base::string16& GetLanguage() const override { return language; }
  bool GetRunImmediately() const override { return run_immediately; }
  bool OffersDeleteProfile() const override { return offers_delete_profile; }

  void NotifySettingsChanged() {
    for (SettingsObserver& observer : observers_)
      observer.OnSettingsChanged();
  }
  void NotifyPathChanged() {
    for (SettingsObserver& observer : observers_)
      observer.OnPathChanged();
  }

 private:
  // Sets every one of |fields| to |value| and then tells the observers.
  template <typename T, typename... Fields>
  bool Store(T value, Fields*... fields) {
    if (!editable)
      return false;
    ((*fields = value), ...);
    NotifySettingsChanged();
    return true;
  }

  base::ObserverList<SettingsObserver> observers_;
};

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_UI_SETTINGS_H_
