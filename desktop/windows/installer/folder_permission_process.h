#ifndef DESKTOP_WINDOWS_INSTALLER_FOLDER_PERMISSION_PROCESS_H_
#define DESKTOP_WINDOWS_INSTALLER_FOLDER_PERMISSION_PROCESS_H_

#include <windows.h>

#include "base/files/file_path.h"
#include "base/strings/string16.h"
#include "base/time/time.h"

namespace base {
class CommandLine;
}  // namespace base

namespace installer {

// The pause between the undo signal and taking a temporary grant back: the
// backend that asked for the grant still closes its files in the folder.
constexpr base::TimeDelta kFolderPermissionUndoGrace =
    base::TimeDelta::FromSeconds(10);

// The elevated folder-permission process (`set-folder-permission`), started
// by a backend that may not write to its install folder. It runs before any
// log exists and ends silently on every failure: the backend sees a missing
// grant because the "given" event stays unsignalled.
//
// Grant mode: gives `permissions-for-user` full, inherited access to the
// folder (created when missing), signals the "given" event and, unless
// `permanent-permissions`, puts the folder's DACL back once the undo event
// is set, |undo_grace| later. The backend that asked passes its process id
// as `parent-pid`: its end (a crash, a kill) counts as the undo, so that a
// temporary grant never outlives it. Only a plain folder of a local drive
// is granted: no drive root, "..", device, long-path or UNC form, and none
// reached through a junction or link in any component, which the grant
// would follow. The DACL is read, set and put back through one handle to
// the folder, held throughout.
//
// Hand-over mode (`wait-for-package` with the package folder, `initial-pid`
// with the front end's process): waits for the package, then runs the
// package's "installer.exe" as the permission process with the switches of
// the grant (and `parent-pid`) and waits for it. An interrupted
// installation, or the end of the initial process, ends the wait without a
// launch.
void RunFolderPermissionProcess(const base::CommandLine& command_line,
                                base::TimeDelta undo_grace);

// |old_dacl| (may be null) with |user| given full access, inherited by
// every file and folder below; |*new_dacl| is LocalAlloc'd. False, with
// nothing to free, when the list can't be made.
bool MakeFolderGrantDacl(PACL old_dacl,
                         const base::string16& user,
                         PACL* new_dacl);

// Whether a grant may go ahead for the backend that asked for it: one that
// could be |opened| counts unless it already |ended|; one that could not
// counts unless |open_error| says no such process exists. (The role runs
// under an administrator's account and may be refused a standard user's
// process.)
bool IsBackendAlive(bool opened, DWORD open_error, bool ended);

// Starts "k.bat" of |installation_folder| hidden, without waiting for it;
// nothing when it is not there.
void RunUninstallBatch(const base::FilePath& installation_folder);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_FOLDER_PERMISSION_PROCESS_H_
