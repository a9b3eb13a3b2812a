#include "desktop/windows/installer/package_unpacker.h"

#include "desktop/windows/installer/common/file_version_utils.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/interprocess_state.h"

namespace installer {

const char PackageUnpacker::kDirectUnpackingStepName[] = "direct_unpacking";

PackageUnpacker::PackageUnpacker(
    std::unique_ptr<FileVersionUtils> file_version_utils,
    std::unique_ptr<LzmaUtil> lzma_util,
    InstallerStepContext* context,
    PackageUnpackerDelegate* delegate,
    InterprocessState* interprocess_state)
    : file_version_utils_(std::move(file_version_utils)),
      lzma_util_(std::move(lzma_util)),
      context_(context),
      delegate_(delegate),
      interprocess_state_(interprocess_state) {}

PackageUnpacker::~PackageUnpacker() = default;

// Placeholder bodies until the unpacker lands.
bool PackageUnpacker::PrepareInstallSubfolder(base::CommandLine*) {
  return SetLastInstallerError(RESULT_GENERAL_ERROR, "Not implemented");
}

bool PackageUnpacker::Unpack(base::CommandLine*) {
  return SetLastInstallerError(RESULT_GENERAL_ERROR, "Not implemented");
}

void PackageUnpacker::OnFileCount(size_t) {}
void PackageUnpacker::OnFileUnpacked(size_t) {}

InterprocessState* PackageUnpacker::interprocess_state() {
  return interprocess_state_ ? interprocess_state_ : GetInterprocessState();
}

bool PackageUnpacker::CopyUnpackedFiles() {
  return false;
}

bool PackageUnpacker::UnpackArchive() {
  return false;
}

bool IsDirectUnpackingStep(const std::string& name) {
  return name == PackageUnpacker::kDirectUnpackingStepName;
}

}  // namespace installer
