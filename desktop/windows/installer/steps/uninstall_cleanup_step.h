#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_UNINSTALL_CLEANUP_STEP_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_UNINSTALL_CLEANUP_STEP_H_

#include <stdint.h>

#include <set>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/installer/steps/installer_step.h"

namespace base {
class CommandLine;
}

namespace installer {

// The batch file that finishes an uninstallation, in the install folder.
extern const wchar_t kUninstallBatchFileName[];

// Adds to |folders| every folder that holds |path|: its folder, that
// folder's folder and so on, without the drive root.
void AddHoldingFolders(const base::FilePath& path,
                       std::set<base::FilePath>* folders);

// The text of "k.bat": waits until the processes |pid1|, |pid2| and |pid3|
// (0 for "none"; |pid1| is always watched) have ended, then deletes
// |pending_files| in order, removes |pending_folders| deepest first (only
// empty ones go) and finally itself. Lines end with a single line feed;
// paths are in the OEM code page, in which cmd reads the batch, or short
// (8.3) names where a character has no place in it.
std::string BuildUninstallBatch(
    uint32_t pid1,
    uint32_t pid2,
    uint32_t pid3,
    const std::vector<base::FilePath>& pending_files,
    const std::set<base::FilePath>& pending_folders);

// "uninstall_cleanup": removes the autoupdate task and the installation's
// files, and hands what is still in use to "k.bat", which runs once the
// uninstalling processes have ended. Deletes the user's profile and cache
// when the settings ask for it. Never fails.
class UninstallCleanupStep : public InstallerStep {
 public:
  // |command_line| is not owned and outlives the step.
  UninstallCleanupStep(InstallerStepContext* context,
                       const base::CommandLine* command_line);
  ~UninstallCleanupStep() override;

  void Execute(InstallerStepResult* result, int attempt) override;

 protected:
  // Starts the batch file of |install_folder| hidden, without waiting; apart
  // so that tests can see the start without the batch running.
  virtual void StartBatch(const base::FilePath& install_folder);

 private:
  void RemoveAutoupdateTask();
  // Deletes |path| in the run's transaction; emptied folders go up to
  // |root|, which stays.
  bool Delete(const base::FilePath& path,
              bool check_in_use,
              bool remove_empty_parents,
              const base::FilePath& root);
  void DeleteProfile(const base::FilePath& install_folder);

  const base::CommandLine* const command_line_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_UNINSTALL_CLEANUP_STEP_H_
