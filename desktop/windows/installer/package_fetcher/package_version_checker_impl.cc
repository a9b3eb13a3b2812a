#include "desktop/windows/installer/package_fetcher/package_version_checker_impl.h"

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/stringprintf.h"
#include "base/version.h"
#include "desktop/windows/installer/avro_stats/avro_events.h"
#include "desktop/windows/installer/avro_stats/avro_stats_sender.h"
#include "desktop/windows/installer/common/file_version_utils.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/common/product_info.h"
#include "desktop/windows/installer/installer_utils.h"
#include "desktop/windows/installer/lzma_util/lzma_util.h"

namespace installer {

namespace {

const wchar_t kPackageFileName[] = L"kavor_package";
const wchar_t kPackageVersionFileName[] = L"package_version";
const wchar_t kLegacyInstallerName[] = L"installer.exe";
// The library the installer of a package loads from beside itself; an old
// package's installer.exe cannot answer without it.
const wchar_t kLegacyInstallerLibraryName[] = L"kavor_installer.dll";

// Filled in only when a rollback build is made, so that it accepts the
// older packages it rolls back to (down to this version, within 50 major
// versions of its own). Every other build leaves it empty and the branch in
// Compare never runs; it stays so that a rollback build changes this one
// text and nothing else.
const char kAllowedVersionOverride[] = "";

void AddVersionLines(const std::string& version, const std::string& stream) {
  if (!stream.empty())
    AddLastInstallerErrorContext("Stream: " + stream);
  if (!version.empty())
    AddLastInstallerErrorContext("Version: " + version);
}

bool FailMainPackage() {
  return AddLastInstallerErrorContext("Main component version check failed");
}

}  // namespace

PackageVersionCheckerImpl::PackageVersionCheckerImpl(
    std::unique_ptr<FileVersionUtils> file_version_utils,
    std::unique_ptr<LzmaUtil> lzma,
    UnpackProgressObserver* unpack_observer)
    : file_version_utils_(std::move(file_version_utils)),
      lzma_(std::move(lzma)),
      unpack_observer_(unpack_observer) {}

PackageVersionCheckerImpl::~PackageVersionCheckerImpl() = default;

PackageVersionCheckerImpl::CompareResult PackageVersionCheckerImpl::Compare(
    const base::FilePath& file,
    bool legacy,
    std::string* version,
    std::string* stream) {
  version->clear();
  if (stream)
    stream->clear();
  const ProductInfo* product = ProductInfoImpl::GetInstance();
  base::Version own(product->GetInternalVersion());
  const base::Version allowed(kAllowedVersionOverride);
  if (allowed.IsValid() && own.IsValid() &&
      allowed.components()[0] + 50 >= own.components()[0]) {
    VLOG(1) << "Using allowed version override " << kAllowedVersionOverride;
    own = allowed;
  }

  base::Version full;
  base::Version internal;
  const bool read = legacy ? file_version_utils_->GetVersionFromExe(
                                 file, &full, &internal, stream)
                           : file_version_utils_->GetPackageFileVersion(
                                 file, &full, &internal, stream);
  if (!read) {
    if (stream)
      stream->clear();
    AddLastInstallerErrorContext("Version data not present in the file");
    return NO_VERSION_DATA;
  }
  *version = full.GetString();
  VLOG(1) << "Downloaded item version: " << *version;

  if (own.IsValid() && internal.IsValid() && internal.CompareTo(own) >= 0) {
    if (stream) {
      VLOG(1) << "Downloaded item stream: " << *stream;
      if (*stream != product->GetChannelName()) {
        SetLastInstallerError(
            RESULT_GENERAL_ERROR,
            "Downloaded item is of a different stream than the installer");
        return REFUSED;
      }
    }
    return ACCEPTED;
  }
  SetLastInstallerError(RESULT_GENERAL_ERROR,
                        "Downloaded item is older than the installer");
  return REFUSED;
}

bool PackageVersionCheckerImpl::CheckMainPackage(const base::FilePath& folder,
                                                 std::string* version,
                                                 std::string* stream) {
  switch (Compare(folder.Append(kPackageFileName), false, version, stream)) {
    case ACCEPTED:
      return true;
    case REFUSED:
      AddVersionLines(*version, *stream);
      AddLastInstallerErrorContext("Failed the package version check");
      return FailMainPackage();
    case NO_VERSION_DATA:
      break;
  }
  return CheckLegacyPackage(folder, version, stream) || FailMainPackage();
}

bool PackageVersionCheckerImpl::CheckLegacyPackage(const base::FilePath& folder,
                                                   std::string* version,
                                                   std::string* stream) {
  const base::FilePath installer = folder.Append(kLegacyInstallerName);
  std::vector<base::FilePath> extracted;
  bool have_installer = false;
  const int opened = lzma_->Open(folder.Append(kPackageFileName));
  if (opened != LzmaUtil::OPEN_SUCCESS) {
    SetLastInstallerError(
        RESULT_GENERAL_ERROR,
        base::StringPrintf("Archive opening failed with error %d", opened));
  } else {
    const int unpacked =
        lzma_->Extract(folder,
                       {base::FilePath(kLegacyInstallerName),
                        base::FilePath(kLegacyInstallerLibraryName)},
                       unpack_observer_, &extracted, nullptr);
    // The package must not stay open: it is unpacked or moved later.
    lzma_->Close();
    if (unpacked != LzmaUtil::EXTRACT_SUCCESS) {
      SetLastInstallerError(
          RESULT_GENERAL_ERROR,
          base::StringPrintf("Archive unpacking failed with error %d",
                             unpacked));
    } else if (std::find(extracted.begin(), extracted.end(), installer) ==
               extracted.end()) {
      SetLastInstallerError(RESULT_GENERAL_ERROR,
                            "The package holds no installer.exe");
    } else {
      have_installer = true;
    }
  }

  bool accepted = false;
  if (!have_installer) {
    AddLastInstallerErrorContext(
        "Cannot unpack installer.exe for legacy version check");
  } else if (Compare(installer, true, version, stream) != ACCEPTED) {
    AddVersionLines(*version, *stream);
    AddLastInstallerErrorContext("Failed the version check");
  } else {
    const base::FilePath version_file = folder.Append(kPackageVersionFileName);
    const int size = static_cast<int>(version->size());
    if (base::WriteFile(version_file, version->data(), size) < size) {
      PLOG(ERROR) << "Cannot write " << version_file.value();
      // A cut-off version would be read as whole.
      base::DeleteFile(version_file, false);
      SetLastInstallerError(RESULT_GENERAL_ERROR,
                            "Cannot write the package version file.");
    } else {
      accepted = true;
    }
  }

  // Also what a failed extraction left.
  for (const base::FilePath& file : extracted) {
    if (!base::DeleteFile(file, false))
      PLOG(ERROR) << "Cannot delete " << file.value();
  }
  return accepted;
}

bool PackageVersionCheckerImpl::CheckAdditionalFile(
    const base::FilePath& folder, const std::string& kind_name) {
  std::string version;
  if (Compare(GetComponentInstaller(folder, kind_name), true, &version,
              nullptr) != ACCEPTED) {
    AddVersionLines(version, std::string());
    return AddLastInstallerErrorContext("Additional file version invalid");
  }
  GetAvroStatsSender()->Send(
      std::make_unique<VersionVerifiedEvent>(version, std::string(), 1));
  return true;
}

}  // namespace installer
