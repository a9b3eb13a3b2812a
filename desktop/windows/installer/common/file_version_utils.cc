#include "desktop/windows/installer/common/file_version_utils.h"

#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/common/process_runner.h"

namespace installer {

// Placeholder bodies until the version utilities land.
FileVersionUtilsImpl::FileVersionUtilsImpl(
    std::unique_ptr<ProcessRunner> runner)
    : runner_(std::move(runner)) {}

FileVersionUtilsImpl::~FileVersionUtilsImpl() = default;

bool FileVersionUtilsImpl::GetPackageFileVersion(const base::FilePath&,
                                                 base::Version*,
                                                 base::Version*,
                                                 std::string*) {
  return SetLastInstallerError(RESULT_GENERAL_ERROR, "Not implemented");
}

bool FileVersionUtilsImpl::GetVersionFromExe(const base::FilePath&,
                                             base::Version*,
                                             base::Version*,
                                             std::string*) {
  return SetLastInstallerError(RESULT_GENERAL_ERROR, "Not implemented");
}

bool GetInternalVersion(const base::Version&, base::Version*) {
  return false;
}

}  // namespace installer
