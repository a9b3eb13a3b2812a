#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_STEP_CONTEXT_IMPL_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_STEP_CONTEXT_IMPL_H_

#include <windows.h>
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/strings/string16.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/installer_step_context.h"
#include "desktop/windows/installer/service/installation_status.h"

namespace installer {

class InterprocessState;

// The state of a backend run that its steps see, and the variables of its
// registry templates. The Installer derives from this and fills the state
// as the run proceeds; the steps only read it through the two interfaces.
class InstallerStepContextImpl : public InstallerStepContext,
                                 public TemplateVariables {
 public:
  // The file whose presence in the target folder marks a minimal install.
  static const wchar_t kMinimalInstallFileName[];

  // |interprocess_state| null means the process-wide one.
  explicit InstallerStepContextImpl(
      InterprocessState* interprocess_state = nullptr);
  ~InstallerStepContextImpl() override;

  void set_settings(Settings* settings) { settings_ = settings; }
  const base::FilePath& installation_subfolder() const {
    return installation_subfolder_;
  }
  void set_installation_subfolder(const base::FilePath& subfolder) {
    installation_subfolder_ = subfolder;
  }
  // Handed to the step scheduler, whose registry step writes the chosen
  // uninstall key name into it; read by the variable "Uninstall".
  base::string16* uninstall_string() { return &uninstall_string_; }
  void set_second_installer_pid(uint32_t pid) { second_installer_pid_ = pid; }
  // Held while the folder-permission process has given this run a temporary
  // grant; setting the event makes that process take the grant back.
  void set_permission_undo_event(base::win::ScopedHandle event) {
    permission_undo_event_ = std::move(event);
  }
  base::win::ScopedHandle TakePermissionUndoEvent() {
    return std::move(permission_undo_event_);
  }
  // Called for OnImportantEvent; the Installer passes the event on to its
  // observers.
  void set_important_event_callback(
      base::RepeatingCallback<void(const std::string&)> callback) {
    important_event_callback_ = std::move(callback);
  }
  // InstallerStepContext:
  Settings* GetSettings() override;
  Transaction* GetTransaction() override;
  const InstallationStatus& GetExistingInstallationStatus() override;
  base::FilePath GetTargetFolder() override;
  base::FilePath GetPackageDir() override;
  base::FilePath GetTargetFolderForStatus() override;
  base::FilePath GetInstallFolder() override;
  base::FilePath GetInstallFolderFromSettings() override;
  InstallationStatus* GetStatusUnderConstruction() override;
  const InstallationFolderDetails& GetFolderDetails() override;
  uint32_t GetSecondInstallerPid() override;
  TemplateVariables* GetVariables() override;
  bool HasTemporaryFolderPermission() override;
  void StartRecordingRegistryValues() override;
  void StopRecordingRegistryValues() override;
  void OnImportantEvent(const std::string& name) override;
  bool HasExistingInstallation() override;
  bool IsMinimalInstall() override;
  bool IsRunningFromTargetFolder() override;
  bool IsPackageDirKnown() override;

  // TemplateVariables:
  base::string16 GetVariable(const base::string16& name) const override;
  // The registry lists of the status under construction: HKEY_LOCAL_MACHINE
  // values go to its machine-wide list, those of every other root to the
  // current user's.
  std::vector<RegistryKeyRecord>* GetRecordedRegistryValues(HKEY root) override;

 protected:
  InterprocessState* interprocess_state();

 private:
  InterprocessState* const interprocess_state_;
  Settings* settings_ = nullptr;
  Transaction transaction_;
  InstallationStatus status_under_construction_;
  base::FilePath installation_subfolder_;
  base::string16 uninstall_string_;
  bool recording_registry_values_ = false;
  uint32_t second_installer_pid_ = 0;
  base::win::ScopedHandle permission_undo_event_;
  base::RepeatingCallback<void(const std::string&)> important_event_callback_;

  DISALLOW_COPY_AND_ASSIGN(InstallerStepContextImpl);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_STEP_CONTEXT_IMPL_H_
