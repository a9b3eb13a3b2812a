#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLATION_FOLDER_DETAILS_FETCHER_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLATION_FOLDER_DETAILS_FETCHER_H_

#include <memory>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "base/memory/ref_counted.h"
#include "base/memory/scoped_refptr.h"

namespace installer {

class InstallationFolderDetails;

// Examines one folder off the main thread and brings the details back to
// the thread that asked.
class InstallationFolderDetailsFetcher
    : public base::RefCountedThreadSafe<InstallationFolderDetailsFetcher> {
 public:
  using Reply =
      base::OnceCallback<void(std::unique_ptr<InstallationFolderDetails>)>;

  // Starts the examination; |reply| runs on the calling sequence unless the
  // fetch is cancelled first.
  virtual void FetchStatus(Reply reply) = 0;
  // Drops the reply: the examination may still finish, but its details are
  // destroyed with the fetcher.
  virtual void Cancel() = 0;

 protected:
  friend class base::RefCountedThreadSafe<InstallationFolderDetailsFetcher>;
  virtual ~InstallationFolderDetailsFetcher() = default;
};

// Makes the fetcher of one folder; the flag is the recovery mode (on in
// autoupdate runs).
using InstallationFolderDetailsFetcherFactory = base::RepeatingCallback<
    base::scoped_refptr<InstallationFolderDetailsFetcher>(
        const base::FilePath& path, bool recovery_mode)>;

// The factory of real fetchers that RunInstaller hands to the settings.
InstallationFolderDetailsFetcherFactory
CreateInstallationFolderDetailsFetcherFactory();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLATION_FOLDER_DETAILS_FETCHER_H_
