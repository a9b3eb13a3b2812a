#include "desktop/windows/installer/utils/working_folder.h"

#include <windows.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/win/scoped_generic.h"

namespace installer {
namespace {

bool GetDownloadsFolder(DWORD flags, base::FilePath* folder) {
  base::win::ScopedCoMem<wchar_t> path;
  HRESULT hr = ::SHGetKnownFolderPath(FOLDERID_Downloads, flags, nullptr,
                                      path.receive());
  bool ok = SUCCEEDED(hr) && path.is_valid() && *path.get();
  if (ok)
    *folder = base::FilePath(path.get());
  return ok;
}

// Runs a copy of |executable| inside |folder|. The exit code does not
// matter: starting is what a policy against programs in the folder stops.
bool CanRunCopyIn(const base::FilePath& folder,
                  const base::FilePath& executable) {
  base::FilePath copy = folder.Append(executable.BaseName());
  if (!base::CopyFile(executable, copy)) {
    VLOG(1) << "Cannot copy " << executable << " to " << folder;
    return false;
  }
  base::CommandLine command_line(copy);
  command_line.AppendSwitch("version");
  base::LaunchOptions options;
  // The copy runs without the library beside it; the child inherits the
  // error mode, so the loader ends it quietly instead of showing the user a
  // missing-DLL box. Only starting matters here.
  UINT previous_mode =
      ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  ::SetErrorMode(previous_mode | SEM_FAILCRITICALERRORS |
                 SEM_NOOPENFILEERRORBOX);
  base::Process process = base::LaunchProcess(command_line, options);
  ::SetErrorMode(previous_mode);
  bool launched = process.IsValid();
  if (launched) {
    // Only the start counts; the exit code is not examined.
    int exit_code = 0;
    if (!process.WaitForExit(&exit_code))
      VLOG(1) << "Cannot wait for the copy in " << folder;
  } else {
    VLOG(1) << "Cannot run a program in " << folder;
  }
  base::DeleteFile(copy, false);
  return launched;
}

}  // namespace

bool ProbeWorkingFolder(const base::FilePath& base,
                        const std::wstring& name,
                        const base::FilePath& executable,
                        base::FilePath* folder) {
  base::FilePath candidate = base.Append(name);
  if (!base::DirectoryExists(candidate) && !base::CreateDirectory(candidate))
    return false;
  if (!executable.empty() && !CanRunCopyIn(candidate, executable)) {
    ::RemoveDirectoryW(candidate.value().c_str());
    return false;
  }
  *folder = candidate;
  return true;
}

std::vector<BaseFolderGetter> GetDownloadFolderBases(
    const base::FilePath& executable) {
  return {
      [](base::FilePath* base) { return base::GetTempDir(base); },
      [](base::FilePath* base) {
        return GetDownloadsFolder(0, base) ||
               GetDownloadsFolder(KF_FLAG_CREATE | KF_FLAG_INIT, base);
      },
      [](base::FilePath* base) {
        return base::PathService::Get(base::DIR_HOME, base);
      },
      [executable](base::FilePath* base) {
        if (executable.empty())
          return false;
        *base = executable.DirName();
        return true;
      },
  };
}

bool FindWorkingFolder(const std::vector<BaseFolderGetter>& bases,
                       const std::wstring& name,
                       const base::FilePath& executable,
                       base::FilePath* folder) {
  for (const BaseFolderGetter& get_base : bases) {
    base::FilePath base;
    if (get_base(&base) && ProbeWorkingFolder(base, name, executable, folder)) {
      return true;
    }
  }
  return false;
}

}  // namespace installer
