#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_MAIN_PACKAGE_DOWNLOADER_IMPL_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_MAIN_PACKAGE_DOWNLOADER_IMPL_H_

#include <string>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/memory/weak_ptr.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/package_fetcher/main_package_downloader.h"

namespace installer {

// Lives on the thread that runs the fetch ("Fetcher thread").
class MainPackageDownloaderImpl : public MainPackageDownloader {
 public:
  MainPackageDownloaderImpl();
  ~MainPackageDownloaderImpl() override;

  bool WritePayloadPackage(PayloadManager* payload_manager,
                           const base::FilePath& folder) override;
  bool Download(const std::wstring& package_url,
                const base::FilePath& folder,
                WininetDownloader* downloader,
                DownloadCallback callback) override;
  bool CheckChecksum(const base::FilePath& folder,
                     const std::string& expected_checksum) override;
  bool CheckSignature(const base::FilePath& folder) override;
  void WriteServerTrackingData(const base::FilePath& folder,
                               const std::string& tracking_data) override;
  // Returns once the preferences file is on disk: the package is reported
  // ready right after, and the backend may read the file at once.
  void WriteWelcomeUrl(const PackageMetadata& metadata,
                       const base::FilePath& folder) override;
  bool WriteReadyMarker(const base::FilePath& folder) override;
  // When the running executable is a host that loads this code's library
  // from beside itself, the library is copied beside the copy as well:
  // without it the copy could not start.
  bool CopyInstallerExecutable(const base::FilePath& folder) override;
  void Cancel() override;

 private:
  void OnDownloadComplete(WininetDownloader* downloader);

  // The callback of the download under way.
  DownloadCallback download_callback_;
  // The package being checked, held from its first check until Cancel (the
  // end of the fetch) so that nobody can write, replace or delete it before
  // the backend has opened it: both read it only.
  base::win::ScopedHandle held_package_;
  base::WeakPtrFactory<MainPackageDownloaderImpl> weak_factory_{this};

  DISALLOW_COPY_AND_ASSIGN(MainPackageDownloaderImpl);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_MAIN_PACKAGE_DOWNLOADER_IMPL_H_
