#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLER_STEP_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLER_STEP_H_

#include <stdint.h>

#include <string>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/strings/string16.h"
#include "desktop/windows/installer/common/installer_result.h"

namespace installer {

class InstallationFolderDetails;
class InstallerStepContext;
class Settings;
struct InstallationStatus;

enum InstallerStepStatus : uint32_t {
  STEP_DONE = 0,
  STEP_FAILED = 1,
  // Run the step again; when it still asks after the last attempt, the run
  // fails.
  STEP_RETRY_THEN_FAIL = 2,
  // Run the step again; when it still asks after the last attempt, the run
  // goes on as if it had succeeded.
  STEP_RETRY_THEN_CONTINUE = 3,
};

// What one attempt of a step came to. On failure the scheduler copies code,
// message and path into the thread's last-error record.
struct InstallerStepResult {
  // Code RESULT_GENERAL_ERROR, no path, no message.
  explicit InstallerStepResult(InstallerStepStatus status = STEP_DONE);
  InstallerStepResult(InstallerStepStatus status,
                      InstallerResult code,
                      const base::string16& path,
                      const std::string& message);

  InstallerStepStatus status;
  InstallerResult code;
  base::string16 path;
  std::string message;
};

// One named change of a step list. Execute may run several times (attempt
// 0, 1, ...) on the backend's main thread and reports only through its
// result; every change it makes goes into the run's transaction, so a
// failed step leaves nothing half-done.
class InstallerStep {
 public:
  InstallerStep(const std::string& name, InstallerStepContext* context);
  virtual ~InstallerStep();

  virtual void Execute(InstallerStepResult* result, int attempt) = 0;

  const std::string& name() const { return name_; }

 protected:
  InstallerStepContext* GetContext() const { return context_; }
  Settings* GetSettings() const;
  base::FilePath GetTargetFolder() const;
  base::FilePath GetPackageDir() const;
  InstallationStatus* GetStatusUnderConstruction() const;
  const InstallationFolderDetails& GetFolderDetails() const;

 private:
  const std::string name_;
  InstallerStepContext* const context_;

  DISALLOW_COPY_AND_ASSIGN(InstallerStep);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLER_STEP_H_
