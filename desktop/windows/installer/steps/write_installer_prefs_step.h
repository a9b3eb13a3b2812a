#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_WRITE_INSTALLER_PREFS_STEP_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_WRITE_INSTALLER_PREFS_STEP_H_

#include "base/files/file_path.h"
#include "base/memory/ref_counted.h"
#include "desktop/windows/installer/steps/installer_step.h"

class JsonPrefStore;

namespace base {
class CommandLine;
}

namespace installer {

class InterprocessState;

// "installer_prefs.json" of the install folder.
extern const wchar_t kInstallerPrefsFileName[];

// "write_installer_prefs": records the installation's choices in
// "installer_prefs.json", keeping every other key of the file. Never fails:
// what cannot be known or written is left out.
class WriteInstallerPrefsStep : public InstallerStep {
 public:
  // |state| and |command_line| are not owned and outlive the step.
  WriteInstallerPrefsStep(InstallerStepContext* context,
                          InterprocessState* state,
                          const base::CommandLine* command_line);
  ~WriteInstallerPrefsStep() override;

  // InstallerStep:
  void Execute(InstallerStepResult* result, int attempt) override;

 private:
  InterprocessState* const state_;
  const base::CommandLine* const command_line_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_WRITE_INSTALLER_PREFS_STEP_H_
