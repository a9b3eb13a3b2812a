#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FOLDER_PREPARER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FOLDER_PREPARER_H_

#include <stdint.h>

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

// Package folders "<product>_package_<yyyymmddhhmmss><n>" under the
// download root, n counting the calls to Prepare. Everything it made is
// deleted when it goes, so that an aborted or finished run leaves no package
// behind in the user's temporary folder.
class FolderPreparerImpl : public FolderPreparer {
 public:
  // The time stamp is the local time now.
  FolderPreparerImpl(const base::FilePath& download_root, bool with_assistant);
  FolderPreparerImpl(const base::FilePath& download_root,
                     bool with_assistant,
                     const base::Time::Exploded& local_time);
  ~FolderPreparerImpl() override;

  base::FilePath Prepare() override;
  base::FilePath GetPackageFolder() const override;
  base::FilePath GetAssistantFolder() const override;

 private:
  uint32_t counter_ = 0;
  base::FilePath package_base_;
  base::FilePath assistant_folder_;
  base::FilePath current_folder_;
  std::vector<base::FilePath> made_folders_;

  DISALLOW_COPY_AND_ASSIGN(FolderPreparerImpl);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_FOLDER_PREPARER_H_
