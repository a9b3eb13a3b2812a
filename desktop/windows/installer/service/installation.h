#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALLATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALLATION_H_

#include "base/files/file_path.h"
#include "base/macros.h"

namespace installer {

// One installed browser in one installation folder.
//
// So far what start-up needs, the process-wide current installation and its
// folder, and the clean-up of a stray class key. Preferences, status and the
// browser's registration join later.
class Installation {
 public:
  // The installation the running executable belongs to: the executable's
  // folder, or its parent when only the parent holds "launcher.exe" (the
  // installer of an installation runs from its versioned subfolder). Empty
  // when the executable's folder is unknown.
  Installation();
  explicit Installation(const base::FilePath& folder);
  virtual ~Installation();

  // The process's one current installation, made on first use (on the main
  // thread during start-up) and kept until the process ends.
  static Installation* GetCurrent();

  virtual const base::FilePath& GetFolder() const;

  // Removes the key "Software\Classes\ProgID" (a key literally named so,
  // left by early builds) of the current user's hive, or the machine's when
  // |all_users|, when its "FriendlyTypeName" shows it is the browser's. The
  // removal is final at once; nothing is reported.
  virtual void RemoveStrayProgIdKey(bool all_users);

 private:
  base::FilePath folder_;

  DISALLOW_COPY_AND_ASSIGN(Installation);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALLATION_H_
