#include "desktop/windows/installer/installation_folder_details_fetcher_impl.h"

#include <utility>

#include "base/bind.h"
#include "base/check.h"
#include "base/location.h"
#include "base/task_scheduler/post_task.h"
#include "base/task_scheduler/task_traits.h"
#include "base/threading/sequenced_task_runner_handle.h"
#include "base/win/scoped_com_initializer.h"

namespace installer {

namespace {

base::scoped_refptr<InstallationFolderDetailsFetcher> CreateFetcher(
    const base::FilePath& path, bool recovery_mode) {
  return base::scoped_refptr<InstallationFolderDetailsFetcher>(
      new InstallationFolderDetailsFetcherImpl(path, recovery_mode));
}

}  // namespace

InstallationFolderDetailsFetcherImpl::InstallationFolderDetailsFetcherImpl(
    const base::FilePath& path, bool recovery_mode)
    : origin_task_runner_(base::SequencedTaskRunnerHandle::Get()),
      path_(path),
      recovery_mode_(recovery_mode ? 1 : 0) {}

InstallationFolderDetailsFetcherImpl::~InstallationFolderDetailsFetcherImpl() =
    default;

void InstallationFolderDetailsFetcherImpl::FetchStatus(Reply reply) {
  DCHECK(origin_task_runner_->RunsTasksInCurrentSequence());
  reply_ = std::move(reply);
  // Task and reply each hold a reference: the fetcher outlives a cancel.
  base::PostTaskWithTraitsAndReply(
      FROM_HERE, base::TaskTraits().MayBlock(),
      base::BindOnce(
          &InstallationFolderDetailsFetcherImpl::FetchOnWorker,
          base::scoped_refptr<InstallationFolderDetailsFetcherImpl>(this)),
      base::BindOnce(
          &InstallationFolderDetailsFetcherImpl::ReplyOnOrigin,
          base::scoped_refptr<InstallationFolderDetailsFetcherImpl>(this)));
}

void InstallationFolderDetailsFetcherImpl::Cancel() {
  DCHECK(origin_task_runner_->RunsTasksInCurrentSequence());
  reply_.Reset();
}

void InstallationFolderDetailsFetcherImpl::FetchOnWorker() {
  base::win::ScopedCOMInitializer com;
  details_ = CreateInstallationFolderDetails();
  details_->Initialize(path_, recovery_mode_ != 0);
}

void InstallationFolderDetailsFetcherImpl::ReplyOnOrigin() {
  DCHECK(origin_task_runner_->RunsTasksInCurrentSequence());
  // A cancelled fetch leaves its details to die with the fetcher.
  if (reply_)
    std::move(reply_).Run(std::move(details_));
}

InstallationFolderDetailsFetcherFactory
CreateInstallationFolderDetailsFetcherFactory() {
  return base::BindRepeating(&CreateFetcher);
}

}  // namespace installer
