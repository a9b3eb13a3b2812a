#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLATION_FOLDER_DETAILS_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLATION_FOLDER_DETAILS_H_

#include <stdint.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "base/strings/string16.h"

namespace installer {

struct InstallationStatus;

// A volume that lacks the free space an installation needs there.
struct LowSpaceVolume {
  base::FilePath volume;
  uint64_t required_mb = 0;
};

enum InstallationFolderProblem : int32_t {
  INSTALLATION_FOLDER_VALID = 0,
  INSTALLATION_FOLDER_INVALID_PATH = 1,
  INSTALLATION_FOLDER_NOT_ENOUGH_SPACE = 2,
};

// What is known of one target folder: whether it can be used, and for an
// existing installation its status record, shortcuts and preferences.
// Filled once by Initialize() on a worker, then read on the main thread.
class InstallationFolderDetails {
 public:
  virtual ~InstallationFolderDetails() = default;

  virtual void Initialize(const base::FilePath& path, bool recovery_mode) = 0;
  virtual const InstallationStatus* GetInstallationStatus() const = 0;
  virtual const base::FilePath& GetPath() const = 0;
  virtual const base::FilePath& GetValidParentFolder() const = 0;
  virtual int32_t GetInstallationFolderProblem() const = 0;
  // Why the path was refused (problem 1), as the log and the error record
  // tell the user; empty for a usable path.
  virtual const std::string& GetInvalidPathReason() const = 0;
  virtual std::vector<LowSpaceVolume> GetLowSpaceVolumes() const = 0;
  virtual bool HasExistingInstallation() const = 0;
  virtual bool HasExistingInstallationTraces() const = 0;
  virtual const std::string& GetStatusReadError() const = 0;
  virtual const std::string& GetStatusFileContents() const = 0;
  virtual const std::string& GetWelcomeUrl() const = 0;
  virtual bool DesktopShortcutExists() const = 0;
  virtual std::optional<bool> GetEnableStats() const = 0;
  virtual bool HasWriteAccess() const = 0;
  virtual std::optional<bool> GetImportBrowserData() const = 0;
  virtual bool IsHttpHandler() const = 0;
  virtual const base::string16& GetLanguage() const = 0;
  virtual int32_t GetOldProductType() const = 0;
  virtual const std::vector<base::FilePath>& GetPinnedShortcutPaths() const = 0;
  virtual const std::vector<base::FilePath>& GetSuffixedPinnedShortcutPaths()
      const = 0;
  virtual const base::FilePath& GetProfilePath() const = 0;
  virtual bool QuickLaunchShortcutExists() const = 0;
  virtual const base::FilePath& GetTemporaryShortcutFolder() const = 0;
  virtual bool TemporaryShortcutFolderExists() const = 0;
  virtual const std::string& GetServerTrackingData() const = 0;
  virtual bool RecreateDesktopShortcut() const = 0;
  virtual bool RecreatePinnedShortcut() const = 0;
  virtual bool RecreateQuickLaunchShortcut() const = 0;
  virtual bool RecreateStartMenuShortcut() const = 0;
  virtual std::optional<bool> GetSingleProfile() const = 0;
  virtual bool StartMenuShortcutExists() const = 0;
  virtual bool IsExperimentEnabled(const std::string& name) const = 0;
  virtual const std::string& GetAutoupdateUuid() const = 0;
};

using InstallationFolderDetailsFactory =
    base::RepeatingCallback<std::unique_ptr<InstallationFolderDetails>()>;

// New, empty folder details from the process-wide factory.
std::unique_ptr<InstallationFolderDetails> CreateInstallationFolderDetails();

// Replaces the process-wide factory (tests); a null callback restores the
// real one.
void SetInstallationFolderDetailsFactoryForTesting(
    InstallationFolderDetailsFactory factory);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLATION_FOLDER_DETAILS_H_
