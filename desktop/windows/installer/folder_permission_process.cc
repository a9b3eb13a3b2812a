#include "desktop/windows/installer/folder_permission_process.h"

#include <windows.h>
#include <aclapi.h>

#include <memory>
#include <string>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/macros.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/string16.h"
#include "base/strings/string_number_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/installer_object_names.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "desktop/windows/installer/service/service_utils.h"

namespace installer {
namespace {

// What the package's own permission process needs of this one's command
// line. `parent-pid` keeps a temporary grant tied to the backend that asked
// for it there as well.
const char* const kHandOverSwitches[] = {
    "crash-reporter-pid", "set-folder-permission", "permissions-for-user",
    "permanent-permissions", "parent-pid"};

base::win::ScopedHandle OpenFolderEvent(const wchar_t* name,
                                        const base::FilePath& folder,
                                        bool global,
                                        DWORD access) {
  const base::string16 object_name = MakeKernelObjectName(name, folder, global);
  return base::win::ScopedHandle(
      ::OpenEventW(access, FALSE, object_name.c_str()));
}

// The process whose decimal id |switch_name| holds, opened for waiting;
// false when the value is no process id. The handle is invalid when the
// process can't be opened.
bool OpenProcessOfSwitch(const base::CommandLine& command_line,
                         const char* switch_name,
                         base::win::ScopedHandle* process) {
  unsigned int pid = 0;
  if (!base::StringToUint(command_line.GetSwitchValueASCII(switch_name),
                          &pid)) {
    return false;
  }
  process->Set(::OpenProcess(SYNCHRONIZE, FALSE, pid));
  return true;
}

void HandOverToPackage(const base::CommandLine& command_line,
                       const base::FilePath& folder) {
  if (!command_line.HasSwitch("initial-pid"))
    return;
  base::win::ScopedHandle ready =
      OpenFolderEvent(kPackageReadyEventName, folder, true, SYNCHRONIZE);
  if (!ready.IsValid())
    return;
  base::win::ScopedHandle interrupted =
      OpenFolderEvent(kInterruptedEventName, folder, true, SYNCHRONIZE);
  if (!interrupted.IsValid())
    return;
  base::win::ScopedHandle initial;
  if (!OpenProcessOfSwitch(command_line, "initial-pid", &initial))
    return;
  // An initial process that can't be opened makes the wait fail at once.
  const HANDLE handles[] = {ready.Get(), interrupted.Get(), initial.Get()};
  if (::WaitForMultipleObjects(arraysize(handles), handles, FALSE, INFINITE) !=
      WAIT_OBJECT_0) {
    return;
  }
  // The wait names the first of several signalled objects; a package that
  // came with the interrupt, or with the front end's end, is not wanted.
  for (HANDLE stop : {interrupted.Get(), initial.Get()}) {
    if (::WaitForSingleObject(stop, 0) != WAIT_TIMEOUT)
      return;
  }
  base::CommandLine installer(
      command_line.GetSwitchValuePath("wait-for-package")
          .Append(L"installer.exe"));
  installer.CopySwitchesFrom(command_line, kHandOverSwitches,
                             arraysize(kHandOverSwitches));
  base::Process process = base::LaunchProcess(installer, base::LaunchOptions());
  int exit_code = 0;
  if (process.IsValid())
    (void)process.WaitForExit(&exit_code);
}

void GrantFolderPermission(const base::CommandLine& command_line,
                           const base::FilePath& folder,
                           base::string16 user,
                           base::TimeDelta undo_grace) {
  base::win::ScopedHandle given = OpenFolderEvent(
      kGivePermissionEventName, folder, false, EVENT_ALL_ACCESS);
  if (!given.IsValid())
    return;
  base::win::ScopedHandle undo = OpenFolderEvent(
      kGivePermissionUndoEventName, folder, false, EVENT_ALL_ACCESS);
  if (!undo.IsValid())
    return;
  // A backend that is already gone needs no grant. (A process that ended
  // can still be opened while someone holds a handle to it.)
  base::win::ScopedHandle backend;
  if (command_line.HasSwitch("parent-pid") &&
      (!OpenProcessOfSwitch(command_line, "parent-pid", &backend) ||
       !backend.IsValid() ||
       ::WaitForSingleObject(backend.Get(), 0) != WAIT_TIMEOUT)) {
    return;
  }

  if (!base::DirectoryExists(folder) && !base::CreateDirectory(folder))
    return;
  PACL old_dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetNamedSecurityInfoW(
          folder.value().c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
          nullptr, nullptr, &old_dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return;
  }
  auto saved = std::make_unique<SavedSecurityDescriptor>(
      folder.value(), SE_FILE_OBJECT, old_dacl, descriptor);

  EXPLICIT_ACCESSW access = {};
  ::BuildExplicitAccessWithNameW(&access, &user[0], GENERIC_ALL, GRANT_ACCESS,
                                 SUB_CONTAINERS_AND_OBJECTS_INHERIT);
  PACL new_dacl = nullptr;
  if (::SetEntriesInAclW(1, &access, old_dacl, &new_dacl) != ERROR_SUCCESS)
    return;
  base::string16 object_name = folder.value();
  const DWORD set = ::SetNamedSecurityInfoW(&object_name[0], SE_FILE_OBJECT,
                                            DACL_SECURITY_INFORMATION, nullptr,
                                            nullptr, new_dacl, nullptr);
  ::LocalFree(new_dacl);
  if (set != ERROR_SUCCESS)
    return;

  const bool told = !!::SetEvent(given.Get());
  if (command_line.HasSwitch("permanent-permissions"))
    return;
  if (told) {
    const HANDLE handles[] = {undo.Get(), backend.Get()};
    const DWORD count = backend.IsValid() ? 2 : 1;
    // The backend's end needs no pause: its files are closed.
    if (::WaitForMultipleObjects(count, handles, FALSE, INFINITE) ==
        WAIT_OBJECT_0) {
      ::Sleep(static_cast<DWORD>(undo_grace.InMilliseconds()));
    }
  }
  SecurityUtilsImpl().RestoreSecurity(&saved);
}

}  // namespace

void RunFolderPermissionProcess(const base::CommandLine& command_line,
                                base::TimeDelta undo_grace) {
  if (!command_line.HasSwitch("permissions-for-user"))
    return;
  const base::FilePath folder =
      command_line.GetSwitchValuePath("set-folder-permission");
  // A relative path would name a folder below wherever this process was
  // started.
  if (!folder.IsAbsolute())
    return;
  if (command_line.HasSwitch("wait-for-package")) {
    HandOverToPackage(command_line, folder);
    return;
  }
  GrantFolderPermission(
      command_line, folder,
      command_line.GetSwitchValueNative("permissions-for-user"), undo_grace);
}

void RunUninstallBatch(const base::FilePath& installation_folder) {
  // Without a folder the bare name would be looked for in the current one.
  if (installation_folder.empty())
    return;
  const base::FilePath batch = installation_folder.Append(L"k.bat");
  if (!base::PathExists(batch))
    return;
  base::LaunchOptions options;
  options.start_hidden = true;
  base::Process process =
      base::LaunchProcess(base::CommandLine(batch), options);
}

}  // namespace installer
