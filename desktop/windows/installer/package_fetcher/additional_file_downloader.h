#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ADDITIONAL_FILE_DOWNLOADER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ADDITIONAL_FILE_DOWNLOADER_H_

#include <memory>
#include <vector>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "desktop/windows/installer/avro_stats/fetch_chunk_statistics.h"
#include "desktop/windows/installer/package_fetcher/package_metadata.h"

namespace installer {

class PackageVersionChecker;
class WininetDownloader;

// Fetches one component at a time into the package folder and places it.
// A component that cannot be had never fails the package fetch.
class AdditionalFileDownloader {
 public:
  // The entry back when it was fetched and checked, else null; with the
  // statistics of the download.
  using FileCallback = base::OnceCallback<void(
      std::unique_ptr<AdditionalFile>, std::vector<FetchChunkStatistics>)>;

  virtual ~AdditionalFileDownloader() = default;

  // False when the entry is skipped; |callback| then never runs.
  virtual bool DownloadAdditionalFile(const base::FilePath& folder,
                                      WininetDownloader* downloader,
                                      std::unique_ptr<AdditionalFile> entry,
                                      bool minimal,
                                      bool additional_files_only,
                                      FileCallback callback) = 0;
  virtual void ClearFilesList() = 0;
  // False (error record set, code 1) when the fetched file could not be put
  // in place.
  virtual bool PlaceDownloadedFile(PackageVersionChecker* version_checker,
                                   AdditionalFile* entry,
                                   const base::FilePath& package_folder,
                                   const base::FilePath& assistant_folder) = 0;
  // Appends the names of the files placed since the last such call to
  // "files_list".
  virtual void WriteFilesList(const base::FilePath& folder) = 0;
  virtual void Cancel() = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ADDITIONAL_FILE_DOWNLOADER_H_
