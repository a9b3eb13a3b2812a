#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FOLDER_PREPARER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FOLDER_PREPARER_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/time/time.h"

namespace installer {

// Gives every start of the fetch sequence a fresh package folder.
class FolderPreparer {
 public:
  virtual ~FolderPreparer() = default;
  // Deletes the previous folder and makes the next one; empty on failure,
  // with the thread's error record set.
  virtual base::FilePath Prepare() = 0;
  // The name all package folders start with (the folders add a number).
  virtual base::FilePath GetPackageFolder() const = 0;
  // Empty when the assistant is not installed.
  virtual base::FilePath GetAssistantFolder() const = 0;
};

// The entry of a package folder that names the installation session which
// made it: a folder found by its name alone may be anybody's, since anyone
// who can write to the download root can make one of that name.
extern const wchar_t kPackageFolderSessionFile[];

// Whether |folder| holds the record of the session |session_guid| (never for
// an empty one).
bool IsPackageFolderOfSession(const base::FilePath& folder,
                              const std::string& session_guid);

// Deletes |folder| and every folder whose name starts with |prefix|'s base
// name beside it (either may be empty) that the session |session_guid| made;
// a folder without that session's record is left alone. False when one of
// them could not be deleted (logged).
bool RemovePackageFoldersOfSession(const base::FilePath& folder,
                                   const base::FilePath& prefix,
                                   const std::string& session_guid);

// Package folders "<product>_package_<yyyymmddhhmmss><n>" under the
// download root, n counting the calls to Prepare, each recording the
// session that made it. Everything it made is deleted when it goes, so that
// an aborted or finished run leaves no package behind in the user's
// temporary folder.
class FolderPreparerImpl : public FolderPreparer {
 public:
  // The time stamp is the local time now.
  FolderPreparerImpl(const base::FilePath& download_root, bool with_assistant);
  // An empty |session_guid| stands for this process's session.
  FolderPreparerImpl(const base::FilePath& download_root,
                     bool with_assistant,
                     const base::Time::Exploded& local_time,
                     const std::string& session_guid = std::string());
  ~FolderPreparerImpl() override;

  base::FilePath Prepare() override;
  base::FilePath GetPackageFolder() const override;
  base::FilePath GetAssistantFolder() const override;

 private:
  uint32_t counter_ = 0;
  std::string session_guid_;
  base::FilePath package_base_;
  base::FilePath assistant_folder_;
  base::FilePath current_folder_;
  std::vector<base::FilePath> made_folders_;

  DISALLOW_COPY_AND_ASSIGN(FolderPreparerImpl);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FOLDER_PREPARER_H_
