#include "desktop/windows/installer/package_fetcher/package_fetcher.h"

#include <utility>

#include "base/bind.h"
#include "base/logging.h"
#include "base/threading/thread_task_runner_handle.h"

namespace installer {

PackageFetcherDelegateProxy::PackageFetcherDelegateProxy(
    base::WeakPtr<UICallbackRunner> ui_runner,
    base::WeakPtr<PackageFetcherDelegate> delegate)
    : owner_runner_(base::ThreadTaskRunnerHandle::Get()),
      ui_runner_(std::move(ui_runner)),
      delegate_(std::move(delegate)) {}

PackageFetcherDelegateProxy::~PackageFetcherDelegateProxy() = default;

void PackageFetcherDelegateProxy::NotifyPackageFetcherStatusChanged(
    int status) {
  owner_runner_->PostTask(
      FROM_HERE,
      base::BindOnce(&PackageFetcherDelegate::NotifyPackageFetcherStatusChanged,
                     delegate_, status));
}

void PackageFetcherDelegateProxy::NotifyPackageReady(
    const base::FilePath& folder) {
  owner_runner_->PostTask(
      FROM_HERE, base::BindOnce(&PackageFetcherDelegate::NotifyPackageReady,
                                delegate_, folder));
}

void PackageFetcherDelegateProxy::NotifyPackageFetcherError(
    int kind,
    const std::string& description,
    const std::vector<FetchChunkStatistics>& details) {
  owner_runner_->PostTask(
      FROM_HERE,
      base::BindOnce(&PackageFetcherDelegate::NotifyPackageFetcherError,
                     delegate_, kind, description, details));
}

void PackageFetcherDelegateProxy::SetTotalProgress(uint32_t bytes) {
  owner_runner_->PostTask(
      FROM_HERE, base::BindOnce(&PackageFetcherDelegate::SetTotalProgress,
                                delegate_, bytes));
}

void PackageFetcherDelegateProxy::SetCurrentProgress(uint32_t bytes) {
  owner_runner_->PostTask(
      FROM_HERE, base::BindOnce(&PackageFetcherDelegate::SetCurrentProgress,
                                delegate_, bytes));
}

void PackageFetcherDelegateProxy::NotifyStalled() {
  owner_runner_->PostTask(
      FROM_HERE,
      base::BindOnce(&PackageFetcherDelegate::NotifyStalled, delegate_));
}

void PackageFetcherDelegateProxy::RunUICallbackAndPostReply(
    UICallback ui_callback,
    base::scoped_refptr<base::SingleThreadTaskRunner> reply_runner,
    Reply reply) {
  owner_runner_->PostTask(
      FROM_HERE, base::BindOnce(&UICallbackRunner::RunUICallbackAndPostReply,
                                ui_runner_, std::move(ui_callback),
                                std::move(reply_runner), std::move(reply)));
}

const char PackageFetcher::kNotAvailableError[] =
    "Downloading the package is not available in this build";

PackageFetcher::PackageFetcher(
    base::scoped_refptr<base::SingleThreadTaskRunner> fetcher_runner,
    std::unique_ptr<PackageFetcherDelegateProxy> proxy)
    : fetcher_runner_(std::move(fetcher_runner)), proxy_(std::move(proxy)) {}

PackageFetcher::~PackageFetcher() = default;

void PackageFetcher::SetUseMinimalPackage(
    const std::vector<std::string>& resources) {
  minimal_resources_ = resources;
}

void PackageFetcher::EnableAdditionalFiles() {
  additional_files_ = true;
}

void PackageFetcher::Restart() {
  // Unretained: the fetcher is deleted on its thread, after this task.
  fetcher_runner_->PostTask(FROM_HERE, base::BindOnce(&PackageFetcher::RunFetch,
                                                      base::Unretained(this)));
}

bool PackageFetcher::Retry() {
  // Nothing to retry: the one attempt cannot succeed in this build.
  return false;
}

void PackageFetcher::RunFetch() {
  LOG(ERROR) << kNotAvailableError;
  proxy_->NotifyPackageFetcherError(0, kNotAvailableError, {});
}

}  // namespace installer
