#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCH_SEQUENCER_IMPL_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCH_SEQUENCER_IMPL_H_

#include <stdint.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/memory/scoped_refptr.h"
#include "base/memory/weak_ptr.h"
#include "base/synchronization/lock.h"
#include "desktop/windows/installer/avro_stats/fetch_chunk_statistics.h"
#include "desktop/windows/installer/package_fetcher/additional_file_downloader.h"
#include "desktop/windows/installer/package_fetcher/folder_preparer.h"
#include "desktop/windows/installer/package_fetcher/main_package_downloader.h"
#include "desktop/windows/installer/package_fetcher/package_fetch_sequencer.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"
#include "desktop/windows/installer/package_fetcher/package_metadata.h"
#include "desktop/windows/installer/package_fetcher/package_metadata_retriever.h"
#include "desktop/windows/installer/package_fetcher/package_version_checker.h"

namespace installer {

class AvroStatsMessage;
class PayloadManager;
class ScopedInstallerErrorRecord;
class WininetDownloader;

// Prepares a fresh package folder, takes the package from the installer's
// payload or asks the update service for it, downloads and checks it,
// fetches the additional files and marks the folder ready. Lives on the
// fetcher thread; only CanRetry and EnableAdditionalFiles come from others.
class PackageFetchSequencerImpl : public PackageFetchSequencer {
 public:
  // Makes the downloader the sequence uses, given the proxy's interfaces.
  using DownloaderFactory =
      base::RepeatingCallback<std::unique_ptr<WininetDownloader>(
          UICallbackRunner*, DownloadProgressObserver*)>;

  // Failures allowed in a row, and the received total under which more are
  // allowed unless the service keeps answering "no content".
  static const int kMaxFailures = 3;
  static const int kMaxFailuresWithLittleReceived = 6;
  static const int32_t kLittleReceivedBytes = 4194304;
  static const int kMaxNoContentFailures = 3;

  PackageFetchSequencerImpl(
      std::unique_ptr<AdditionalFileDownloader> additional_file_downloader,
      std::unique_ptr<FolderPreparer> folder_preparer,
      std::unique_ptr<MainPackageDownloader> main_package_downloader,
      std::unique_ptr<PackageMetadataRetriever> metadata_retriever,
      std::unique_ptr<PackageVersionChecker> version_checker,
      bool with_assistant,
      const std::string& server_tracking_data,
      PayloadManager* payload_manager,
      base::scoped_refptr<PackageFetcherDelegateProxy> proxy);
  ~PackageFetchSequencerImpl() override;

  // Replaces the WininetImpl that Initialize makes.
  void SetDownloaderFactoryForTesting(DownloaderFactory factory);

  // PackageFetchSequencer:
  void Initialize() override;
  void Start() override;
  void Restart() override;
  void RestartWithMinimalPackageFiles(
      const std::vector<std::string>& names) override;
  void SetMinimalPackageFiles(const std::vector<std::string>& names) override;
  bool CanRetry() override;
  void EnableAdditionalFiles() override;

 private:
  using Status = PackageFetcherDelegate::Status;
  using FailureKind = PackageFetcherDelegate::FailureKind;

  void ReportStatus(Status status);
  void OnMetadata(const base::FilePath& folder,
                  std::unique_ptr<PackageMetadata> metadata,
                  std::vector<FetchChunkStatistics> statistics);
  void OnMainPackageDownloaded(std::unique_ptr<PackageMetadata> metadata,
                               const base::FilePath& folder,
                               bool success,
                               std::vector<FetchChunkStatistics> statistics);
  // Both false, with the error record extended, when the "ready" marker is
  // not written.
  bool MarkReady(const PackageMetadata* metadata, const base::FilePath& folder);
  bool WriteReadyMarker(const base::FilePath& folder);
  // Moves the components of |metadata| to the pending list and fetches
  // them.
  void FetchComponents(PackageMetadata* metadata, const base::FilePath& folder);
  void FetchAdditionalFiles(const base::FilePath& folder, bool minimal);
  // |resource| names the file when it is a downloadable resource.
  void OnAdditionalFile(const base::FilePath& folder,
                        bool minimal,
                        const std::string& resource,
                        std::unique_ptr<AdditionalFile> entry,
                        std::vector<FetchChunkStatistics> statistics);
  void PackageReady(const base::FilePath& folder);
  void Fail(FailureKind kind);
  void NetworkFailure(const std::vector<FetchChunkStatistics>& statistics);
  void RecordFailure(FailureKind kind,
                     const std::string& message,
                     const std::vector<FetchChunkStatistics>& statistics);
  void AddReceivedBytesLocked();
  void SendEvent(std::unique_ptr<AvroStatsMessage> event);

  std::unique_ptr<AdditionalFileDownloader> additional_file_downloader_;
  std::unique_ptr<FolderPreparer> folder_preparer_;
  std::unique_ptr<MainPackageDownloader> main_package_downloader_;
  std::unique_ptr<PackageMetadataRetriever> metadata_retriever_;
  std::unique_ptr<PackageVersionChecker> version_checker_;

  // Guards the counters CanRetry reads from the UI thread.
  base::Lock lock_;
  int32_t failed_fetches_ = 0;
  int32_t no_content_failures_ = 0;
  int32_t bytes_received_ = 0;

  PayloadManager* const payload_manager_;
  std::unique_ptr<ScopedInstallerErrorRecord> error_record_;
  std::vector<std::string> requested_additional_files_;
  // Read on the fetcher thread, set from the UI thread before a restart.
  std::atomic<bool> additional_files_only_{false};
  const bool with_assistant_;
  const std::string server_tracking_data_;
  std::vector<std::unique_ptr<AdditionalFile>> pending_additional_files_;
  DownloaderFactory downloader_factory_;
  std::unique_ptr<WininetDownloader> downloader_;
  base::scoped_refptr<PackageFetcherDelegateProxy> proxy_;

  // Every continuation goes through it, so that Restart and destruction
  // drop the replies still on their way.
  base::WeakPtrFactory<PackageFetchSequencerImpl> weak_factory_{this};

  DISALLOW_COPY_AND_ASSIGN(PackageFetchSequencerImpl);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCH_SEQUENCER_IMPL_H_
