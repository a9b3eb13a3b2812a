#include "desktop/windows/installer/package_fetcher/package_fetcher.h"

#include <utility>

#include "base/bind.h"
#include "base/logging.h"
#include "base/threading/thread_task_runner_handle.h"
#include "desktop/windows/installer/installer_controller.h"
#include "desktop/windows/installer/package_fetcher/package_fetch_sequencer.h"

namespace installer {

PackageFetcherDelegateProxy::PackageFetcherDelegateProxy(
    InstallerControllerInterface* controller, PackageFetcherDelegate* delegate)
    : ui_runner_(base::ThreadTaskRunnerHandle::Get()),
      delegate_(delegate),
      controller_(controller) {}

PackageFetcherDelegateProxy::~PackageFetcherDelegateProxy() = default;

void PackageFetcherDelegateProxy::Detach() {
  base::AutoLock hold(lock_);
  delegate_ = nullptr;
  controller_ = nullptr;
}

void PackageFetcherDelegateProxy::PostToDelegate(
    const base::Location& from_here,
    base::OnceCallback<void(PackageFetcherDelegate*)> call) {
  // The task holds a reference, so the proxy outlives every queued report.
  ui_runner_->PostTask(
      from_here,
      base::BindOnce(&PackageFetcherDelegateProxy::RunWithDelegate,
                     base::scoped_refptr<PackageFetcherDelegateProxy>(this),
                     std::move(call)));
}

void PackageFetcherDelegateProxy::RunWithDelegate(
    base::OnceCallback<void(PackageFetcherDelegate*)> call) {
  PackageFetcherDelegate* delegate;
  {
    base::AutoLock hold(lock_);
    delegate = delegate_;
  }
  // Detach happens only while the UI thread waits for the fetcher thread to
  // end, never during this call, so the delegate stays valid through it.
  if (delegate)
    std::move(call).Run(delegate);
}

void PackageFetcherDelegateProxy::NotifyPackageFetcherStatusChanged(
    PackageFetcherDelegate::Status status) {
  PostToDelegate(FROM_HERE,
                 base::BindOnce(
                     [](PackageFetcherDelegate::Status status,
                        PackageFetcherDelegate* delegate) {
                       delegate->NotifyPackageFetcherStatusChanged(status);
                     },
                     status));
}

void PackageFetcherDelegateProxy::NotifyPackageReady(
    const base::FilePath& folder) {
  PostToDelegate(FROM_HERE, base::BindOnce(
                                [](const base::FilePath& folder,
                                   PackageFetcherDelegate* delegate) {
                                  delegate->NotifyPackageReady(folder);
                                },
                                folder));
}

void PackageFetcherDelegateProxy::NotifyPackageFetcherError(
    PackageFetcherDelegate::FailureKind kind,
    const std::string& description,
    const std::vector<FetchChunkStatistics>& details) {
  PostToDelegate(FROM_HERE,
                 base::BindOnce(
                     [](PackageFetcherDelegate::FailureKind kind,
                        const std::string& description,
                        const std::vector<FetchChunkStatistics>& details,
                        PackageFetcherDelegate* delegate) {
                       delegate->NotifyPackageFetcherError(kind, description,
                                                           details);
                     },
                     kind, description, details));
}

void PackageFetcherDelegateProxy::SetTotalProgress(uint32_t total) {
  PostToDelegate(FROM_HERE,
                 base::BindOnce(
                     [](uint32_t total, PackageFetcherDelegate* delegate) {
                       delegate->SetTotalProgress(total);
                     },
                     total));
}

void PackageFetcherDelegateProxy::SetCurrentProgress(uint32_t current) {
  PostToDelegate(FROM_HERE,
                 base::BindOnce(
                     [](uint32_t current, PackageFetcherDelegate* delegate) {
                       delegate->SetCurrentProgress(current);
                     },
                     current));
}

void PackageFetcherDelegateProxy::NotifyStalled() {
  PostToDelegate(FROM_HERE,
                 base::BindOnce([](PackageFetcherDelegate* delegate) {
                   delegate->NotifyStalled();
                 }));
}

void PackageFetcherDelegateProxy::OnFilesToUnpackCounted(int32_t count) {
  PostToDelegate(FROM_HERE,
                 base::BindOnce(
                     [](int32_t count, PackageFetcherDelegate* delegate) {
                       delegate->SetTotalProgress(static_cast<uint32_t>(count));
                     },
                     count));
}

void PackageFetcherDelegateProxy::OnUnpackProgressChanged(int32_t files_done) {
  PostToDelegate(FROM_HERE,
                 base::BindOnce(
                     [](int32_t done, PackageFetcherDelegate* delegate) {
                       delegate->SetCurrentProgress(static_cast<uint32_t>(done));
                     },
                     files_done));
}

void PackageFetcherDelegateProxy::RunUICallbackAndPostReply(
    UICallback ui_callback,
    base::scoped_refptr<base::SingleThreadTaskRunner> reply_runner,
    Reply reply) {
  ui_runner_->PostTask(
      FROM_HERE,
      base::BindOnce(&PackageFetcherDelegateProxy::RunWithController,
                     base::scoped_refptr<PackageFetcherDelegateProxy>(this),
                     std::move(ui_callback), std::move(reply_runner),
                     std::move(reply)));
}

void PackageFetcherDelegateProxy::RunWithController(
    UICallback ui_callback,
    base::scoped_refptr<base::SingleThreadTaskRunner> reply_runner,
    Reply reply) {
  InstallerControllerInterface* controller;
  {
    base::AutoLock hold(lock_);
    controller = controller_;
  }
  if (controller) {
    controller->RunUICallbackAndPostReply(
        std::move(ui_callback), std::move(reply_runner), std::move(reply));
  }
}

const base::TimeDelta PackageFetcher::kRetryDelay =
    base::TimeDelta::FromSeconds(6);

namespace {

const base::TimeDelta kCountdownStep = base::TimeDelta::FromSeconds(1);

}  // namespace

PackageFetcher::PackageFetcher(
    std::unique_ptr<PackageFetchSequencer> sequencer,
    base::scoped_refptr<base::SequencedTaskRunner> fetcher_runner,
    base::scoped_refptr<PackageFetcherDelegateProxy> proxy)
    : sequencer_(std::move(sequencer)),
      fetcher_runner_(std::move(fetcher_runner)),
      proxy_(std::move(proxy)),
      weak_this_(weak_factory_.GetWeakPtr()) {
  // Unretained: the sequencer goes with the fetcher, which is deleted by a
  // task on the same runner, after this one.
  fetcher_runner_->PostTask(FROM_HERE,
                            base::BindOnce(&PackageFetchSequencer::Initialize,
                                           base::Unretained(sequencer_.get())));
}

PackageFetcher::~PackageFetcher() {
  proxy_->Detach();
  proxy_ = nullptr;
  sequencer_.reset();
}

void PackageFetcher::Restart() {
  if (!fetcher_runner_->RunsTasksInCurrentSequence()) {
    fetcher_runner_->PostTask(
        FROM_HERE, base::BindOnce(&PackageFetcher::Restart, weak_this_));
    return;
  }
  CancelCountdown();
  started_ = true;
  sequencer_->Restart();
}

void PackageFetcher::RestartWithMinimalPackage(
    const std::vector<std::string>& file_names) {
  if (!fetcher_runner_->RunsTasksInCurrentSequence()) {
    fetcher_runner_->PostTask(
        FROM_HERE, base::BindOnce(&PackageFetcher::RestartWithMinimalPackage,
                                  weak_this_, file_names));
    return;
  }
  CancelCountdown();
  started_ = true;
  sequencer_->RestartWithMinimalPackageFiles(file_names);
}

void PackageFetcher::CancelCountdown() {
  countdown_factory_.InvalidateWeakPtrs();
}

void PackageFetcher::SetUseMinimalPackage(
    const std::vector<std::string>& file_names) {
  if (!fetcher_runner_->RunsTasksInCurrentSequence()) {
    fetcher_runner_->PostTask(
        FROM_HERE, base::BindOnce(&PackageFetcher::SetUseMinimalPackage,
                                  weak_this_, file_names));
    return;
  }
  if (started_) {
    RestartWithMinimalPackage(file_names);
  } else {
    sequencer_->SetMinimalPackageFiles(file_names);
  }
}

void PackageFetcher::EnableAdditionalFiles() {
  sequencer_->EnableAdditionalFiles();
}

int PackageFetcher::RetryDelaySeconds() const {
  return static_cast<int>(kRetryDelay.InSeconds());
}

bool PackageFetcher::Retry() {
  if (!sequencer_->CanRetry())
    return false;
  if (fetcher_runner_->RunsTasksInCurrentSequence()) {
    StartCountdown();
  } else {
    fetcher_runner_->PostTask(
        FROM_HERE, base::BindOnce(&PackageFetcher::StartCountdown, weak_this_));
  }
  return true;
}

void PackageFetcher::StartCountdown() {
  // A second error report of the same failure must not start a second
  // countdown, whose restart would end the attempt the first one began.
  if (countdown_factory_.HasWeakPtrs()) {
    LOG(INFO) << "A retry is already counting down";
    return;
  }
  LOG(INFO) << "Retrying a fetch attempt";
  proxy_->NotifyPackageFetcherStatusChanged(
      PackageFetcherDelegate::STATUS_WAITING_TO_RETRY);
  proxy_->SetTotalProgress(RetryDelaySeconds());
  proxy_->SetCurrentProgress(0);
  fetcher_runner_->PostDelayedTask(
      FROM_HERE,
      base::BindOnce(&PackageFetcher::StartIfDelayIsZero,
                     countdown_factory_.GetWeakPtr(), RetryDelaySeconds() - 1),
      kCountdownStep);
}

void PackageFetcher::StartIfDelayIsZero(int seconds_left) {
  proxy_->SetCurrentProgress(RetryDelaySeconds() - seconds_left);
  if (seconds_left == 0) {
    Restart();
    return;
  }
  fetcher_runner_->PostDelayedTask(
      FROM_HERE,
      base::BindOnce(&PackageFetcher::StartIfDelayIsZero,
                     countdown_factory_.GetWeakPtr(), seconds_left - 1),
      kCountdownStep);
}

}  // namespace installer
