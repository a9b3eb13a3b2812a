#include "desktop/windows/installer/package_fetcher/package_fetch_sequencer_impl.h"

#include <limits>
#include <utility>

#include "base/bind.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/avro_stats/avro_events.h"
#include "desktop/windows/installer/avro_stats/avro_stats_sender.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/wininet/wininet_impl.h"

namespace installer {

namespace {

const uint32_t kHttpNoContent = 204;

std::unique_ptr<WininetDownloader> MakeWininetImpl(
    UICallbackRunner* ui_runner, DownloadProgressObserver* progress) {
  return std::make_unique<WininetImpl>(ui_runner, progress);
}

std::string LastErrorMessage() {
  std::string message;
  GetLastInstallerError(nullptr, &message, nullptr);
  return message;
}

// Counts up to the largest value instead of wrapping: a run that received
// more than 2 GiB in total must not look as if it had received little.
int32_t SaturatingAdd(int32_t total, uint32_t more) {
  const int64_t sum = static_cast<int64_t>(total) + more;
  return sum > std::numeric_limits<int32_t>::max()
             ? std::numeric_limits<int32_t>::max()
             : static_cast<int32_t>(sum);
}

}  // namespace

const int PackageFetchSequencerImpl::kMaxFailures;
const int PackageFetchSequencerImpl::kMaxFailuresWithLittleReceived;
const int32_t PackageFetchSequencerImpl::kLittleReceivedBytes;
const int PackageFetchSequencerImpl::kMaxNoContentFailures;

PackageFetchSequencerImpl::PackageFetchSequencerImpl(
    std::unique_ptr<AdditionalFileDownloader> additional_file_downloader,
    std::unique_ptr<FolderPreparer> folder_preparer,
    std::unique_ptr<MainPackageDownloader> main_package_downloader,
    std::unique_ptr<PackageMetadataRetriever> metadata_retriever,
    std::unique_ptr<PackageVersionChecker> version_checker,
    bool with_assistant,
    const std::string& server_tracking_data,
    PayloadManager* payload_manager,
    base::scoped_refptr<PackageFetcherDelegateProxy> proxy)
    : additional_file_downloader_(std::move(additional_file_downloader)),
      folder_preparer_(std::move(folder_preparer)),
      main_package_downloader_(std::move(main_package_downloader)),
      metadata_retriever_(std::move(metadata_retriever)),
      version_checker_(std::move(version_checker)),
      payload_manager_(payload_manager),
      with_assistant_(with_assistant),
      server_tracking_data_(server_tracking_data),
      downloader_factory_(base::BindRepeating(&MakeWininetImpl)),
      proxy_(std::move(proxy)) {}

PackageFetchSequencerImpl::~PackageFetchSequencerImpl() {
  LOG(INFO) << "Terminating the package fetcher";
  additional_file_downloader_->Cancel();
  main_package_downloader_->Cancel();
  metadata_retriever_->Cancel();
  if (downloader_ && downloader_->GetState() != WininetDownloader::STATE_FAILED)
    downloader_->Stop();
  // The preparer deletes every folder it made: an abandoned fetch leaves no
  // package in the user's temporary folder.
  folder_preparer_.reset();
  weak_factory_.InvalidateWeakPtrs();
  downloader_.reset();
  error_record_.reset();
}

void PackageFetchSequencerImpl::SetDownloaderFactoryForTesting(
    DownloaderFactory factory) {
  downloader_factory_ = std::move(factory);
}

void PackageFetchSequencerImpl::Initialize() {
  downloader_ = downloader_factory_.Run(proxy_.get(), proxy_.get());
  error_record_ = std::make_unique<ScopedInstallerErrorRecord>();
}

void PackageFetchSequencerImpl::ReportStatus(Status status) {
  proxy_->NotifyPackageFetcherStatusChanged(status);
}

void PackageFetchSequencerImpl::SendEvent(
    std::unique_ptr<AvroStatsMessage> event) {
  GetAvroStatsSender()->Send(std::move(event));
}

void PackageFetchSequencerImpl::Start() {
  LOG(INFO) << "Starting the package fetcher";
  ReportStatus(PackageFetcherDelegate::STATUS_STARTED);
  const base::FilePath folder = folder_preparer_->Prepare();
  if (folder.empty()) {
    // Without a folder every later step would write beside the download
    // root; the preparer has said why in the error record.
    Fail(PackageFetcherDelegate::FAILURE_LOCAL);
    return;
  }
  if (main_package_downloader_->WritePayloadPackage(payload_manager_, folder)) {
    if (!MarkReady(nullptr, folder)) {
      Fail(PackageFetcherDelegate::FAILURE_LOCAL);
      return;
    }
    PackageReady(folder);
    return;
  }
  if (!metadata_retriever_->Start(
          downloader_.get(), requested_additional_files_, server_tracking_data_,
          with_assistant_, additional_files_only_,
          base::BindOnce(&PackageFetchSequencerImpl::OnMetadata,
                         weak_factory_.GetWeakPtr(), folder))) {
    Fail(PackageFetcherDelegate::FAILURE_NETWORK);
    return;
  }
  SendEvent(std::make_unique<FetchingDownloadUrlEvent>(kDefaultStatsLevel));
  ReportStatus(PackageFetcherDelegate::STATUS_METADATA_REQUESTED);
}

void PackageFetchSequencerImpl::OnMetadata(
    const base::FilePath& folder,
    std::unique_ptr<PackageMetadata> metadata,
    std::vector<FetchChunkStatistics> statistics) {
  if (!metadata) {
    NetworkFailure(statistics);
    return;
  }
  if (additional_files_only_) {
    FetchComponents(metadata.get(), folder);
    return;
  }
  const std::wstring package_url = metadata->package_url;
  if (!main_package_downloader_->Download(
          package_url, folder, downloader_.get(),
          base::BindOnce(&PackageFetchSequencerImpl::OnMainPackageDownloaded,
                         weak_factory_.GetWeakPtr(), std::move(metadata),
                         folder))) {
    Fail(PackageFetcherDelegate::FAILURE_NETWORK);
    return;
  }
  ReportStatus(PackageFetcherDelegate::STATUS_DOWNLOADING);
  SendEvent(std::make_unique<FetchingPrimaryPackageEvent>(
      statistics, base::WideToASCII(package_url), kDefaultStatsLevel));
}

void PackageFetchSequencerImpl::OnMainPackageDownloaded(
    std::unique_ptr<PackageMetadata> metadata,
    const base::FilePath& folder,
    bool success,
    std::vector<FetchChunkStatistics> statistics) {
  if (!success) {
    NetworkFailure(statistics);
    return;
  }
  SendEvent(std::make_unique<PrimaryPackageFetchedEvent>(statistics,
                                                         kDefaultStatsLevel));
  if (!main_package_downloader_->CheckChecksum(folder,
                                               metadata->package_checksum)) {
    Fail(PackageFetcherDelegate::FAILURE_NETWORK);
    return;
  }
  SendEvent(std::make_unique<ChecksumVerifiedEvent>(kDefaultStatsLevel));
  if (!main_package_downloader_->CheckSignature(folder)) {
    Fail(PackageFetcherDelegate::FAILURE_NETWORK);
    return;
  }
  SendEvent(std::make_unique<SignatureVerifiedEvent>(kDefaultStatsLevel));
  std::string version;
  std::string stream;
  if (!version_checker_->CheckMainPackage(folder, &version, &stream)) {
    Fail(PackageFetcherDelegate::FAILURE_NETWORK);
    return;
  }
  SendEvent(std::make_unique<VersionVerifiedEvent>(version, stream,
                                                   kDefaultStatsLevel));
  if (!MarkReady(metadata.get(), folder)) {
    Fail(PackageFetcherDelegate::FAILURE_NETWORK);
    return;
  }
  FetchComponents(metadata.get(), folder);
}

bool PackageFetchSequencerImpl::MarkReady(const PackageMetadata* metadata,
                                          const base::FilePath& folder) {
  main_package_downloader_->WriteServerTrackingData(folder,
                                                    server_tracking_data_);
  // The marker says the folder is complete, so it comes last; a folder
  // left without it is discarded.
  if (metadata)
    main_package_downloader_->WriteWelcomeUrl(*metadata, folder);
  return WriteReadyMarker(folder);
}

bool PackageFetchSequencerImpl::WriteReadyMarker(const base::FilePath& folder) {
  if (main_package_downloader_->WriteReadyMarker(folder))
    return true;
  return AddLastInstallerErrorContext("Cannot mark package as ready");
}

void PackageFetchSequencerImpl::FetchComponents(PackageMetadata* metadata,
                                                const base::FilePath& folder) {
  for (auto& component : metadata->components) {
    if (component)
      pending_additional_files_.push_back(std::move(component));
  }
  metadata->components.clear();
  if (!pending_additional_files_.empty())
    ReportStatus(PackageFetcherDelegate::STATUS_ADDITIONAL_FILES);
  FetchAdditionalFiles(folder, metadata->minimal);
}

void PackageFetchSequencerImpl::FetchAdditionalFiles(
    const base::FilePath& folder, bool minimal) {
  while (!pending_additional_files_.empty()) {
    // The entry goes to the downloader, which hands it back with its reply.
    std::unique_ptr<AdditionalFile> entry =
        std::move(pending_additional_files_.front());
    pending_additional_files_.erase(pending_additional_files_.begin());
    const std::string location = base::WideToASCII(entry->location);
    // Only a resource is what a repair came for.
    const std::string resource =
        entry->kind == ADDITIONAL_FILE_DOWNLOADABLE_RESOURCE
            ? base::WideToUTF8(entry->file_name)
            : std::string();
    if (additional_file_downloader_->DownloadAdditionalFile(
            folder, downloader_.get(), std::move(entry), minimal,
            additional_files_only_,
            base::BindOnce(&PackageFetchSequencerImpl::OnAdditionalFile,
                           weak_factory_.GetWeakPtr(), folder, minimal,
                           resource))) {
      SendEvent(std::make_unique<FetchingAdditionalFileEvent>(
          location, kDefaultStatsLevel));
      return;
    }
  }
  additional_file_downloader_->WriteFilesList(folder);
  PackageReady(folder);
}

void PackageFetchSequencerImpl::OnAdditionalFile(
    const base::FilePath& folder,
    bool minimal,
    const std::string& resource,
    std::unique_ptr<AdditionalFile> entry,
    std::vector<FetchChunkStatistics> statistics) {
  // A component that cannot be fetched or placed is left out: a package is
  // complete without it. The resources are all a repair fetches, though:
  // one left out would end the repair as a success with the installation
  // still lacking it, so the fetch fails and may be tried again.
  const bool repair_needs_it = additional_files_only_ && !resource.empty();
  if (!entry) {
    if (repair_needs_it) {
      SetLastInstallerError(RESULT_PACKAGE_FETCH_FAILED,
                            "Could not download the resource " + resource);
      NetworkFailure(statistics);
      return;
    }
  } else {
    SendEvent(std::make_unique<AdditionalFileFetchedEvent>(statistics,
                                                           kDefaultStatsLevel));
    if (!additional_file_downloader_->PlaceDownloadedFile(
            version_checker_.get(), entry.get(), folder,
            folder_preparer_->GetAssistantFolder()) &&
        repair_needs_it) {
      AddLastInstallerErrorContext("Could not put the resource " + resource +
                                   " in place");
      Fail(PackageFetcherDelegate::FAILURE_LOCAL);
      return;
    }
  }
  FetchAdditionalFiles(folder, minimal);
}

void PackageFetchSequencerImpl::PackageReady(const base::FilePath& folder) {
  {
    base::AutoLock hold(lock_);
    AddReceivedBytesLocked();
  }
  LOG(INFO) << "Package ready.";
  SendEvent(std::make_unique<PackageReadyEvent>(kDefaultStatsLevel));
  if (additional_files_only_) {
    if (!main_package_downloader_->CopyInstallerExecutable(folder)) {
      Fail(PackageFetcherDelegate::FAILURE_LOCAL);
      return;
    }
    // A backend that knows only the folders' common name finds the package
    // by this marker.
    if (!WriteReadyMarker(folder)) {
      Fail(PackageFetcherDelegate::FAILURE_LOCAL);
      return;
    }
  }
  ReportStatus(PackageFetcherDelegate::STATUS_READY);
  proxy_->NotifyPackageReady(folder);
}

void PackageFetchSequencerImpl::Fail(FailureKind kind) {
  const std::string message = LastErrorMessage();
  LOG(ERROR) << message;
  SendEvent(std::make_unique<PackageFetcherLocalErrorEvent>(
      message, kDefaultStatsLevel));
  RecordFailure(kind, message, std::vector<FetchChunkStatistics>());
}

void PackageFetchSequencerImpl::NetworkFailure(
    const std::vector<FetchChunkStatistics>& statistics) {
  const std::string message = LastErrorMessage();
  LOG(ERROR) << message;
  SendEvent(std::make_unique<PackageFetcherNetworkErrorEvent>(
      statistics, message, kDefaultStatsLevel));
  RecordFailure(PackageFetcherDelegate::FAILURE_NETWORK, message, statistics);
}

void PackageFetchSequencerImpl::RecordFailure(
    FailureKind kind,
    const std::string& message,
    const std::vector<FetchChunkStatistics>& statistics) {
  {
    base::AutoLock hold(lock_);
    ++failed_fetches_;
    AddReceivedBytesLocked();
    if (downloader_ && downloader_->GetHttpStatus() == kHttpNoContent)
      ++no_content_failures_;
  }
  proxy_->NotifyPackageFetcherError(kind, message, statistics);
}

void PackageFetchSequencerImpl::AddReceivedBytesLocked() {
  if (downloader_)
    bytes_received_ =
        SaturatingAdd(bytes_received_, downloader_->GetDownloadedSize());
}

void PackageFetchSequencerImpl::Restart() {
  weak_factory_.InvalidateWeakPtrs();
  additional_file_downloader_->Cancel();
  main_package_downloader_->Cancel();
  metadata_retriever_->Cancel();
  if (downloader_)
    downloader_->Stop();
  pending_additional_files_.clear();
  Start();
}

void PackageFetchSequencerImpl::RestartWithMinimalPackageFiles(
    const std::vector<std::string>& names) {
  requested_additional_files_ = names;
  Restart();
}

void PackageFetchSequencerImpl::SetMinimalPackageFiles(
    const std::vector<std::string>& names) {
  requested_additional_files_ = names;
}

bool PackageFetchSequencerImpl::CanRetry() {
  base::AutoLock hold(lock_);
  int limit = kMaxFailures;
  if (bytes_received_ < kLittleReceivedBytes) {
    limit = no_content_failures_ < kMaxNoContentFailures
                ? kMaxFailuresWithLittleReceived
                : kMaxFailures;
  }
  return failed_fetches_ < limit;
}

void PackageFetchSequencerImpl::EnableAdditionalFiles() {
  additional_files_only_ = true;
}

}  // namespace installer
