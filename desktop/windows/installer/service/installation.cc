#include "desktop/windows/installer/service/installation.h"

#include "base/base_paths.h"
#include "base/files/file_util.h"
#include "base/path_service.h"

namespace installer {
namespace {

const wchar_t kLauncherExe[] = L"launcher.exe";

base::FilePath GetCurrentInstallationFolder() {
  base::FilePath folder;
  if (!base::PathService::Get(base::DIR_EXE, &folder))
    return base::FilePath();
  if (!base::PathExists(folder.Append(kLauncherExe)) &&
      base::PathExists(folder.DirName().Append(kLauncherExe))) {
    return folder.DirName();
  }
  return folder;
}

}  // namespace

Installation::Installation() : folder_(GetCurrentInstallationFolder()) {}

Installation::Installation(const base::FilePath& folder) : folder_(folder) {}

Installation::~Installation() = default;

// static
Installation* Installation::GetCurrent() {
  // Never destroyed: code running at exit may still ask for it.
  static Installation* current = new Installation();
  return current;
}

const base::FilePath& Installation::GetFolder() const {
  return folder_;
}

}  // namespace installer
