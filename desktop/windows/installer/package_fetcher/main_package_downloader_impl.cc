#include "desktop/windows/installer/package_fetcher/main_package_downloader_impl.h"

#include <stdint.h>

#include <memory>
#include <utility>
#include <vector>

#include "base/base_paths.h"
#include "base/bind.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/synchronization/waitable_event.h"
#include "base/values.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/common/json_pref_store_factory.h"
#include "desktop/windows/installer/package_fetcher/checksum_checker.h"
#include "desktop/windows/installer/package_fetcher/download_stats_collector.h"
#include "desktop/windows/installer/package_fetcher/package_metadata.h"
#include "desktop/windows/installer/package_fetcher/payload_manager.h"
#include "desktop/windows/installer/package_fetcher/signature_check.h"
#include "desktop/windows/installer/wininet/wininet_impl.h"

namespace installer {

namespace {

const wchar_t kPackageFileName[] = L"kavor_package";
const wchar_t kServerTrackingDataFileName[] = L"server_tracking_data";
const wchar_t kReadyMarkerFileName[] = L"ready";
const wchar_t kPrefsIncludeFileName[] = L"installer_prefs_include.json";
const wchar_t kInstallerCopyName[] = L"installer.exe";
// The name the host imports its library by.
const wchar_t kInstallerLibraryName[] = L"kavor_installer.dll";
const char kWelcomeUrlKey[] = "url_welcome";
const char kWelcomeUrlPref[] = "welcome-url";

}  // namespace

MainPackageDownloaderImpl::MainPackageDownloaderImpl() = default;

MainPackageDownloaderImpl::~MainPackageDownloaderImpl() = default;

bool MainPackageDownloaderImpl::WritePayloadPackage(
    PayloadManager* payload_manager, const base::FilePath& folder) {
  if (payload_manager->GetPayloadType() != PAYLOAD_FULL_PACKAGE)
    return false;
  if (payload_manager->WritePayloadToFile(folder.Append(kPackageFileName)))
    return true;
  // The fetch goes on with a download, which replaces what was written.
  LOG(ERROR) << "Cannot write the installer's own package";
  return SetLastInstallerError(RESULT_PACKAGE_FETCH_FAILED,
                               "Cannot write the installer's own package",
                               folder.Append(kPackageFileName).value());
}

bool MainPackageDownloaderImpl::Download(const std::wstring& package_url,
                                         const base::FilePath& folder,
                                         WininetDownloader* downloader,
                                         DownloadCallback callback) {
  LOG(INFO) << "Preparing to fetch the installer";
  auto writer = std::make_unique<WininetResponseWriter>();
  if (!writer->Open(folder.Append(kPackageFileName))) {
    return SetLastInstallerError(
        RESULT_PACKAGE_FETCH_FAILED,
        "Failed initializing the file to use as download destination");
  }
  // The metadata reply may send the package from any host.
  downloader->SetAllowedDomains(std::vector<std::wstring>());
  // The downloader is shared with the metadata request, which waits less.
  downloader->SetMaxRetries(WininetImpl::kDefaultMaxRetries);
  download_callback_ = std::move(callback);
  if (!downloader->Start(
          package_url, std::string(),
          base::BindRepeating(&MainPackageDownloaderImpl::OnDownloadComplete,
                              weak_factory_.GetWeakPtr(), downloader),
          std::move(writer), std::make_unique<DownloadStatsCollector>())) {
    download_callback_.Reset();
    LOG(ERROR) << base::TrimWhitespaceASCII(downloader->GetErrorText(),
                                            base::TRIM_TRAILING);
    return SetLastInstallerError(
        RESULT_PACKAGE_FETCH_FAILED,
        "Failed starting downloading the Kavor package");
  }
  return true;
}

void MainPackageDownloaderImpl::OnDownloadComplete(
    WininetDownloader* downloader) {
  // Once per Start at most: the downloader drops what is left of a
  // download when it ends, and Cancel drops this closure.
  DCHECK(download_callback_);
  const int32_t state = downloader->GetState();
  const bool success = state == WininetDownloader::STATE_COMPLETED;
  if (!success) {
    const std::string state_line = base::StringPrintf(
        "Main package download failed with wininet state: *%d*", state);
    // The downloader ends each of its lines with a line feed.
    const std::string error =
        base::TrimWhitespaceASCII(downloader->GetErrorText(),
                                  base::TRIM_TRAILING)
            .as_string();
    if (error.empty()) {
      SetLastInstallerError(RESULT_PACKAGE_FETCH_FAILED, state_line);
    } else {
      SetLastInstallerError(RESULT_PACKAGE_FETCH_FAILED, error);
      AddLastInstallerErrorContext(state_line);
    }
  }
  std::move(download_callback_).Run(success, downloader->GetChunkStatistics());
}

bool MainPackageDownloaderImpl::CheckChecksum(
    const base::FilePath& folder, const std::string& expected_checksum) {
  const base::FilePath package = folder.Append(kPackageFileName);
  // The checks below and the backend's unpacking read the package by its
  // path in a folder the user can write to: from here on it is held.
  held_package_.Set(
      ::CreateFileW(package.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held_package_.IsValid()) {
    const DWORD error = ::GetLastError();
    LOG(ERROR) << "Cannot hold " << package.value()
               << " against changes: error " << error;
    return SetLastInstallerError(
        RESULT_PACKAGE_FETCH_FAILED,
        base::StringPrintf("Cannot open the downloaded package: error %lu",
                           error),
        package.value());
  }
  std::string actual;
  int64_t length = 0;
  if (CheckFileChecksum(package, expected_checksum, nullptr, &actual,
                        &length)) {
    return true;
  }
  held_package_.Close();
  return SetLastInstallerError(
      RESULT_PACKAGE_FETCH_FAILED,
      base::StringPrintf("Checksum incorrect for the downloaded package, "
                         "actual %s, expected %s, file length %u",
                         actual.c_str(), expected_checksum.c_str(),
                         static_cast<uint32_t>(length)));
}

bool MainPackageDownloaderImpl::CheckSignature(const base::FilePath& folder) {
  // A development build accepts unsigned packages.
  if (IsProgramSignatureAccepted(folder.Append(kPackageFileName),
                                 "downloaded package")) {
    return true;
  }
  held_package_.Close();
  return SetLastInstallerError(
      RESULT_PACKAGE_FETCH_FAILED,
      "Signature incorrect for the downloaded package");
}

void MainPackageDownloaderImpl::WriteServerTrackingData(
    const base::FilePath& folder, const std::string& tracking_data) {
  if (tracking_data.empty())
    return;
  const base::FilePath path = folder.Append(kServerTrackingDataFileName);
  if (base::WriteFile(path, tracking_data.data(),
                      static_cast<int>(tracking_data.size())) !=
      static_cast<int>(tracking_data.size())) {
    PLOG(ERROR) << "Cannot write " << path.value();
    // Cut-off tracking data would be read as whole.
    base::DeleteFile(path, false);
  }
}

void MainPackageDownloaderImpl::WriteWelcomeUrl(const PackageMetadata& metadata,
                                                const base::FilePath& folder) {
  const base::Value* url = nullptr;
  if (!metadata.reply ||
      !metadata.reply->GetWithoutPathExpansion(kWelcomeUrlKey, &url) ||
      !url->is_string()) {
    return;
  }
  VLOG(1) << "Writing welcome page url pref";
  const base::FilePath path = folder.Append(kPrefsIncludeFileName);
  base::scoped_refptr<JsonPrefStore> store =
      CreateJsonPrefStore(GetPrefsTaskPool(), path);
  store->SetValue(kWelcomeUrlPref, url->CreateDeepCopy(),
                  WritablePrefStore::DEFAULT_PREF_WRITE_FLAGS);
  ReleasePrefStoreAndWait(&store, path);
  if (!base::PathExists(path))
    LOG(ERROR) << "The welcome page url was not written to " << path.value();
}

bool MainPackageDownloaderImpl::WriteReadyMarker(const base::FilePath& folder) {
  if (base::WriteFile(folder.Append(kReadyMarkerFileName), "", 0) == 0)
    return true;
  PLOG(ERROR) << "Cannot write " << folder.Append(kReadyMarkerFileName).value();
  return SetLastInstallerError(RESULT_PACKAGE_FETCH_FAILED,
                               "Cannot write the package ready marker.");
}

bool MainPackageDownloaderImpl::CopyInstallerExecutable(
    const base::FilePath& folder) {
  base::FilePath exe;
  base::FilePath module;
  if (!base::PathService::Get(base::FILE_EXE, &exe) ||
      !base::PathService::Get(base::FILE_MODULE, &module)) {
    return SetLastInstallerError(
        RESULT_PACKAGE_FETCH_FAILED,
        "Unable to copy installer.exe to download dir");
  }
  if (!base::CopyFile(exe, folder.Append(kInstallerCopyName))) {
    PLOG(ERROR) << "Cannot copy " << exe.value();
    return SetLastInstallerError(RESULT_PACKAGE_FETCH_FAILED,
                                 "Unable to copy installer.exe to download dir",
                                 exe.value());
  }
  // The host imports its library, which Windows finds beside the
  // executable first. A library loaded from elsewhere was found some other
  // way, which the copy has as well.
  const bool library_beside_host =
      base::FilePath::CompareIgnoreCase(module.value(), exe.value()) != 0 &&
      base::FilePath::CompareIgnoreCase(module.DirName().value(),
                                        exe.DirName().value()) == 0;
  if (library_beside_host &&
      !base::CopyFile(module, folder.Append(kInstallerLibraryName))) {
    PLOG(ERROR) << "Cannot copy " << module.value();
    return SetLastInstallerError(RESULT_PACKAGE_FETCH_FAILED,
                                 "Unable to copy installer.exe to download dir",
                                 module.value());
  }
  return true;
}

void MainPackageDownloaderImpl::Cancel() {
  weak_factory_.InvalidateWeakPtrs();
  download_callback_.Reset();
  // The folder preparer deletes the folder next.
  held_package_.Close();
}

}  // namespace installer
