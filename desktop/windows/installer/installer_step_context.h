#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_STEP_CONTEXT_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_STEP_CONTEXT_H_

#include <windows.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/strings/string16.h"
#include "desktop/windows/installer/service/transactions/transaction_operation.h"

namespace installer {

class InstallationFolderDetails;
class Settings;
struct InstallationStatus;
struct RegistryKeyRecord;

// Expands the placeholders of registry templates ("{InstallFolder}") and
// collects the registry values written while recording is on.
class TemplateVariables {
 public:
  virtual ~TemplateVariables() = default;

  // The value of the placeholder "{" + |name| + "}"; an unknown name gives
  // the name itself.
  virtual base::string16 GetVariable(const base::string16& name) const = 0;
  // The list the values written under |root| are recorded into (one for
  // HKEY_LOCAL_MACHINE, one for every other root); null while recording is
  // off.
  virtual std::vector<RegistryKeyRecord>* GetRecordedRegistryValues(
      HKEY root) = 0;
};

// What a step and the package unpacker see of the backend run. Folder
// words: the install folder is the folder the settings chose; the target
// folder is the install folder plus the versioned installation subfolder,
// where the package's files go.
class InstallerStepContext {
 public:
  virtual Settings* GetSettings() = 0;
  // The run's own transaction: rolled back on cancel, committed when the
  // run's owner is destroyed.
  virtual Transaction* GetTransaction() = 0;
  // The record of the installation already in the folder.
  virtual const InstallationStatus& GetExistingInstallationStatus() = 0;
  virtual base::FilePath GetTargetFolder() = 0;
  // Where the unpacked package lies.
  virtual base::FilePath GetPackageDir() = 0;
  virtual base::FilePath GetTargetFolderForStatus() = 0;
  virtual base::FilePath GetInstallFolder() = 0;
  virtual base::FilePath GetInstallFolderFromSettings() = 0;
  // The status record this run fills and finally writes.
  virtual InstallationStatus* GetStatusUnderConstruction() = 0;
  virtual const InstallationFolderDetails& GetFolderDetails() = 0;
  // The process id of a second installer (the `parent-pid` value or the
  // folder-permission process); 0 when none.
  virtual uint32_t GetSecondInstallerPid() = 0;
  virtual TemplateVariables* GetVariables() = 0;
  // True while this run holds a temporary grant on the install folder.
  virtual bool HasTemporaryFolderPermission() = 0;
  virtual void StartRecordingRegistryValues() = 0;
  virtual void StopRecordingRegistryValues() = 0;
  // Tells the observers of the run (and through the mailslot the front end).
  virtual void OnImportantEvent(const std::string& name) = 0;
  virtual bool HasExistingInstallation() = 0;
  // A minimal install leaves out the downloadable resources.
  virtual bool IsMinimalInstall() = 0;
  virtual bool IsRunningFromTargetFolder() = 0;
  virtual bool IsPackageDirKnown() = 0;

  virtual ~InstallerStepContext() = default;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_STEP_CONTEXT_H_
