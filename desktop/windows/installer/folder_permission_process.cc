#include "desktop/windows/installer/folder_permission_process.h"

#include <windows.h>
#include <aclapi.h>

#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/macros.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/string16.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/installer_object_names.h"
#include "desktop/windows/installer/installer_utils.h"
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
// process can't be opened; |open_error|, when given, then gets the reason.
bool OpenProcessOfSwitch(const base::CommandLine& command_line,
                         const char* switch_name,
                         base::win::ScopedHandle* process,
                         DWORD* open_error = nullptr) {
  unsigned int pid = 0;
  if (!base::StringToUint(command_line.GetSwitchValueASCII(switch_name),
                          &pid)) {
    return false;
  }
  process->Set(::OpenProcess(SYNCHRONIZE, FALSE, pid));
  if (open_error)
    *open_error = process->IsValid() ? ERROR_SUCCESS : ::GetLastError();
  return true;
}

// Whether |folder| is a plain folder of a local drive: a drive letter, then
// names only. This role runs elevated on a path a standard user chose, so
// a drive root, a parent or "." reference, a device, long-path or UNC form
// and device names are all refused.
bool IsPlainLocalFolder(const base::FilePath& folder) {
  const base::string16 path = folder.StripTrailingSeparators().value();
  if (path.size() < 4 || !base::IsAsciiAlpha(path[0]) || path[1] != L':' ||
      !base::FilePath::IsSeparator(path[2])) {
    return false;
  }
  base::FilePath unused;
  return MakeSafeRelativePath(path.substr(3), &unused);
}

// The system's name of the folder |handle| is open to, every junction and
// link on the way resolved, without the "\\?\" prefix; empty when the
// system can't tell.
base::FilePath GetFinalFolderPath(HANDLE handle) {
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD length = ::GetFinalPathNameByHandleW(
        handle, buffer.data(), static_cast<DWORD>(buffer.size()),
        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0)
      return base::FilePath();
    if (length < buffer.size()) {
      base::string16 path(buffer.data(), length);
      const base::string16 kPrefix = L"\\\\?\\";
      // A folder of a drive that has a letter comes back as "\\?\C:\...";
      // anything else (a share, a volume without a letter) is no plain
      // local folder.
      if (!base::StartsWith(path, kPrefix, base::CompareCase::SENSITIVE) ||
          path.size() < kPrefix.size() + 3 ||
          path[kPrefix.size() + 1] != L':') {
        return base::FilePath();
      }
      return base::FilePath(path.substr(kPrefix.size()));
    }
    buffer.resize(length + 1);
  }
  return base::FilePath();
}

// Opens |folder| for |access| and keeps it from being renamed or deleted
// while the handle lives. The handle is good only when it leads to |folder|
// itself: a junction or link in any component (the system follows them)
// leads elsewhere, and so does a short (8.3) or other alias of the name.
base::win::ScopedHandle OpenFolderDirectly(const base::FilePath& folder,
                                           DWORD access) {
  base::win::ScopedHandle handle(::CreateFileW(
      folder.value().c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle.IsValid()) {
    LOG(ERROR) << "Cannot open " << folder.value() << ": " << ::GetLastError();
    return handle;
  }
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!::GetFileInformationByHandle(handle.Get(), &info) ||
      !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    LOG(ERROR) << folder.value() << " is no folder";
    return base::win::ScopedHandle();
  }
  base::FilePath requested = folder.NormalizePathSeparators();
  requested = requested.StripTrailingSeparators();
  const base::FilePath reached = GetFinalFolderPath(handle.Get());
  // The file system compares names without regard to case, and so does
  // this; any other difference is a way round.
  if (reached.empty() ||
      base::FilePath::CompareIgnoreCase(
          requested.value(), reached.StripTrailingSeparators().value()) != 0) {
    LOG(ERROR) << "Refused " << folder.value() << ": it leads to \""
               << reached.value() << "\"";
    return base::win::ScopedHandle();
  }
  return handle;
}

// The folder, opened to read and change its DACL and held unchanged while
// the handle lives; invalid when it is reached through a junction or link.
// A missing folder is created first, but only below an existing folder that
// is reached directly: the creation would otherwise follow a link as well.
base::win::ScopedHandle OpenGrantFolder(const base::FilePath& folder) {
  if (!base::DirectoryExists(folder)) {
    base::FilePath existing = folder.DirName();
    while (!base::DirectoryExists(existing)) {
      const base::FilePath parent = existing.DirName();
      if (parent == existing)
        return base::win::ScopedHandle();
      existing = parent;
    }
    base::win::ScopedHandle ancestor =
        OpenFolderDirectly(existing, FILE_READ_ATTRIBUTES);
    if (!ancestor.IsValid())
      return base::win::ScopedHandle();
    if (!base::CreateDirectory(folder)) {
      LOG(ERROR) << "Cannot create " << folder.value();
      return base::win::ScopedHandle();
    }
  }
  return OpenFolderDirectly(folder,
                            READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES);
}

}  // namespace

bool MakeFolderGrantDacl(PACL old_dacl,
                         const base::string16& user,
                         PACL* new_dacl) {
  *new_dacl = nullptr;
  base::string16 trustee = user;
  EXPLICIT_ACCESSW access = {};
  ::BuildExplicitAccessWithNameW(&access, &trustee[0], GENERIC_ALL,
                                 GRANT_ACCESS,
                                 SUB_CONTAINERS_AND_OBJECTS_INHERIT);
  const DWORD result = ::SetEntriesInAclW(1, &access, old_dacl, new_dacl);
  if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "Cannot add the grant for " << user << ": " << result;
    *new_dacl = nullptr;
    return false;
  }
  return true;
}

bool IsBackendAlive(bool opened, DWORD open_error, bool ended) {
  if (opened)
    return !ended;
  // Another account's process often can't be opened at all; only a missing
  // process id says the backend is gone.
  return open_error != ERROR_INVALID_PARAMETER;
}

namespace {

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
  // The installer found there runs elevated.
  const base::FilePath package =
      command_line.GetSwitchValuePath("wait-for-package");
  if (!package.IsAbsolute() || package.ReferencesParent())
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
  base::CommandLine installer(package.Append(L"installer.exe"));
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
  // can still be opened while someone holds a handle to it.) One that
  // exists but can't be opened is not watched: the undo alone ends the
  // grant then.
  base::win::ScopedHandle backend;
  if (command_line.HasSwitch("parent-pid")) {
    DWORD open_error = ERROR_SUCCESS;
    if (!OpenProcessOfSwitch(command_line, "parent-pid", &backend,
                             &open_error) ||
        !IsBackendAlive(
            backend.IsValid(), open_error,
            backend.IsValid() &&
                ::WaitForSingleObject(backend.Get(), 0) != WAIT_TIMEOUT)) {
      return;
    }
  }

  // Held until the grant is taken back, so that the folder can't be swapped
  // for a junction to somewhere else in between. The DACL is read and set
  // through it: by name, a link put in place meanwhile would be followed.
  base::win::ScopedHandle held = OpenGrantFolder(folder);
  if (!held.IsValid())
    return;
  PACL old_dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD read =
      ::GetSecurityInfo(held.Get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                        nullptr, nullptr, &old_dacl, nullptr, &descriptor);
  if (read != ERROR_SUCCESS) {
    LOG(ERROR) << "Cannot read the DACL of " << folder.value() << ": " << read;
    return;
  }
  auto saved = std::make_unique<SavedSecurityDescriptor>(
      folder.value(), SE_FILE_OBJECT, old_dacl, descriptor);

  PACL new_dacl = nullptr;
  if (!MakeFolderGrantDacl(old_dacl, user, &new_dacl))
    return;
  const DWORD set =
      ::SetSecurityInfo(held.Get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                        nullptr, nullptr, new_dacl, nullptr);
  ::LocalFree(new_dacl);
  if (set != ERROR_SUCCESS) {
    LOG(ERROR) << "Cannot set the DACL of " << folder.value() << ": " << set;
    return;
  }

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
  RestoreSecurityThroughHandle(held.Get(), &saved);
}

}  // namespace

void RunFolderPermissionProcess(const base::CommandLine& command_line,
                                base::TimeDelta undo_grace) {
  if (!command_line.HasSwitch("permissions-for-user"))
    return;
  const base::FilePath folder =
      command_line.GetSwitchValuePath("set-folder-permission");
  // A relative path would name a folder below wherever this process was
  // started; other forms could reach a system folder.
  if (!folder.IsAbsolute() || !IsPlainLocalFolder(folder))
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
  // cmd would otherwise keep the current folder of whoever starts it, which
  // may lie inside the installation, and no rmdir could take that folder.
  options.current_directory = installation_folder.DirName();
  if (options.current_directory == installation_folder &&
      !base::GetTempDir(&options.current_directory)) {
    options.current_directory.clear();
  }
  base::Process process =
      base::LaunchProcess(base::CommandLine(batch), options);
}

}  // namespace installer
