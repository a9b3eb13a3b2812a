#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLATION_FOLDER_DETAILS_IMPL_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLATION_FOLDER_DETAILS_IMPL_H_

#include <stdint.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/callback.h"
#include "base/features/feature_registry.h"
#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/strings/string16.h"
#include "desktop/windows/installer/installation_folder_details.h"

namespace installer {

class Installation;
class TaskbandUtils;

// Bytes free to the current user on |volume| (a first path component such
// as "C:"), or -1 when the query fails.
using FreeDiskSpaceQuery =
    base::RepeatingCallback<int64_t(const base::FilePath& volume)>;

// The system's answer to FreeDiskSpaceQuery.
int64_t QueryFreeDiskSpace(const base::FilePath& volume);

class InstallationFolderDetailsImpl : public InstallationFolderDetails {
 public:
  InstallationFolderDetailsImpl();
  // Tests give their own free-space answers and taskbar-pin utilities.
  explicit InstallationFolderDetailsImpl(FreeDiskSpaceQuery free_space);
  InstallationFolderDetailsImpl(FreeDiskSpaceQuery free_space,
                                std::unique_ptr<TaskbandUtils> taskband);
  ~InstallationFolderDetailsImpl() override;

  // InstallationFolderDetails:
  void Initialize(const base::FilePath& path, bool recovery_mode) override;
  const InstallationStatus* GetInstallationStatus() const override;
  const base::FilePath& GetPath() const override;
  const base::FilePath& GetValidParentFolder() const override;
  int32_t GetInstallationFolderProblem() const override;
  std::vector<LowSpaceVolume> GetLowSpaceVolumes() const override;
  bool HasExistingInstallation() const override;
  bool HasExistingInstallationTraces() const override;
  const std::string& GetInvalidPathReason() const override;
  const std::string& GetStatusReadError() const override;
  const std::string& GetStatusFileContents() const override;
  const std::string& GetWelcomeUrl() const override;
  bool DesktopShortcutExists() const override;
  std::optional<bool> GetEnableStats() const override;
  bool HasWriteAccess() const override;
  std::optional<bool> GetImportBrowserData() const override;
  bool IsHttpHandler() const override;
  const base::string16& GetLanguage() const override;
  int32_t GetOldProductType() const override;
  const std::vector<base::FilePath>& GetPinnedShortcutPaths() const override;
  const std::vector<base::FilePath>& GetSuffixedPinnedShortcutPaths()
      const override;
  const base::FilePath& GetProfilePath() const override;
  bool QuickLaunchShortcutExists() const override;
  const base::FilePath& GetTemporaryShortcutFolder() const override;
  bool TemporaryShortcutFolderExists() const override;
  const std::string& GetServerTrackingData() const override;
  bool RecreateDesktopShortcut() const override;
  bool RecreatePinnedShortcut() const override;
  bool RecreateQuickLaunchShortcut() const override;
  bool RecreateStartMenuShortcut() const override;
  std::optional<bool> GetSingleProfile() const override;
  bool StartMenuShortcutExists() const override;
  bool IsExperimentEnabled(const std::string& name) const override;
  const std::string& GetAutoupdateUuid() const override;

 private:
  // False when |path_| cannot be an install folder at all; the reason is
  // logged and kept.
  bool CheckPathValidity();
  // Why |path_| cannot be an install folder; empty when it can.
  std::string FindInvalidPathReason() const;
  void ExamineExistingFolder(bool recovery_mode);
  void FindValidParentFolder();
  void CheckDiskSpace();
  void FindShortcuts();
  // One possible target of the installation's shortcuts.
  void TestShortcutTarget(const base::FilePath& target, bool is_launcher);
  void DetermineWriteAccess();
  void ReadInstallerPrefs();
  // The profile folder of |installation| and the language its "Local
  // State" was left in.
  void ReadProfile(Installation* installation);

  FreeDiskSpaceQuery free_space_;
  std::unique_ptr<TaskbandUtils> taskband_;

  std::unique_ptr<InstallationStatus> status_;
  bool desktop_shortcut_exists_ = false;
  bool start_menu_shortcut_exists_ = false;
  bool quick_launch_shortcut_exists_ = false;
  bool temporary_shortcut_folder_exists_ = false;
  bool has_write_access_ = false;
  bool is_http_handler_ = false;
  bool recreate_desktop_shortcut_ = false;
  bool recreate_start_menu_shortcut_ = false;
  bool recreate_quick_launch_shortcut_ = false;
  bool recreate_pinned_shortcut_ = false;
  std::optional<bool> enable_stats_;
  std::optional<bool> import_browser_data_;
  std::optional<bool> single_profile_;
  base::string16 language_;
  std::string welcome_url_;
  std::string server_tracking_data_;
  std::string autoupdate_uuid_;
  int32_t old_product_type_ = -1;
  std::vector<base::FilePath> pinned_shortcut_paths_;
  std::vector<base::FilePath> suffixed_pinned_shortcut_paths_;
  base::FilePath profile_path_;
  base::FilePath temporary_shortcut_folder_;
  base::FeatureRegistry experiments_;
  base::FilePath path_;
  base::FilePath valid_parent_folder_;
  std::string status_read_error_;
  std::string invalid_path_reason_;
  std::string status_file_contents_;
  int32_t installation_folder_problem_ = INSTALLATION_FOLDER_INVALID_PATH;
  bool existing_installation_traces_ = false;
  std::vector<LowSpaceVolume> low_space_volumes_;

  DISALLOW_COPY_AND_ASSIGN(InstallationFolderDetailsImpl);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLATION_FOLDER_DETAILS_IMPL_H_
