#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLATION_FOLDER_DETAILS_FETCHER_IMPL_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLATION_FOLDER_DETAILS_FETCHER_IMPL_H_

#include <stdint.h>

#include <memory>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/memory/scoped_refptr.h"
#include "base/sequenced_task_runner.h"
#include "desktop/windows/installer/installation_folder_details.h"
#include "desktop/windows/installer/installation_folder_details_fetcher.h"

namespace installer {

// Examines one folder on a task-scheduler worker, inside a single-threaded
// COM apartment (shortcuts are resolved through COM), and hands the details
// to the reply on the sequence that made the fetcher.
class InstallationFolderDetailsFetcherImpl
    : public InstallationFolderDetailsFetcher {
 public:
  InstallationFolderDetailsFetcherImpl(const base::FilePath& path,
                                       bool recovery_mode);

  // InstallationFolderDetailsFetcher:
  void FetchStatus(Reply reply) override;
  void Cancel() override;

 private:
  ~InstallationFolderDetailsFetcherImpl() override;

  void FetchOnWorker();
  void ReplyOnOrigin();

  const base::scoped_refptr<base::SequencedTaskRunner> origin_task_runner_;
  const base::FilePath path_;
  Reply reply_;
  std::unique_ptr<InstallationFolderDetails> details_;
  const uint32_t recovery_mode_;

  DISALLOW_COPY_AND_ASSIGN(InstallationFolderDetailsFetcherImpl);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLATION_FOLDER_DETAILS_FETCHER_IMPL_H_
