#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_REGISTRY_STEPS_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_REGISTRY_STEPS_H_

#include <windows.h>

#include <string>
#include <vector>

#include "base/macros.h"
#include "base/strings/string16.h"
#include "desktop/windows/installer/steps/installer_step.h"

namespace installer {

struct RegistryKeyRecord;

// Both steps work on HKEY_LOCAL_MACHINE for an all-users installation and
// on HKEY_CURRENT_USER otherwise.

// Writes the browser's registration (the registration template table) into
// the run's transaction and records every value in the new status. Only the
// uninstall entry is mandatory; every other row is best effort. A
// standalone copy writes nothing.
class SetupRegistryStep : public InstallerStep {
 public:
  // |uninstall_key| (owned by the run) receives the uninstall key chosen
  // for this installation, the value of the placeholder "{Uninstall}".
  SetupRegistryStep(InstallerStepContext* context,
                    base::string16* uninstall_key);
  ~SetupRegistryStep() override;

  void Execute(InstallerStepResult* result, int attempt) override;

  // The uninstall key of product and version below |root|, with the first
  // number suffix ("", "1", "2", ...) that no key has in the 32-bit view.
  // False when no free name was found.
  static bool BuildUninstallKeyName(HKEY root, base::string16* name);

 private:
  base::string16* const uninstall_key_;

  DISALLOW_COPY_AND_ASSIGN(SetupRegistryStep);
};

// Removes the registry keys and values that the existing installation
// recorded in its status, as deep as each key's clean depth says; also
// removes a stray class key of early builds. Never fails.
class CleanRegistryStep : public InstallerStep {
 public:
  // |launcher_bitness| is the ExecutableBitness of the installed
  // "launcher.exe".
  CleanRegistryStep(InstallerStepContext* context, int launcher_bitness);
  ~CleanRegistryStep() override;

  void Execute(InstallerStepResult* result, int attempt) override;

  // The key that a record of |path| with clean depth |depth| removes: the
  // key itself for 1, its ancestor depth - 1 levels up for more. False for
  // depth 0 (which deletes values only), for a depth or path that would
  // reach a key of fewer than three levels (a hive's top keys or "Software"
  // itself), for a negative depth as a status file may hold, and for a path
  // with an empty level.
  static bool GetKeyToDelete(const base::string16& path,
                             uint32_t depth,
                             base::string16* key);

 private:
  // Deletes the current user's URL protocol classes whose open command
  // starts this installation's launcher.
  void RemoveUserProtocolClasses();
  void CleanKeys(HKEY root, const std::vector<RegistryKeyRecord>& keys);
  void CleanKey(HKEY root, const RegistryKeyRecord& record);
  // True when the registration at |key| (only its value |value_name| when
  // that is given, else the key and everything below it) is shared with
  // other installations and now names another installation's folder.
  bool BelongsToAnother(HKEY root,
                        const base::string16& key,
                        const base::string16* value_name);

  const int launcher_bitness_;

  DISALLOW_COPY_AND_ASSIGN(CleanRegistryStep);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_REGISTRY_STEPS_H_
