// The fetcher and its sequence, over fakes of the parts that reach the
// network or check files.
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/test_task_runner.h"
#include "base/threading/thread_task_runner_handle.h"
#include "desktop/windows/installer/avro_stats/avro_stats_sender.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/installer_controller.h"
#include "desktop/windows/installer/package_fetcher/package_fetch_sequencer_impl.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using Calls = std::vector<std::string>;
using Errors = std::vector<std::pair<int, std::string>>;

// What the fakes are told and answer; shared, as the sequencer owns them.
struct World {
  Calls calls, events, progress;
  std::vector<int> statuses;
  std::vector<base::FilePath> ready;
  Errors errors;
  // Answers.
  bool payload_package = false, metadata_starts = true, checksum_ok = true,
       marker_ok = true;
  uint32_t downloaded_size = 0, http_status = 200;
  int32_t downloader_state = WininetDownloader::STATE_STOPPED;
  // What the sequencer asked for: the requested files of each start.
  Calls requests;
  bool additional_files_only = false;
  PackageMetadataRetriever::ReplyCallback metadata_reply;
  MainPackageDownloader::DownloadCallback download_reply;
  AdditionalFileDownloader::FileCallback file_reply;
  std::unique_ptr<AdditionalFile> file_in_flight;
  int stops = 0;
};

std::string Name(const AdditionalFile& file) {
  return base::WideToASCII(file.file_name);
}

bool Failed(const std::string& text) {
  return SetLastInstallerError(RESULT_PACKAGE_FETCH_FAILED, text);
}

struct FakeRetriever : PackageMetadataRetriever {
  explicit FakeRetriever(World* w) : w(w) {}
  bool Start(WininetDownloader* downloader,
             const std::vector<std::string>& requested_files,
             const std::string&,
             bool,
             bool additional_files_only,
             ReplyCallback callback) override {
    w->calls.push_back("metadata");
    std::string request;
    for (const std::string& name : requested_files)
      request += name + " ";
    w->requests.push_back(request);
    w->additional_files_only = additional_files_only;
    w->metadata_reply = std::move(callback);
    return (w->metadata_starts && downloader) || Failed("no metadata");
  }
  void Cancel() override { w->calls.push_back("cancel metadata"); }
  World* const w;
};

struct FakeMainDownloader : MainPackageDownloader {
  explicit FakeMainDownloader(World* w) : w(w) {}
  bool WritePayloadPackage(PayloadManager*, const base::FilePath&) override {
    return w->payload_package;
  }
  bool Download(const std::wstring&,
                const base::FilePath&,
                WininetDownloader*,
                DownloadCallback callback) override {
    w->calls.push_back("download");
    w->download_reply = std::move(callback);
    return true;
  }
  bool CheckChecksum(const base::FilePath&, const std::string& sum) override {
    w->calls.push_back("checksum " + sum);
    return w->checksum_ok || Failed("Checksum mismatch");
  }
  bool CheckSignature(const base::FilePath&) override {
    w->calls.push_back("signature");
    return true;
  }
  void WriteServerTrackingData(const base::FilePath&,
                               const std::string& data) override {
    w->calls.push_back("tracking " + data);
  }
  void WriteWelcomeUrl(const PackageMetadata&, const base::FilePath&) override {
    w->calls.push_back("welcome");
  }
  bool WriteReadyMarker(const base::FilePath&) override {
    w->calls.push_back("ready marker");
    return w->marker_ok || Failed("disk full");
  }
  bool CopyInstallerExecutable(const base::FilePath&) override {
    w->calls.push_back("copy installer");
    return true;
  }
  void Cancel() override { w->calls.push_back("cancel download"); }
  World* const w;
};

struct FakeVersionChecker : PackageVersionChecker {
  explicit FakeVersionChecker(World* w) : w(w) {}
  bool CheckMainPackage(const base::FilePath&,
                        std::string*,
                        std::string*) override {
    w->calls.push_back("version");
    return true;
  }
  bool CheckAdditionalFile(const base::FilePath&, const std::string&) override {
    return true;
  }
  World* const w;
};

// A component named "skip" is refused at once, one named "unplaceable"
// cannot be placed; the others wait for the test's World::file_reply.
struct FakeFileDownloader : AdditionalFileDownloader {
  explicit FakeFileDownloader(World* w) : w(w) {}
  bool DownloadAdditionalFile(const base::FilePath&,
                              WininetDownloader*,
                              std::unique_ptr<AdditionalFile> entry,
                              bool minimal,
                              bool,
                              FileCallback callback) override {
    w->calls.push_back("file " + Name(*entry) + (minimal ? " minimal" : ""));
    if (Name(*entry) == "skip")
      return false;
    w->file_in_flight = std::move(entry);
    w->file_reply = std::move(callback);
    return true;
  }
  void ClearFilesList() override {}
  bool PlaceDownloadedFile(PackageVersionChecker*,
                           AdditionalFile* entry,
                           const base::FilePath&,
                           const base::FilePath&) override {
    w->calls.push_back("place " + Name(*entry));
    return Name(*entry) != "unplaceable" || Failed("cannot place");
  }
  void WriteFilesList(const base::FilePath&) override {
    w->calls.push_back("files list");
  }
  void Cancel() override { w->calls.push_back("cancel files"); }
  World* const w;
};

struct FakeDownloader : WininetDownloader {
  explicit FakeDownloader(World* w) : w(w) {}
  bool Start(const std::wstring&,
             const std::string&,
             base::RepeatingClosure,
             std::unique_ptr<ResponseWriter>,
             std::unique_ptr<WininetDelegate>) override {
    return false;
  }
  void Stop() override { ++w->stops; }
  int32_t GetState() const override { return w->downloader_state; }
  void SetAllowedDomains(const std::vector<std::wstring>&) override {}
  void SetMaxRetries(uint32_t) override {}
  bool IsFirstAttempt() const override { return true; }
  std::string GetErrorText() const override { return std::string(); }
  std::vector<FetchChunkStatistics> GetChunkStatistics() const override {
    return {};
  }
  uint32_t GetDownloadedSize() const override { return w->downloaded_size; }
  uint32_t GetHttpStatus() const override { return w->http_status; }
  World* const w;
};

struct RecordingSender : AvroStatsSender {
  explicit RecordingSender(World* w) : w(w) {}
  void SetTrafficAllowed(bool) override {}
  void Send(std::unique_ptr<AvroStatsMessage> message) override {
    EXPECT_EQ(1u, message->GetVerbosityLevel()) << message->GetName();
    w->events.push_back(message->GetName());
  }
  void SendPendingAndShutdown(base::OnceClosure) override {}
  World* const w;
};

struct RecordingDelegate : PackageFetcherDelegate {
  explicit RecordingDelegate(World* w) : w(w) {}
  void NotifyPackageFetcherStatusChanged(Status status) override {
    w->statuses.push_back(status);
  }
  void NotifyPackageReady(const base::FilePath& folder) override {
    w->ready.push_back(folder);
  }
  void NotifyPackageFetcherError(
      FailureKind kind,
      const std::string& text,
      const std::vector<FetchChunkStatistics>&) override {
    w->errors.emplace_back(kind, text);
  }
  void SetTotalProgress(uint32_t total) override {
    w->progress.push_back("total " + base::UintToString(total));
  }
  void SetCurrentProgress(uint32_t current) override {
    w->progress.push_back(base::UintToString(current));
  }
  void NotifyStalled() override { w->progress.push_back("stalled"); }
  World* const w;
};

// Runs UI requests at once, without a window.
struct FakeController : InstallerControllerInterface {
  int Start(PayloadManager*,
            const base::FilePath&,
            base::OnceClosure) override {
    return 0;
  }
  void Terminate() override {}
  void OnTrackingDataActionsDone() override {}
  void RunUICallbackAndPostReply(
      UICallback ui_callback,
      base::scoped_refptr<base::SingleThreadTaskRunner> reply_runner,
      Reply reply) override {
    reply_runner->PostTask(
        FROM_HERE,
        base::BindOnce(std::move(reply), std::move(ui_callback).Run(nullptr)));
  }
};

std::unique_ptr<PackageMetadata> Metadata(std::vector<std::wstring> names) {
  auto metadata = std::make_unique<PackageMetadata>();
  metadata->package_url = L"https://cdn.example/package.exe";
  metadata->package_checksum = "abc";
  for (const std::wstring& name : names) {
    metadata->components.push_back(std::make_unique<AdditionalFile>());
    metadata->components.back()->file_name = name;
  }
  return metadata;
}

class PackageFetchSequencerTest : public testing::Test {
 protected:
  PackageFetchSequencerTest() {
    EXPECT_TRUE(temp_.CreateUniqueTempDir());
    SetAvroStatsSenderForTesting(std::make_unique<RecordingSender>(&w_));
    proxy_ = base::MakeRefCounted<PackageFetcherDelegateProxy>(&controller_,
                                                               &delegate_);
    sequencer_ = MakeSequencer();
  }
  ~PackageFetchSequencerTest() override {
    sequencer_.reset();
    proxy_->Detach();
    DisableAvroStatsSender();
  }

  std::unique_ptr<PackageFetchSequencerImpl> MakeSequencer(
      bool initialize = true, base::FilePath root = base::FilePath()) {
    if (root.empty())
      root = temp_.GetPath();
    base::Time::Exploded when = {2026, 12, 1, 7, 13, 0, 0, 0};
    auto sequencer = std::make_unique<PackageFetchSequencerImpl>(
        std::make_unique<FakeFileDownloader>(&w_),
        std::make_unique<FolderPreparerImpl>(root, false, when),
        std::make_unique<FakeMainDownloader>(&w_),
        std::make_unique<FakeRetriever>(&w_),
        std::make_unique<FakeVersionChecker>(&w_), false, "{\"t\":1}", nullptr,
        proxy_);
    sequencer->SetDownloaderFactoryForTesting(base::BindRepeating(
        [](World* w, UICallbackRunner*,
           DownloadProgressObserver*) -> std::unique_ptr<WininetDownloader> {
          return std::make_unique<FakeDownloader>(w);
        },
        &w_));
    if (initialize)
      sequencer->Initialize();
    return sequencer;
  }

  // The delegate's calls arrive as tasks on this thread.
  void Drain() {
    base::RunLoop idle;
    idle.QuitWhenIdle();
    idle.Run();
  }

  void ReplyMetadata(std::unique_ptr<PackageMetadata> metadata) {
    ASSERT_TRUE(w_.metadata_reply);
    std::move(w_.metadata_reply).Run(std::move(metadata), {});
    Drain();
  }
  void ReplyDownload(bool success) {
    ASSERT_TRUE(w_.download_reply);
    std::move(w_.download_reply).Run(success, {});
    Drain();
  }
  void ReplyFile(bool fetched) {
    ASSERT_TRUE(w_.file_reply);
    std::unique_ptr<AdditionalFile> entry = std::move(w_.file_in_flight);
    if (!fetched)
      entry.reset();
    std::move(w_.file_reply).Run(std::move(entry), {});
    Drain();
  }

  base::MessageLoop message_loop_;
  base::ScopedTempDir temp_;
  World w_;
  RecordingDelegate delegate_{&w_};
  FakeController controller_;
  base::scoped_refptr<PackageFetcherDelegateProxy> proxy_;
  std::unique_ptr<PackageFetchSequencerImpl> sequencer_;
};

// The whole road; a component that is skipped, lost or cannot be placed is
// left out without failing the package.
TEST_F(PackageFetchSequencerTest, NetworkRoadChecksMarksAndFetchesComponents) {
  sequencer_->Start();
  Drain();
  EXPECT_EQ((std::vector<int>{0, 2}), w_.statuses);
  ReplyMetadata(Metadata({L"skip", L"lost", L"unplaceable", L"good"}));
  EXPECT_EQ((std::vector<int>{0, 2, 3}), w_.statuses);
  ReplyDownload(true);
  EXPECT_EQ((std::vector<int>{0, 2, 3, 4}), w_.statuses);
  ReplyFile(false);
  ReplyFile(true);
  EXPECT_TRUE(w_.ready.empty());
  ReplyFile(true);
  EXPECT_EQ((std::vector<int>{0, 2, 3, 4, 5}), w_.statuses);
  ASSERT_EQ(1u, w_.ready.size());
  EXPECT_TRUE(base::DirectoryExists(w_.ready[0]));
  EXPECT_TRUE(temp_.GetPath().IsParent(w_.ready[0]));
  EXPECT_TRUE(w_.errors.empty());
  EXPECT_EQ(
      (Calls{"metadata", "download", "checksum abc", "signature", "version",
             "tracking {\"t\":1}", "welcome", "ready marker", "file skip",
             "file lost", "file unplaceable", "place unplaceable", "file good",
             "place good", "files list"}),
      w_.calls);
  EXPECT_EQ((Calls{"fetching_download_url", "fetching_primary_package",
                   "primary_package_fetched", "checksum_verified",
                   "signature_verified", "version_verified",
                   "fetching_additional_file", "fetching_additional_file",
                   "additional_file_fetched", "fetching_additional_file",
                   "additional_file_fetched", "package_ready"}),
            w_.events);
}

TEST_F(PackageFetchSequencerTest, ShortRoadsSkipWhatTheyDoNotNeed) {
  // A full package in the payload: no request, no version check.
  w_.payload_package = true;
  sequencer_->Start();
  Drain();
  EXPECT_EQ((std::vector<int>{0, 5}), w_.statuses);
  EXPECT_EQ((Calls{"tracking {\"t\":1}", "ready marker"}), w_.calls);
  EXPECT_EQ(1u, w_.ready.size());

  // A reply without components never announces additional files.
  w_ = World();
  sequencer_->Restart();
  ReplyMetadata(Metadata({}));
  ReplyDownload(true);
  EXPECT_EQ((std::vector<int>{0, 2, 3, 5}), w_.statuses);

  // Additional files only: no package download, the installer is copied and
  // the folder marked ready, as a backend knowing only the folders' common
  // name looks for the marker.
  w_ = World();
  sequencer_->EnableAdditionalFiles();
  sequencer_->SetMinimalPackageFiles({"de.pak"});
  sequencer_->Restart();
  EXPECT_TRUE(w_.additional_files_only);
  EXPECT_EQ(Calls{"de.pak "}, w_.requests);
  auto metadata = Metadata({L"de.pak"});
  metadata->minimal = true;
  ReplyMetadata(std::move(metadata));
  ReplyFile(true);
  EXPECT_EQ((std::vector<int>{0, 2, 4, 5}), w_.statuses);
  EXPECT_EQ((Calls{"cancel files", "cancel download", "cancel metadata",
                   "metadata", "file de.pak minimal", "place de.pak",
                   "files list", "copy installer", "ready marker"}),
            w_.calls);
}

// The resources are all a repair fetches: one that cannot be fetched or put
// in place fails the fetch (which the fetcher may then try again), where a
// package leaves such a component out. Other kinds stay optional.
TEST_F(PackageFetchSequencerTest, RepairFailsWithoutEveryResource) {
  const struct {
    const wchar_t* name;
    AdditionalFileKind kind;
    bool fetched;
    Errors errors;
  } kCases[] = {
      {L"lost", ADDITIONAL_FILE_DOWNLOADABLE_RESOURCE, false,
       {{1, "Could not download the resource lost"}}},
      {L"unplaceable", ADDITIONAL_FILE_DOWNLOADABLE_RESOURCE, true,
       {{2, "cannot place\nCould not put the resource unplaceable in place"}}},
      {L"lost", ADDITIONAL_FILE_PARTNER_CONTENT, false, {}},
      {L"unplaceable", ADDITIONAL_FILE_PARTNER_CONTENT, true, {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.name << " " << c.kind);
    w_ = World();
    sequencer_->EnableAdditionalFiles();
    sequencer_->Restart();
    auto metadata = Metadata({c.name, L"good"});
    metadata->minimal = true;
    metadata->components[0]->kind = c.kind;
    metadata->components[1]->kind = ADDITIONAL_FILE_DOWNLOADABLE_RESOURCE;
    ReplyMetadata(std::move(metadata));
    ReplyFile(c.fetched);
    EXPECT_EQ(c.errors, w_.errors);
    if (!c.errors.empty()) {
      EXPECT_TRUE(w_.ready.empty());
      EXPECT_FALSE(w_.file_reply) << "the next resource was fetched";
      continue;
    }
    ReplyFile(true);
    EXPECT_EQ(1u, w_.ready.size());
  }
}

TEST_F(PackageFetchSequencerTest, FailuresReportTheRecordedReason) {
  w_.checksum_ok = false;
  sequencer_->Start();
  ReplyMetadata(Metadata({L"a"}));
  ReplyDownload(true);
  EXPECT_EQ((Errors{{1, "Checksum mismatch"}}), w_.errors);
  EXPECT_EQ((std::vector<int>{0, 2, 3}), w_.statuses);
  EXPECT_EQ("package_fetcher_local_error", w_.events.back());

  // A failed download is a network error with its own event.
  w_ = World();
  sequencer_->Restart();
  ReplyMetadata(Metadata({}));
  SetLastInstallerError(RESULT_PACKAGE_FETCH_FAILED, "connection reset");
  ReplyDownload(false);
  EXPECT_EQ((Errors{{1, "connection reset"}}), w_.errors);
  EXPECT_EQ("package_fetcher_network_error", w_.events.back());

  // A package folder that cannot be marked ready is a local failure, on the
  // payload road and with additional files only.
  const Errors kNotMarked = {{2, "disk full\nCannot mark package as ready"}};
  w_ = World();
  w_.payload_package = true;
  w_.marker_ok = false;
  sequencer_->Restart();
  Drain();
  EXPECT_EQ(kNotMarked, w_.errors);
  w_ = World();
  w_.marker_ok = false;
  sequencer_->EnableAdditionalFiles();
  sequencer_->Restart();
  ReplyMetadata(Metadata({}));
  EXPECT_EQ(kNotMarked, w_.errors);
  EXPECT_TRUE(w_.ready.empty());

  // Without a package folder nothing is written beside the download root.
  const base::FilePath file_root = temp_.GetPath().Append(L"a file");
  ASSERT_EQ(0, base::WriteFile(file_root, "", 0));
  // The error records nest: the old sequence's goes first.
  sequencer_.reset();
  sequencer_ = MakeSequencer(true, file_root.Append(L"downloads"));
  w_ = World();
  w_.payload_package = true;
  sequencer_->Start();
  Drain();
  EXPECT_EQ((Errors{{2, "Could not create a download folder"}}), w_.errors);
  EXPECT_TRUE(w_.calls.empty());
}

TEST_F(PackageFetchSequencerTest, RetryLimitsDependOnWhatWasReceived) {
  const struct {
    uint32_t size_per_failure, http_status;
    int allowed;
  } kCases[] = {
      {0x200000, 200, 3},  // 4 MiB reached at the second failure
      {0x1000, 200, 6},
      {0, 204, 3},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.allowed);
    sequencer_.reset();
    sequencer_ = MakeSequencer();
    w_ = World();
    w_.downloaded_size = c.size_per_failure;
    w_.http_status = c.http_status;
    w_.metadata_starts = false;
    for (int failure = 1; failure <= c.allowed; ++failure) {
      EXPECT_TRUE(sequencer_->CanRetry()) << failure;
      sequencer_->Restart();
    }
    EXPECT_FALSE(sequencer_->CanRetry());
    Drain();
    EXPECT_EQ(static_cast<size_t>(c.allowed), w_.errors.size());
  }
}

// Restart and destruction drop the replies still on their way and stop the
// downloader, except one that failed and so has nothing to stop.
TEST_F(PackageFetchSequencerTest, RestartAndDestructionEndTheWorkInFlight) {
  sequencer_->Start();
  ReplyMetadata(Metadata({L"a"}));
  MainPackageDownloader::DownloadCallback stale = std::move(w_.download_reply);
  w_ = World();
  sequencer_->Restart();
  EXPECT_EQ(1, w_.stops);
  std::move(stale).Run(true, {});
  Drain();
  EXPECT_EQ((std::vector<int>{0, 2}), w_.statuses);
  EXPECT_EQ(
      (Calls{"cancel files", "cancel download", "cancel metadata", "metadata"}),
      w_.calls);
  EXPECT_TRUE(w_.ready.empty());
  EXPECT_TRUE(w_.errors.empty());

  w_.downloader_state = WininetDownloader::STATE_RECEIVING;
  sequencer_.reset();
  EXPECT_EQ(2, w_.stops);
  sequencer_ = MakeSequencer();
  w_.downloader_state = WininetDownloader::STATE_FAILED;
  sequencer_.reset();
  EXPECT_EQ(2, w_.stops);
}

// The fetcher over the real sequence; the test runner stands for the
// fetcher thread.
class PackageFetcherTest : public PackageFetchSequencerTest {
 protected:
  PackageFetcherTest()
      : fetcher_(std::make_unique<PackageFetcher>(
            MakeSequencer(false), runner_, proxy_)) {
    sequencer_.reset();
    w_ = World();
    runner_->RunUntilIdle();
  }

  const base::scoped_refptr<base::TestTaskRunner> runner_ =
      base::MakeRefCounted<base::TestTaskRunner>();
  std::unique_ptr<PackageFetcher> fetcher_;
};

// After the countdown a new numbered folder replaces the old one, and
// nothing is left when the fetcher goes.
TEST_F(PackageFetcherTest, RetryCountsDownThenRestartsInAFreshFolder) {
  w_.payload_package = true;
  fetcher_->Restart();
  Drain();
  ASSERT_EQ(1u, w_.ready.size());
  const base::FilePath first = w_.ready[0];

  ASSERT_TRUE(fetcher_->Retry());
  runner_->FastForwardBy(base::TimeDelta::FromSeconds(5));
  Drain();
  EXPECT_EQ((std::vector<int>{0, 5, 1}), w_.statuses);
  EXPECT_EQ((Calls{"total 6", "0", "1", "2", "3", "4", "5"}), w_.progress);
  runner_->FastForwardBy(base::TimeDelta::FromSeconds(1));
  Drain();
  EXPECT_EQ((std::vector<int>{0, 5, 1, 0, 5}), w_.statuses);
  EXPECT_EQ("6", w_.progress.back());
  ASSERT_EQ(2u, w_.ready.size());
  EXPECT_NE(first, w_.ready[1]);
  EXPECT_FALSE(base::PathExists(first));
  EXPECT_TRUE(base::DirectoryExists(w_.ready[1]));

  fetcher_.reset();
  EXPECT_FALSE(base::PathExists(w_.ready[1]));
}

// One countdown at a time, and a restart by any other command ends it: a
// countdown left running would restart again and end the healthy attempt.
TEST_F(PackageFetcherTest, AnyRestartCancelsTheCountdown) {
  fetcher_->Restart();
  ASSERT_TRUE(fetcher_->Retry());
  ASSERT_TRUE(fetcher_->Retry());
  runner_->FastForwardBy(base::TimeDelta::FromSeconds(20));
  EXPECT_EQ(2u, w_.requests.size());

  void (*const kRestarts[])(PackageFetcher*) = {
      [](PackageFetcher* f) { f->Restart(); },
      [](PackageFetcher* f) { f->SetUseMinimalPackage({"de.pak"}); },
      [](PackageFetcher* f) { f->RestartWithMinimalPackage({"de.pak"}); },
  };
  for (auto restart : kRestarts) {
    w_.requests.clear();
    ASSERT_TRUE(fetcher_->Retry());
    runner_->FastForwardBy(base::TimeDelta::FromSeconds(2));
    // The countdown ended before does not block this one.
    ASSERT_EQ(1u, runner_->pending_count());
    restart(fetcher_.get());
    runner_->FastForwardBy(base::TimeDelta::FromSeconds(20));
    EXPECT_EQ(1u, w_.requests.size());
    EXPECT_EQ(0u, runner_->pending_count());
  }

  // Past the sequencer's limit there is no countdown.
  w_.downloaded_size = PackageFetchSequencerImpl::kLittleReceivedBytes;
  w_.metadata_starts = false;
  for (int i = 0; i < PackageFetchSequencerImpl::kMaxFailures; ++i)
    fetcher_->Restart();
  EXPECT_FALSE(fetcher_->Retry());
  EXPECT_EQ(0u, runner_->pending_count());
}

TEST_F(PackageFetcherTest, CommandsFromOtherThreadsRunOnTheFetcherThread) {
  runner_->set_runs_tasks_in_current_sequence(false);
  fetcher_->SetUseMinimalPackage({"en.pak"});
  fetcher_->Restart();
  fetcher_->RestartWithMinimalPackage({"fr.pak"});
  fetcher_->SetUseMinimalPackage({"de.pak"});
  EXPECT_TRUE(w_.calls.empty());
  runner_->set_runs_tasks_in_current_sequence(true);
  runner_->RunUntilIdle();
  // Before the first start the list is only kept; afterwards it restarts,
  // once each.
  EXPECT_EQ((Calls{"en.pak ", "fr.pak ", "de.pak "}), w_.requests);
}

// The proxy carries reports and UI requests to the UI thread until the
// fetcher goes; then nothing arrives, the queued countdown included.
TEST_F(PackageFetcherTest, ProxyForwardsUntilTheFetcherIsGone) {
  proxy_->SetTotalProgress(12);
  proxy_->SetCurrentProgress(3);
  // An unpacking's files are a progress scale too.
  UnpackProgressObserver* unpacking = proxy_.get();
  unpacking->OnFilesToUnpackCounted(2);
  unpacking->OnUnpackProgressChanged(1);
  proxy_->NotifyPackageFetcherError(PackageFetcherDelegate::FAILURE_NETWORK,
                                    "lost", {});
  int32_t reply = -1;
  auto ui_request = [this, &reply] {
    proxy_->RunUICallbackAndPostReply(
        base::BindOnce([](HWND) { return 7; }),
        base::ThreadTaskRunnerHandle::Get(),
        base::BindOnce([](int32_t* out, int32_t value) { *out = value; },
                       &reply));
  };
  ui_request();
  Drain();
  EXPECT_EQ((Calls{"total 12", "3", "total 2", "1"}), w_.progress);
  EXPECT_EQ((Errors{{1, "lost"}}), w_.errors);
  EXPECT_EQ(7, reply);

  w_ = World();
  reply = -1;
  ASSERT_TRUE(fetcher_->Retry());
  proxy_->NotifyPackageReady(base::FilePath(L"C:\\p"));
  proxy_->NotifyStalled();
  unpacking->OnFilesToUnpackCounted(4);
  unpacking->OnUnpackProgressChanged(3);
  ui_request();
  fetcher_.reset();
  runner_->FastForwardBy(base::TimeDelta::FromSeconds(10));
  Drain();
  EXPECT_TRUE(w_.statuses.empty());
  EXPECT_TRUE(w_.progress.empty());
  EXPECT_TRUE(w_.ready.empty());
  EXPECT_TRUE(w_.requests.empty());
  EXPECT_EQ(-1, reply);
}

}  // namespace
}  // namespace installer
