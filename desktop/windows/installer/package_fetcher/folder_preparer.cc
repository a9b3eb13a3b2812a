#include "desktop/windows/installer/package_fetcher/folder_preparer.h"

#include <windows.h>
#include <stdio.h>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/interprocess_state.h"

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

// A session GUID is 36 characters; anything much longer is not a record.
constexpr size_t kMaxSessionRecordSize = 256;

}  // namespace

const wchar_t kPackageFolderSessionFile[] = L"session";

namespace {

// Deletes |folder| with the session record last: a folder that cannot be
// emptied (a backend still reads the package) keeps saying whose it is, so
// that the backend can remove it once done.
bool DeletePackageFolder(const base::FilePath& folder) {
  if (!base::PathExists(folder))
    return true;
  bool emptied = true;
  base::FileEnumerator entries(
      folder, false,
      base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES);
  for (base::FilePath entry = entries.Next(); !entry.empty();
       entry = entries.Next()) {
    if (entry.BaseName().value() == kPackageFolderSessionFile)
      continue;
    if (!base::DeleteFile(entry, true)) {
      PLOG(WARNING) << "Unable to delete " << entry.value();
      emptied = false;
    }
  }
  return emptied && base::DeleteFile(folder, true);
}

}  // namespace

bool IsPackageFolderOfSession(const base::FilePath& folder,
                              const std::string& session_guid) {
  std::string recorded;
  return !session_guid.empty() &&
         base::ReadFileToStringWithMaxSize(
             folder.Append(kPackageFolderSessionFile), &recorded,
             kMaxSessionRecordSize) &&
         recorded == session_guid;
}

bool RemovePackageFoldersOfSession(const base::FilePath& folder,
                                   const base::FilePath& prefix,
                                   const std::string& session_guid) {
  std::vector<base::FilePath> folders;
  if (!folder.empty())
    folders.push_back(folder);
  if (!prefix.empty()) {
    base::FileEnumerator found(prefix.DirName(), false,
                               base::FileEnumerator::DIRECTORIES,
                               prefix.BaseName().value() + L"*");
    for (base::FilePath path = found.Next(); !path.empty(); path = found.Next())
      folders.push_back(path);
  }
  bool removed = true;
  for (const base::FilePath& path : folders) {
    if (!IsPackageFolderOfSession(path, session_guid))
      continue;
    LOG(INFO) << "Removing the package folder " << path.value();
    if (!DeletePackageFolder(path)) {
      PLOG(ERROR) << "Cannot remove the package folder " << path.value();
      removed = false;
    }
  }
  return removed;
}

FolderPreparerImpl::FolderPreparerImpl(const base::FilePath& download_root,
                                       bool with_assistant)
    : FolderPreparerImpl(download_root, with_assistant, LocalNow()) {}

FolderPreparerImpl::FolderPreparerImpl(const base::FilePath& download_root,
                                       bool with_assistant,
                                       const base::Time::Exploded& local_time,
                                       const std::string& session_guid)
    : session_guid_(session_guid.empty() ? GetSessionGuid() : session_guid) {
  const std::wstring stamp = TimeStamp(local_time);
  package_base_ = download_root.Append(
      base::UTF8ToWide(GetProductShortName() + "_package") + stamp);
  if (with_assistant)
    assistant_folder_ = download_root.Append(L"assistant" + stamp);
}

FolderPreparerImpl::~FolderPreparerImpl() {
  // A backend still reading the package keeps its folder; it removes the
  // folder itself once this process is gone.
  for (const base::FilePath& folder : made_folders_) {
    if (!DeletePackageFolder(folder))
      LOG(WARNING) << "Unable to delete " << folder.value();
  }
  if (!assistant_folder_.empty())
    base::DeleteFile(assistant_folder_, true);
}

base::FilePath FolderPreparerImpl::Prepare() {
  ++counter_;
  // A restarted sequence never builds on what an earlier attempt left.
  if (!current_folder_.empty() && !DeletePackageFolder(current_folder_))
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
  // The backend takes a folder found by its name only with this record.
  const base::FilePath record = folder.Append(kPackageFolderSessionFile);
  if (base::WriteFile(record, session_guid_.data(),
                      static_cast<int>(session_guid_.size())) !=
      static_cast<int>(session_guid_.size())) {
    PLOG(ERROR) << "Cannot write " << record.value();
    SetLastInstallerError(RESULT_PACKAGE_FETCH_FAILED,
                          "Could not record the session in the download folder",
                          record.value());
    return base::FilePath();
  }
  return current_folder_;
}

base::FilePath FolderPreparerImpl::GetPackageFolder() const {
  return package_base_;
}

base::FilePath FolderPreparerImpl::GetAssistantFolder() const {
  return assistant_folder_;
}

}  // namespace installer
