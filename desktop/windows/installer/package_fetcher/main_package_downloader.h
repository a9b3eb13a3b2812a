#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_MAIN_PACKAGE_DOWNLOADER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_MAIN_PACKAGE_DOWNLOADER_H_

#include <string>
#include <vector>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "desktop/windows/installer/avro_stats/fetch_chunk_statistics.h"

namespace installer {

class PayloadManager;
class WininetDownloader;
struct PackageMetadata;

// Fetches the package into the package folder as "kavor_package", checks
// it and writes the files that go beside it. Every failure sets the
// thread's error record.
class MainPackageDownloader {
 public:
  using DownloadCallback =
      base::OnceCallback<void(bool success, std::vector<FetchChunkStatistics>)>;

  virtual ~MainPackageDownloader() = default;

  // True when the installer carries a full package, now written to the
  // folder.
  virtual bool WritePayloadPackage(PayloadManager* payload_manager,
                                   const base::FilePath& folder) = 0;
  // False when the download could not start; |callback| then never runs.
  virtual bool Download(const std::wstring& package_url,
                        const base::FilePath& folder,
                        WininetDownloader* downloader,
                        DownloadCallback callback) = 0;
  virtual bool CheckChecksum(const base::FilePath& folder,
                             const std::string& expected_checksum) = 0;
  virtual bool CheckSignature(const base::FilePath& folder) = 0;
  virtual void WriteServerTrackingData(const base::FilePath& folder,
                                       const std::string& tracking_data) = 0;
  virtual void WriteWelcomeUrl(const PackageMetadata& metadata,
                               const base::FilePath& folder) = 0;
  virtual bool WriteReadyMarker(const base::FilePath& folder) = 0;
  virtual bool CopyInstallerExecutable(const base::FilePath& folder) = 0;
  // Drops a pending download reply.
  virtual void Cancel() = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_MAIN_PACKAGE_DOWNLOADER_H_
