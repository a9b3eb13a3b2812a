#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_STATUS_STEPS_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_STATUS_STEPS_H_

#include "base/files/file_path.h"
#include "desktop/windows/installer/steps/installer_step.h"

namespace base {
class CommandLine;
}

namespace installer {

class InterprocessState;

// "installation_status.json" and "old_status" of the install folder.
extern const wchar_t kInstallationStatusFileName[];
extern const wchar_t kOldStatusFolderName[];

// Adds the firewall rule that lets |executable| receive mDNS, or removes
// every rule naming it. Failures are logged only.
void SetUpFirewall(const base::FilePath& executable, bool remove);

// "install_tracking_data": the server tracking data as "server_tracking_data"
// in the install folder, when there is any. Never fails.
class InstallTrackingDataStep : public InstallerStep {
 public:
  // |state| is not owned and outlives the step.
  InstallTrackingDataStep(InstallerStepContext* context,
                          InterprocessState* state);
  ~InstallTrackingDataStep() override;

  void Execute(InstallerStepResult* result, int attempt) override;

 private:
  InterprocessState* const state_;
};

// "write_installation_status": stores the status this run built. With
// |merge_existing| ("update_installation_status", a repair) the existing
// status gains the files of this run instead.
class WriteInstallationStatusStep : public InstallerStep {
 public:
  WriteInstallationStatusStep(InstallerStepContext* context,
                              bool merge_existing);
  ~WriteInstallationStatusStep() override;

  void Execute(InstallerStepResult* result, int attempt) override;

 private:
  const bool merge_existing_;
};

// "setup_file_and_protocol_handlers": hands the default-browser choice to
// the operating-system operations. Never fails.
class SetupFileAndProtocolHandlersStep : public InstallerStep {
 public:
  explicit SetupFileAndProtocolHandlersStep(InstallerStepContext* context);
  ~SetupFileAndProtocolHandlersStep() override;

  void Execute(InstallerStepResult* result, int attempt) override;
};

// "finalize": the autoupdate task and the firewall rule. Never fails: what
// cannot be set up is logged.
class FinalizeStep : public InstallerStep {
 public:
  explicit FinalizeStep(InstallerStepContext* context);
  ~FinalizeStep() override;

  void Execute(InstallerStepResult* result, int attempt) override;

 private:
  void RegisterAutoupdateTask();
};

// "remove_old_files": deletes the files of the earlier installations whose
// status files wait in "old_status", then those status files. Never fails;
// during an upgrade an old installation whose files cannot all go is kept
// whole.
class RemoveOldFilesStep : public InstallerStep {
 public:
  explicit RemoveOldFilesStep(InstallerStepContext* context);
  ~RemoveOldFilesStep() override;

  void Execute(InstallerStepResult* result, int attempt) override;

 private:
  void RemoveOldInstallation(const base::FilePath& status_file,
                             bool legacy_xml);
};

// "remove_old_root_files": the existing installation's root files, in the
// run's transaction. Never fails.
class RemoveOldRootFilesStep : public InstallerStep {
 public:
  explicit RemoveOldRootFilesStep(InstallerStepContext* context);
  ~RemoveOldRootFilesStep() override;

  void Execute(InstallerStepResult* result, int attempt) override;
};

// "move_old_status": moves the existing status file into "old_status" under
// its name + "." + the time in seconds, for a later "remove_old_files".
// Never fails.
class MoveOldStatusStep : public InstallerStep {
 public:
  explicit MoveOldStatusStep(InstallerStepContext* context);
  ~MoveOldStatusStep() override;

  void Execute(InstallerStepResult* result, int attempt) override;
};

// "uninstall_finalize": removes the status file; fails when it cannot.
class UninstallFinalizeStep : public InstallerStep {
 public:
  explicit UninstallFinalizeStep(InstallerStepContext* context);
  ~UninstallFinalizeStep() override;

  void Execute(InstallerStepResult* result, int attempt) override;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_STATUS_STEPS_H_
