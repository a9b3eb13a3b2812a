#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_H_

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/memory/ref_counted.h"
#include "base/memory/scoped_refptr.h"
#include "base/memory/weak_ptr.h"
#include "base/sequenced_task_runner.h"
#include "base/single_thread_task_runner.h"
#include "base/synchronization/lock.h"
#include "base/time/time.h"
#include "desktop/windows/installer/avro_stats/fetch_chunk_statistics.h"
#include "desktop/windows/installer/lzma_util/lzma_util.h"
#include "desktop/windows/installer/wininet/wininet_downloader.h"

namespace installer {

class InstallerControllerInterface;
class PackageFetchSequencer;

// What the package fetcher reports to the front end. Every call arrives on
// the thread that made the PackageFetcherDelegateProxy (the UI thread).
class PackageFetcherDelegate {
 public:
  // The stages of a fetch attempt, in the order they come.
  enum Status : int {
    STATUS_STARTED = 0,
    STATUS_WAITING_TO_RETRY = 1,
    STATUS_METADATA_REQUESTED = 2,
    STATUS_DOWNLOADING = 3,
    STATUS_ADDITIONAL_FILES = 4,
    STATUS_READY = 5,
  };
  enum FailureKind : int {
    FAILURE_NETWORK = 1,
    FAILURE_LOCAL = 2,
  };

  virtual ~PackageFetcherDelegate() = default;
  virtual void NotifyPackageFetcherStatusChanged(Status status) {}
  // |folder| is complete and marked ready.
  virtual void NotifyPackageReady(const base::FilePath& folder) = 0;
  // |details| describe the failed request; empty when the failure did not
  // come from a download.
  virtual void NotifyPackageFetcherError(
      FailureKind kind,
      const std::string& description,
      const std::vector<FetchChunkStatistics>& details) = 0;
  // The current scale: bytes of a download, files of an unpacking or
  // seconds of a retry wait.
  virtual void SetTotalProgress(uint32_t total) {}
  virtual void SetCurrentProgress(uint32_t current) {}
  // The current download makes no progress.
  virtual void NotifyStalled() {}
};

// Carries every report of the fetcher thread to the UI thread and there to
// the delegate. The sequence, the downloader and the posted tasks share it,
// so it is reference-counted; once detached, the reports still queued reach
// nobody.
class PackageFetcherDelegateProxy
    : public UICallbackRunner,
      public DownloadProgressObserver,
      public UnpackProgressObserver,
      public base::RefCountedThreadSafe<PackageFetcherDelegateProxy> {
 public:
  // Both are borrowed and must outlive the proxy or its Detach. Takes the
  // current thread's runner as the UI runner.
  PackageFetcherDelegateProxy(InstallerControllerInterface* controller,
                              PackageFetcherDelegate* delegate);

  void NotifyPackageFetcherStatusChanged(PackageFetcherDelegate::Status status);
  void NotifyPackageReady(const base::FilePath& folder);
  void NotifyPackageFetcherError(
      PackageFetcherDelegate::FailureKind kind,
      const std::string& description,
      const std::vector<FetchChunkStatistics>& details);

  // DownloadProgressObserver:
  void SetTotalProgress(uint32_t total) override;
  void SetCurrentProgress(uint32_t current) override;
  void NotifyStalled() override;

  // UnpackProgressObserver: the files of an unpacking become the delegate's
  // total and current progress.
  void OnFilesToUnpackCounted(int32_t count) override;
  void OnUnpackProgressChanged(int32_t files_done) override;

  // UICallbackRunner: the controller runs |ui_callback| on the UI thread and
  // posts |reply| with its result to |reply_runner|. Without a controller
  // (detached) nothing runs.
  void RunUICallbackAndPostReply(
      UICallback ui_callback,
      base::scoped_refptr<base::SingleThreadTaskRunner> reply_runner,
      Reply reply) override;

  // Any thread: the delegate and the controller are called no more.
  void Detach();

 private:
  friend class base::RefCountedThreadSafe<PackageFetcherDelegateProxy>;
  ~PackageFetcherDelegateProxy() override;

  // Posts |call| to the UI runner, where it runs with the delegate if one
  // is still attached.
  void PostToDelegate(const base::Location& from_here,
                      base::OnceCallback<void(PackageFetcherDelegate*)> call);
  void RunWithDelegate(base::OnceCallback<void(PackageFetcherDelegate*)> call);
  void RunWithController(
      UICallback ui_callback,
      base::scoped_refptr<base::SingleThreadTaskRunner> reply_runner,
      Reply reply);

  const base::scoped_refptr<base::SingleThreadTaskRunner> ui_runner_;
  // Detach comes from the fetcher thread while the UI thread reads them.
  base::Lock lock_;
  PackageFetcherDelegate* delegate_;
  InstallerControllerInterface* controller_;

  DISALLOW_COPY_AND_ASSIGN(PackageFetcherDelegateProxy);
};

// The front end's handle on package acquisition. Made on the UI thread;
// every command is carried out on the fetcher thread, where the fetcher is
// also deleted (the controller owns that thread and deletes the fetcher
// there before joining it).
class PackageFetcher {
 public:
  // The wait before a retry restarts the sequence, shown in whole seconds.
  static const base::TimeDelta kRetryDelay;

  // Posts the sequencer's Initialize to |fetcher_runner|.
  PackageFetcher(std::unique_ptr<PackageFetchSequencer> sequencer,
                 base::scoped_refptr<base::SequencedTaskRunner> fetcher_runner,
                 base::scoped_refptr<PackageFetcherDelegateProxy> proxy);
  ~PackageFetcher();

  // Any thread. Starts the sequence, or starts it again.
  void Restart();
  // Any thread. Before the first Restart only keeps |file_names| for it;
  // afterwards restarts the sequence with them.
  void SetUseMinimalPackage(const std::vector<std::string>& file_names);
  // Any thread. Starts the sequence, or starts it again, with |file_names|:
  // one restart, whether or not the sequence ran before.
  void RestartWithMinimalPackage(const std::vector<std::string>& file_names);
  // From now on only the additional files are fetched. Called before
  // Restart.
  void EnableAdditionalFiles();
  // False when the sequencer's retry limit is reached. Otherwise counts the
  // retry delay down (status 1, then the seconds as progress) and restarts;
  // true also when a countdown is already running, which stays the only
  // one. A restart by any other command cancels the countdown.
  bool Retry();

 private:
  void StartCountdown();
  void StartIfDelayIsZero(int seconds_left);
  // Every restart goes through here, on the fetcher thread.
  void CancelCountdown();
  int RetryDelaySeconds() const;

  std::unique_ptr<PackageFetchSequencer> sequencer_;
  const base::scoped_refptr<base::SequencedTaskRunner> fetcher_runner_;
  bool started_ = false;
  base::scoped_refptr<PackageFetcherDelegateProxy> proxy_;

  // Countdown steps still queued when the fetcher goes must not run; the
  // pointer is made on the UI thread and used on the fetcher thread.
  base::WeakPtrFactory<PackageFetcher> weak_factory_{this};
  const base::WeakPtr<PackageFetcher> weak_this_;
  // The steps of the retry countdown only, used on the fetcher thread: a
  // countdown left running after another restart would later kill the
  // attempt that restart began.
  base::WeakPtrFactory<PackageFetcher> countdown_factory_{this};

  DISALLOW_COPY_AND_ASSIGN(PackageFetcher);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_H_
