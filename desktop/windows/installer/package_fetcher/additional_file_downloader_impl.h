#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ADDITIONAL_FILE_DOWNLOADER_IMPL_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ADDITIONAL_FILE_DOWNLOADER_IMPL_H_

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/memory/weak_ptr.h"
#include "desktop/windows/installer/package_fetcher/additional_file_downloader.h"

namespace installer {

// Fetches each component into a numbered temporary file in the package
// folder ("additional_file0.tmp", ...), checks its checksum and tries a
// failed one up to three times in all; then places it: a plain file is
// moved in, a self-extracting archive is checked, run and version-checked.
// Lives on the fetcher thread.
class AdditionalFileDownloaderImpl : public AdditionalFileDownloader {
 public:
  AdditionalFileDownloaderImpl();
  ~AdditionalFileDownloaderImpl() override;

  // AdditionalFileDownloader:
  bool DownloadAdditionalFile(const base::FilePath& folder,
                              WininetDownloader* downloader,
                              std::unique_ptr<AdditionalFile> entry,
                              bool minimal,
                              bool additional_files_only,
                              FileCallback callback) override;
  void ClearFilesList() override;
  bool PlaceDownloadedFile(PackageVersionChecker* version_checker,
                           AdditionalFile* entry,
                           const base::FilePath& package_folder,
                           const base::FilePath& assistant_folder) override;
  void WriteFilesList(const base::FilePath& folder) override;
  void Cancel() override;

 private:
  // Gives the current entry the next temporary file name.
  void TakeTemporaryFile();
  // Fetches (or, for a local entry, copies) the current entry into its
  // temporary file; the completion is posted. False when nothing could be
  // started and nothing was posted.
  bool Fetch(WininetDownloader* downloader);
  bool AttemptDownload(WininetDownloader* downloader);
  bool CopyLocalFile();
  // |downloader| is null after a local copy.
  void OnFileDownloaded(WininetDownloader* downloader);
  // Hands the current entry (or, without |succeeded|, null) to the caller
  // in a posted task that Cancel drops.
  void Finish(bool succeeded, WininetDownloader* downloader);
  void RunCallback(FileCallback callback,
                   std::unique_ptr<AdditionalFile> entry,
                   std::vector<FetchChunkStatistics> statistics);
  bool Place(PackageVersionChecker* version_checker,
             const AdditionalFile& entry,
             const base::FilePath& target_folder);
  bool PlaceArchive(PackageVersionChecker* version_checker,
                    const AdditionalFile& entry,
                    const base::FilePath& target_folder,
                    const base::FilePath& archive_name);
  // Runs the archive in |staging| and checks the component it unpacked.
  bool UnpackArchive(PackageVersionChecker* version_checker,
                     const AdditionalFile& entry,
                     const base::FilePath& staging,
                     const base::FilePath& archive_name);

  uint32_t temporary_file_counter_ = 0;
  base::FilePath download_folder_;
  FileCallback callback_;
  std::unique_ptr<AdditionalFile> entry_;
  // UTF-8 names, as written, of the downloadable resources and partner
  // content placed since "files_list" was last written.
  std::vector<std::string> placed_files_;
  base::WeakPtrFactory<AdditionalFileDownloaderImpl> weak_factory_{this};

  DISALLOW_COPY_AND_ASSIGN(AdditionalFileDownloaderImpl);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ADDITIONAL_FILE_DOWNLOADER_IMPL_H_
