#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_SHORTCUT_STEPS_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_SHORTCUT_STEPS_H_

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "desktop/windows/installer/steps/installer_step.h"

namespace installer {

class InterprocessState;
class TaskbandUtils;
struct InstallationStatus;

// Where one copy of the master shortcut may go, and the path of the new
// status that records it.
struct ShortcutDestination {
  base::FilePath folder;
  base::FilePath* status_path = nullptr;
  // Whether the master shortcut is copied to |folder|.
  bool create = false;
};

enum ShortcutDestinationKind {
  SHORTCUT_DESKTOP = 0,
  SHORTCUT_START_MENU = 1,
  SHORTCUT_QUICK_LAUNCH = 2,
  SHORTCUT_DESTINATION_COUNT = 3,
};

using ShortcutDestinations = ShortcutDestination[SHORTCUT_DESTINATION_COUNT];

// The shell folder (a base path key) that holds the shortcut of |kind|, the
// all-users one where |all_users| says so.
int ShortcutFolderKey(int kind, bool all_users);

// What the shortcut steps share: the creation of the browser's shortcuts
// and taskbar pins, and their unpinning. Shortcut failures never fail a
// run; they are logged.
class ShortcutsStep : public InstallerStep {
 public:
  ShortcutsStep(const std::string& name,
                InstallerStepContext* context,
                InterprocessState* state,
                std::unique_ptr<TaskbandUtils> taskband);
  ~ShortcutsStep() override;

 protected:
  // The browser's shortcut file name in this build ("Kavor developer.lnk").
  static base::FilePath GetShortcutName();

  // Makes the master shortcut to |target| in the package folder, pins it
  // when |pinning|, and copies it to every destination marked to create. An
  // unknown or relative package folder makes no shortcut at all.
  void CreateShortcuts(ShortcutDestinations& destinations,
                       bool pinning,
                       const base::FilePath& target);
  // Takes each shortcut off the taskbar and deletes its file.
  void UnpinShortcuts(const std::vector<base::FilePath>& shortcuts);

  InterprocessState* state() const { return state_; }
  TaskbandUtils* taskband() const { return taskband_.get(); }

 private:
  void CreateSocialSiteShortcut(const base::FilePath& package,
                                const base::FilePath& target);

  InterprocessState* const state_;
  const std::unique_ptr<TaskbandUtils> taskband_;
};

// "install_shortcuts": the shortcuts the settings ask for, on the desktop,
// in the Start menu and in Quick Launch (for all users where the settings
// say so), and the taskbar pins. A standalone copy gets none.
class InstallShortcutsStep : public ShortcutsStep {
 public:
  InstallShortcutsStep(InstallerStepContext* context,
                       InterprocessState* state,
                       std::unique_ptr<TaskbandUtils> taskband);
  ~InstallShortcutsStep() override;

  // InstallerStep:
  void Execute(InstallerStepResult* result, int attempt) override;
};

// "remove_shortcuts": takes away every shortcut and taskbar pin of the
// installation being removed, and the temporary shortcut folder.
class RemoveShortcutsStep : public ShortcutsStep {
 public:
  RemoveShortcutsStep(InstallerStepContext* context,
                      InterprocessState* state,
                      std::unique_ptr<TaskbandUtils> taskband);
  ~RemoveShortcutsStep() override;

  // InstallerStep:
  void Execute(InstallerStepResult* result, int attempt) override;
};

// "update_shortcuts": brings the shortcuts and the taskbar pin of an
// existing installation in line with the settings: keeps, renames,
// recreates, adds or removes each of them. A standalone copy is left alone.
class UpdateShortcutsStep : public ShortcutsStep {
 public:
  UpdateShortcutsStep(InstallerStepContext* context,
                      InterprocessState* state,
                      std::unique_ptr<TaskbandUtils> taskband);
  ~UpdateShortcutsStep() override;

  // InstallerStep:
  void Execute(InstallerStepResult* result, int attempt) override;

 private:
  // Whether a recorded shortcut carries another name than the product's
  // shortcut name of this build.
  bool ShortcutsNeedRenaming(const InstallationStatus& existing) const;
  // False when the existing pins stay as they are.
  bool DecidePinning(bool rename);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_SHORTCUT_STEPS_H_
