#include "desktop/windows/installer/package_fetcher/folder_preparer.h"

#include <windows.h>
#include <stdio.h>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/common/product_constants.h"

namespace installer {

namespace {

base::Time::Exploded LocalNow() {
  base::Time::Exploded now;
  base::Time::Now().LocalExplode(&now);
  return now;
}

std::wstring TimeStamp(const base::Time::Exploded& time) {
  char stamp[64];
  snprintf(stamp, sizeof(stamp), "_%02d%02d%02d%02d%02d%02d", time.year,
           time.month, time.day_of_month, time.hour, time.minute, time.second);
  return base::UTF8ToWide(stamp);
}

// Folders of other front ends skipped before giving up.
constexpr int kMaxTakenFolders = 100;

}  // namespace

FolderPreparerImpl::FolderPreparerImpl(const base::FilePath& download_root,
                                       bool with_assistant)
    : FolderPreparerImpl(download_root, with_assistant, LocalNow()) {}

FolderPreparerImpl::FolderPreparerImpl(const base::FilePath& download_root,
                                       bool with_assistant,
                                       const base::Time::Exploded& local_time) {
  const std::wstring stamp = TimeStamp(local_time);
  package_base_ = download_root.Append(
      base::UTF8ToWide(GetProductShortName() + "_package") + stamp);
  if (with_assistant)
    assistant_folder_ = download_root.Append(L"assistant" + stamp);
}

FolderPreparerImpl::~FolderPreparerImpl() {
  for (const base::FilePath& folder : made_folders_)
    base::DeleteFile(folder, true);
  if (!assistant_folder_.empty())
    base::DeleteFile(assistant_folder_, true);
}

base::FilePath FolderPreparerImpl::Prepare() {
  ++counter_;
  // A restarted sequence never builds on what an earlier attempt left.
  if (!current_folder_.empty() && !base::DeleteFile(current_folder_, true))
    LOG(WARNING) << "Unable to delete " << current_folder_;
  current_folder_.clear();
  // Two front ends started within the same second share the time stamp: a
  // folder that exists already belongs to another one, which would lose its
  // package when this one cleans up. So a folder is taken only when this
  // call made it, the counter moving on past folders that exist.
  base::FilePath folder;
  bool made = false;
  if (base::CreateDirectory(package_base_.DirName())) {
    for (int attempt = 0; attempt < kMaxTakenFolders; ++attempt, ++counter_) {
      folder =
          package_base_.InsertBeforeExtension(base::UintToString16(counter_));
      made = ::CreateDirectoryW(folder.value().c_str(), nullptr) != 0;
      if (made || ::GetLastError() != ERROR_ALREADY_EXISTS)
        break;
    }
  }
  if (!made) {
    SetLastInstallerError(
        RESULT_PACKAGE_FETCH_FAILED, "Could not create a download folder",
        folder.empty() ? package_base_.DirName().value() : folder.value());
    return base::FilePath();
  }
  current_folder_ = folder;
  made_folders_.push_back(current_folder_);
  return current_folder_;
}

base::FilePath FolderPreparerImpl::GetPackageFolder() const {
  return package_base_;
}

base::FilePath FolderPreparerImpl::GetAssistantFolder() const {
  return assistant_folder_;
}

}  // namespace installer
