#ifndef DESKTOP_WINDOWS_INSTALLER_SETTINGS_IMPL_H_
#define DESKTOP_WINDOWS_INSTALLER_SETTINGS_IMPL_H_

#include <stdint.h>

#include <bitset>
#include <memory>
#include <optional>
#include <vector>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/memory/scoped_refptr.h"
#include "base/observer_list.h"
#include "base/strings/string16.h"
#include "desktop/windows/installer/installation_folder_details_fetcher.h"
#include "desktop/windows/installer/settings.h"

namespace installer {

class DriveEnumerator;
class InstallationFolderDetails;
class PayloadManager;

// A yes/no switch value: "yes" and "true" in any ASCII case, or a decimal
// number (leading blanks and a sign allowed) that is not zero. A switch
// given without a value is therefore "no".
bool ParseSwitchBool(const base::string16& value);

// The last install folder remembered under |key_path| in the current user's
// hive, read through the OsOperations registry objects: the first of the
// value names that exists (the legacy x64 name only for an x64 package, the
// primordial name only on the release stream |channel_id| 4). Empty unless
// that value is an absolute path of an existing directory.
base::FilePath ReadLastInstallFolder(const base::string16& key_path,
                                     bool x64_package,
                                     int32_t channel_id);

// The preferred place of a standalone copy: "<root>\<product folder>" on the
// best ready drive (removable first, then network, fixed and RAM drives,
// CD-ROMs last) or on |desktop| when that beats the drives; none when
// nothing qualifies. |desktop| may be empty.
std::optional<base::FilePath> FindStandaloneLocation(
    DriveEnumerator* drives, const base::FilePath& desktop);

// How many uninstall entries of stream |channel_id| the current user's and
// the machine's uninstall keys hold; the count stops at 2.
int CountStreamUninstallEntries(int32_t channel_id);

class SettingsImpl : public Settings {
 public:
  // |command_line_folder| is the "installfolder" switch (empty when absent);
  // |payload| is null for a run from inside an unpacked package. Starts the
  // examination of the first folder; until it replies the operation is
  // OPERATION_NONE.
  SettingsImpl(const base::FilePath& command_line_folder,
               InstallerArchitecture architecture,
               const PayloadManager* payload,
               InstallationFolderDetailsFetcherFactory fetcher_factory);
  ~SettingsImpl() override;

  // The default install folder from the sources in |sources| (a
  // DefaultFolderSource mask) for the given mode.
  base::FilePath ComputeDefaultInstallFolder(uint32_t sources,
                                             InstallerArchitecture architecture,
                                             bool all_users,
                                             bool copy_only) const;

  // Settings:
  base::FilePath GetDefaultInstallFolder(uint32_t sources) const override;
  std::vector<base::FilePath> GetDefaultInstallFolders() const override;
  InstallerOperation GetOperation() const override;
  FolderProblem GetFolderProblem() const override;
  SettingsData GetSummary() const override;
  const InstallationFolderDetails& GetFolderDetails() const override;
  bool IsFetchingFolderDetails() const override;
  void AddObserver(SettingsObserver* observer) override;
  void RemoveObserver(SettingsObserver* observer) override;
  bool SetLaunchBrowser(bool value) override;
  bool SetDefaultBrowser(bool value) override;
  bool SetImportBrowserData(bool value) override;
  bool SetEnableStats(bool value) override;
  bool SetDesktopShortcut(bool value) override;
  bool SetStartMenuShortcut(bool value) override;
  bool SetQuickLaunchShortcut(bool value) override;
  bool SetDeleteProfile(bool value) override;
  bool SetInstallAssistant(bool value) override;
  bool SetFlag14(bool value) override;
  bool SetMode(InstallMode mode) override;
  bool AlwaysTrue() const override;
  bool IsNotCopyOnly() const override;
  bool IsNotCopyOnly2() const override;
  bool IsNewInstallation() const override;
  bool IsSingleStreamInstallation() const override;
  bool SetCopyOnly(bool value) override;
  bool SetSingleProfile(bool value) override;
  bool SetAllUsers(bool value) override;
  void SetInstallFolder(const base::FilePath& path) override;
  void SetInstallFolder(const base::string16& path) override;
  void RefreshFolderDetails() override;
  void SetLanguage(const base::string16& language) override;
  bool GetLaunchBrowser() const override;
  bool GetDefaultBrowser() const override;
  bool GetImportBrowserData() const override;
  bool GetEnableInstallerStats() const override;
  bool GetEnableKavorStats() const override;
  bool GetDesktopShortcut() const override;
  bool GetStartMenuShortcut() const override;
  bool GetQuickLaunchShortcut() const override;
  bool GetPinnedShortcut() const override;
  bool GetDeleteProfile() const override;
  bool GetInstallAssistant() const override;
  bool GetFlag14() const override;
  InstallMode GetInstallMode() const override;
  bool GetCopyOnly() const override;
  bool GetSingleProfile() const override;
  bool GetAllUsers() const override;
  base::FilePath GetInstallFolder() const override;
  const base::string16& GetLanguage() const override;
  const base::FilePath& GetProfileFolder() const override;
  void CopyImportSwitches(base::CommandLine* command_line) const override;
  base::CommandLine AppendToCommandLine(const base::CommandLine& command_line,
                                        bool no_launch) const override;
  bool IsEditable() const override;
  void SetEditable(bool editable) override;
  InstallerArchitecture GetArchitecture() const override;
  bool HasNoPayload() const override;
  bool GetRunImmediately() const override;
  bool OffersDeleteProfile() const override;

 private:
  // What a fetch's reply does with the details.
  enum class FetchPurpose {
    kApply,
    // The x64 package's look at a registry folder inside the 32-bit program
    // files: taken only when it holds an installation.
    kProbeRegistryFolder,
  };

  bool GetFlag(InstallFlag flag) const { return flags_[flag]; }
  // Refused while frozen; logs and tells the observers even when the value
  // stays.
  bool SetFlag(InstallFlag flag, bool value);
  // A plain write: no log line, no observer call.
  void WriteFlag(InstallFlag flag, bool value) { flags_[flag] = value; }
  // What turning copy-only on or off does to the other flags.
  void ApplyCopyOnlyFlags(bool copy_only);

  void ReadSwitches();
  void ApplyTrackingData();
  void ChooseFirstFolder();
  void FetchFolderDetails(const base::FilePath& path, FetchPurpose purpose);
  void OnFolderDetails(FetchPurpose purpose,
                       std::unique_ptr<InstallationFolderDetails> details);
  void ApplyFolderDetails(std::unique_ptr<InstallationFolderDetails> details);
  void ApplyExistingInstallation();
  void LogFlags() const;

  void NotifySettingsChanged();
  void NotifyPathChanged();

  InstallerOperation operation_ = OPERATION_NONE;
  FolderProblem folder_problem_ = FOLDER_PROBLEM_NONE;
  std::bitset<INSTALL_FLAG_COUNT> flags_;
  base::string16 install_language_;
  std::unique_ptr<InstallationFolderDetails> folder_details_;
  base::scoped_refptr<InstallationFolderDetailsFetcher> pending_fetch_;
  // The folder that |pending_fetch_| examines to apply it; unset when it
  // only probes a folder or nothing is pending.
  std::optional<base::FilePath> folder_being_applied_;
  InstallationFolderDetailsFetcherFactory fetcher_factory_;
  base::ObserverList<SettingsObserver> observers_;
  bool editable_ = true;
  bool single_stream_installation_ = true;
  base::FilePath command_line_folder_;
  base::FilePath registry_folder_;
  base::FilePath profile_folder_;
  std::optional<base::FilePath> standalone_location_;
  InstallerArchitecture architecture_;
  std::optional<bool> default_browser_choice_;
  std::optional<bool> import_browser_data_choice_;
  std::optional<bool> enable_stats_choice_;
  bool no_payload_;
  bool run_immediately_;

  DISALLOW_COPY_AND_ASSIGN(SettingsImpl);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SETTINGS_IMPL_H_
