#include "desktop/windows/installer/service/transactions/file_operations.h"

#include <windows.h>
#include <aclapi.h>

#include <algorithm>
#include <memory>
#include <set>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/time/time.h"
#include "desktop/windows/installer/installer_utils.h"
#include "desktop/windows/installer/lzma_util/lzma_util.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "desktop/windows/installer/service/service_utils.h"

namespace installer {

namespace {

// FILE_GENERIC_WRITE | DELETE: what moving a file aside needs.
constexpr uint32_t kDeleteAccess = 0x130116;

// How many names a file moved aside may try before the delete gives up.
constexpr int kMaxAsideNames = 100;

// The drive (volume root) of |path| as a message names it.
std::string DriveOf(const base::FilePath& path) {
  wchar_t root[MAX_PATH + 1] = {};
  if (!::GetVolumePathNameW(path.value().c_str(), root, MAX_PATH))
    return path.AsUTF8Unsafe();
  return base::FilePath(root).AsUTF8Unsafe();
}

// What a reader's failure to write says about the destination's drive.
std::string UnpackFailureDetail(int result, const base::FilePath& destination) {
  switch (result) {
    case LzmaUtil::EXTRACT_DISK_FULL:
      return "\nNot enough space on " + DriveOf(destination) +
             " to unpack the archive";
    case LzmaUtil::EXTRACT_IN_PAGE_ERROR:
      // A page of the reader's mapped block that could not be written.
      return "\nCannot write the unpacked files to " + DriveOf(destination) +
             " (is the drive full?)";
    case LzmaUtil::EXTRACT_WRITE_FAILED:
      return "\nCannot write the unpacked files to " + DriveOf(destination);
    default:
      return std::string();
  }
}

int64_t SystemSecondsSince1970() {
  return base::Time::Now().ToTimeT();
}

int64_t (*g_clock)() = &SystemSecondsSince1970;

void AppendError(std::string* error, const std::string& text) {
  if (error)
    error->append(text);
}

void ReplaceError(std::string* error, const std::string& text) {
  if (error)
    *error = text;
}

// Clears the read-only attribute when |path| carries it; false when that
// was needed and failed. |*cleared| (when given) receives the attributes
// before a successful change, so that a rollback can put them back.
bool ClearReadOnly(const base::FilePath& path, DWORD* cleared = nullptr) {
  const DWORD attributes = ::GetFileAttributesW(path.value().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      !(attributes & FILE_ATTRIBUTE_READONLY)) {
    return true;
  }
  if (!::SetFileAttributesW(path.value().c_str(),
                            attributes & ~FILE_ATTRIBUTE_READONLY)) {
    return false;
  }
  if (cleared)
    *cleared = attributes;
  return true;
}

// Puts back the attributes ClearReadOnly took away, if it did.
void RestoreAttributes(const base::FilePath& path, DWORD* cleared) {
  if (*cleared == INVALID_FILE_ATTRIBUTES)
    return;
  if (!::SetFileAttributesW(path.value().c_str(), *cleared)) {
    LOG(ERROR) << "Couldn't restore the attributes of " << path.value() << ": "
               << FormatWin32Error(::GetLastError());
  }
  *cleared = INVALID_FILE_ATTRIBUTES;
}

// Whether |path| lies below |folder| (or is |folder| itself when
// |folder_itself| allows it). The part below the folder must pass the same
// check as a package list entry, so dest\a\..\..\x is not inside
// although it starts with the folder's text.
bool IsInsideFolder(const base::FilePath& folder,
                    const base::FilePath& path,
                    bool folder_itself) {
  const base::string16 top = folder.StripTrailingSeparators().value();
  base::string16 value = path.value();
  std::replace(value.begin(), value.end(), L'/', L'\\');
  if (value.size() < top.size() || base::FilePath::CompareIgnoreCase(
                                       value.substr(0, top.size()), top) != 0) {
    return false;
  }
  base::string16 rest = value.substr(top.size());
  while (!rest.empty() && rest.back() == L'\\')
    rest.pop_back();
  if (rest.empty())
    return folder_itself;
  if (rest[0] != L'\\')
    return false;
  base::FilePath relative;
  return MakeSafeRelativePath(rest.substr(1), &relative);
}

// base::MoveUnsafe refuses a path of base::kMaxPathLength characters or
// more without setting an error code, which would leave a stale code (even
// "success") for the caller's text; the system's code for that case stands in.
bool MoveWithError(const base::FilePath& from,
                   const base::FilePath& to,
                   DWORD* error) {
  if (base::MoveUnsafe(from, to))
    return true;
  *error = from.value().size() >= base::kMaxPathLength ||
                   to.value().size() >= base::kMaxPathLength
               ? ERROR_FILENAME_EXCED_RANGE
               : ::GetLastError();
  return false;
}

// Removes |folder| and then its ancestors while they are empty, but only
// below |root|: above it lie folders that the operation has nothing to do
// with, which may have been empty before the run. An empty |root| bounds
// nothing, so nothing goes.
void RemoveEmptyFolders(base::FilePath folder, const base::FilePath& root) {
  const base::FilePath top = root.StripTrailingSeparators();
  while (!top.empty() && IsParentPathIgnoreCase(top, folder) &&
         ::RemoveDirectoryW(folder.value().c_str())) {
    folder = folder.DirName();
  }
}

// The preparation that copy, move and unpack share: a folder for the result
// or, for copy and move, an existing file out of the way. Its outcome:
enum class Preparation { kDone, kFolderFailed, kDeleteFailed };

Preparation Prepare(Transaction* nested,
                    std::string* error,
                    const base::FilePath& folder,
                    const base::FilePath* file_in_the_way) {
  if (!base::DirectoryExists(folder)) {
    return ExecuteOperation(
               nested, std::make_unique<CreateFolderOperation>(folder), error)
               ? Preparation::kDone
               : Preparation::kFolderFailed;
  }
  if (file_in_the_way && base::PathExists(*file_in_the_way)) {
    return ExecuteOperation(nested,
                            std::make_unique<DeleteFileOperation>(
                                *file_in_the_way, false, false),
                            error)
               ? Preparation::kDone
               : Preparation::kDeleteFailed;
  }
  return Preparation::kDone;
}

}  // namespace

// CopyFileOperation ----------------------------------------------------------

CopyFileOperation::CopyFileOperation(const base::FilePath& source,
                                     const base::FilePath& destination)
    : source_(source), destination_(destination) {}

CopyFileOperation::~CopyFileOperation() = default;

bool CopyFileOperation::Execute(Transaction* nested, std::string* error) {
  switch (Prepare(nested, error, destination_.DirName(), &destination_)) {
    case Preparation::kDone:
      break;
    case Preparation::kFolderFailed:
      AppendError(error, "Cannot create a folder to place the file in.");
      return false;
    case Preparation::kDeleteFailed:
      AppendError(error,
                  "Cannot delete the already existing file to make room for "
                  "the copied file.");
      return false;
  }

  VLOG(1) << "Copying " << source_.value() << " to " << destination_.value();
  if (!base::PathExists(source_)) {
    LOG(ERROR) << "The source file " << source_.value() << " does not exist.";
    AppendError(error, "The source file " + source_.AsUTF8Unsafe() +
                           " does not exist.");
    return false;
  }
  if (!ClearReadOnly(source_, &cleared_source_attributes_)) {
    LOG(ERROR) << "Couldn't clear RO attribute of " << source_.value();
    AppendError(error, "Could not clear the RO attribute of file");
  }

  bool failed = true;
  if (source_.ReferencesParent() || destination_.ReferencesParent()) {
    AppendError(error, "One of the paths references parent.");
  } else if (source_.value().size() >= MAX_PATH ||
             destination_.value().size() >= MAX_PATH) {
    AppendError(error, "One of the paths is too long.");
  } else if (!::CopyFileW(source_.value().c_str(), destination_.value().c_str(),
                          FALSE)) {
    AppendError(error, "Could not CopyFile because of an error: " +
                           FormatWin32Error(::GetLastError()));
  } else {
    const DWORD attributes = ::GetFileAttributesW(destination_.value().c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      AppendError(error,
                  "Could not get file attributes on destination because of "
                  "an error: " +
                      FormatWin32Error(::GetLastError()));
    } else {
      if (attributes & FILE_ATTRIBUTE_READONLY) {
        ::SetFileAttributesW(destination_.value().c_str(),
                             attributes & ~FILE_ATTRIBUTE_READONLY);
      }
      failed = false;
    }
  }
  if (failed) {
    LOG(ERROR) << "File copy failed " << (error ? *error : std::string());
    return false;
  }
  LOG(INFO) << "File copied successfully";
  copied_ = true;
  return true;
}

void CopyFileOperation::Rollback() {
  // Also after a failed copy: the attribute went before the copy did.
  RestoreAttributes(source_, &cleared_source_attributes_);
  if (!copied_)
    return;
  base::DeleteFile(destination_, false);
  copied_ = false;
}

// CreateFolderOperation ------------------------------------------------------

CreateFolderOperation::CreateFolderOperation(const base::FilePath& folder)
    : folder_(folder) {}

CreateFolderOperation::~CreateFolderOperation() = default;

bool CreateFolderOperation::Execute(Transaction* nested, std::string* error) {
  VLOG(1) << "Attempting to create folder " << folder_.value();
  if (base::DirectoryExists(folder_)) {
    VLOG(1) << "Folder already exists";
    return true;
  }
  base::FilePath current = folder_;
  for (;;) {
    const base::FilePath previous = current;
    current = previous.DirName();
    if (current == previous) {
      ReplaceError(error, "Failed folder creation: No valid ancestor found");
      LOG(ERROR) << "Failed folder creation";
      return false;
    }
    if (base::DirectoryExists(current))
      break;
  }
  VLOG(1) << "Valid ancestor";
  if (!base::CreateDirectory(folder_)) {
    const DWORD failure = ::GetLastError();
    // The upper levels may have been made before a lower one failed (a name
    // too long or invalid); nothing is recorded yet, so take them away here.
    // Every level below |current| was missing, and only empty folders go.
    for (base::FilePath level = folder_.DirName(); level != current;
         level = level.DirName()) {
      ::RemoveDirectoryW(level.value().c_str());
    }
    ReplaceError(error,
                 "Cannot create directory: " + FormatWin32Error(failure));
    return false;
  }
  existing_ancestor_ = current;
  LOG(INFO) << "Folder created successfully";
  return true;
}

void CreateFolderOperation::Rollback() {
  if (existing_ancestor_.empty())
    return;
  for (base::FilePath folder = folder_; folder != existing_ancestor_;
       folder = folder.DirName()) {
    if (!::RemoveDirectoryW(folder.value().c_str()))
      break;
  }
  existing_ancestor_.clear();
}

// DeleteFileOperation --------------------------------------------------------

DeleteFileOperation::DeleteFileOperation(const base::FilePath& path,
                                         bool check_in_use,
                                         bool remove_empty_parents,
                                         const base::FilePath& root)
    : path_(path),
      check_in_use_(check_in_use),
      remove_empty_parents_(remove_empty_parents),
      root_(root) {}

DeleteFileOperation::~DeleteFileOperation() {
  // A file that Execute could not put back is the only copy there is: it is
  // tried once more and never deleted.
  if (restore_pending_)
    RestoreMovedFile();
  if (!moved_)
    return;
  LOG(INFO) << "Actual removal of " << moved_path_.value();
  if (!base::DeleteFile(moved_path_, true))
    base::DeleteFileAfterReboot(moved_path_);
  if (remove_empty_parents_)
    RemoveEmptyFolders(path_.DirName(), root_);
}

bool DeleteFileOperation::MoveBack(const base::FilePath& from,
                                   const base::FilePath& to) {
  return base::MoveUnsafe(from, to);
}

void DeleteFileOperation::RestoreMovedFile() {
  // Whatever happens, the commit must not delete the file any more.
  moved_ = false;
  restore_pending_ = false;
  if (!MoveBack(moved_path_, path_)) {
    LOG(ERROR) << "Cannot move " << moved_path_.value() << " back to "
               << path_.value() << ": " << FormatWin32Error(::GetLastError())
               << "; the file stays under that name";
  }
}

// static
void DeleteFileOperation::SetClockForTesting(int64_t (*seconds_since_1970)()) {
  g_clock = seconds_since_1970 ? seconds_since_1970 : &SystemSecondsSince1970;
}

bool DeleteFileOperation::Execute(Transaction* nested, std::string* error) {
  VLOG(1) << "Preparing file " << path_.value() << " for removal";
  if (!base::PathExists(path_)) {
    VLOG(1) << "File does not exist. Nothing to do";
    return true;
  }
  // The same path can be moved aside twice within one second (a file copied
  // over twice in one run), so a taken name gets a counter; only when every
  // candidate is taken does the delete give up.
  const base::string16 stem =
      path_.value() + L"." + base::Int64ToString16(g_clock());
  moved_path_ = base::FilePath(stem + L".old");
  for (int n = 1; n < kMaxAsideNames && base::PathExists(moved_path_); ++n)
    moved_path_ =
        base::FilePath(stem + L"_" + base::IntToString16(n) + L".old");
  if (base::PathExists(moved_path_)) {
    LOG(ERROR) << "Temporary file with name " << moved_path_.value()
               << " already exists";
    ReplaceError(error, ".old file '" + moved_path_.AsUTF8Unsafe() +
                            "' already exists ");
    return false;
  }

  SecurityUtils* security = SecurityUtilsImpl::GetInstance();
  if (!security->HasAccess(path_.value(), SE_FILE_OBJECT, kDeleteAccess)) {
    // The grant stays even though this attempt fails: the step's retry is
    // what then succeeds.
    std::unique_ptr<SavedSecurityDescriptor> unused;
    if (!security->GrantAccess(path_.value(), SE_FILE_OBJECT, kDeleteAccess,
                               true, &unused)) {
      LOG(ERROR) << "Cannot obtain proper permissions on the file";
    }
    ReplaceError(error, "Cannot obtain proper permissions on the file");
    return false;
  }

  DWORD failure = ERROR_SUCCESS;
  bool failed = !MoveWithError(path_, moved_path_, &failure);
  if (!failed) {
    VLOG(1) << "File moved successfully to " << moved_path_.value();
    const base::FilePath::StringType extension = path_.FinalExtension();
    if (check_in_use_ &&
        (base::EqualsCaseInsensitiveASCII(extension, L".exe") ||
         base::EqualsCaseInsensitiveASCII(extension, L".dll"))) {
      HANDLE file = ::CreateFileW(moved_path_.value().c_str(), GENERIC_WRITE,
                                  FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file == INVALID_HANDLE_VALUE) {
        // The text reports why the file is busy, not how the move back went.
        failed = true;
        failure = ::GetLastError();
        LOG(ERROR) << "Attempt to open the file for writing failed: "
                   << FormatWin32Error(failure);
        // When the file cannot go back now, the operation keeps it on
        // record, so that the rollback that follows tries again and no
        // commit ever deletes it.
        if (!MoveBack(moved_path_, path_)) {
          LOG(ERROR) << "Cannot move " << moved_path_.value() << " back";
          restore_pending_ = true;
        }
      } else {
        ::CloseHandle(file);
      }
    }
  }
  if (failed) {
    LOG(ERROR) << "File removal failed";
    ReplaceError(error,
                 "Cannot move the file to .old: " + FormatWin32Error(failure));
    return false;
  }
  moved_ = true;
  return true;
}

void DeleteFileOperation::Rollback() {
  if (moved_ || restore_pending_)
    RestoreMovedFile();
}

// MoveFileOperation ----------------------------------------------------------

MoveFileOperation::MoveFileOperation(const base::FilePath& source,
                                     const base::FilePath& destination,
                                     const base::FilePath& root)
    : source_(source), destination_(destination), root_(root) {}

MoveFileOperation::~MoveFileOperation() {
  if (moved_)
    RemoveEmptyFolders(source_.DirName(), root_);
}

bool MoveFileOperation::Execute(Transaction* nested, std::string* error) {
  const bool same_file = base::FilePath::CompareIgnoreCase(
                             source_.value(), destination_.value()) == 0;
  switch (Prepare(nested, error, destination_.DirName(),
                  same_file ? nullptr : &destination_)) {
    case Preparation::kDone:
      break;
    case Preparation::kFolderFailed:
      AppendError(error, "\nCannot create folder for the moved file");
      return false;
    case Preparation::kDeleteFailed:
      AppendError(error,
                  "\nCannot delete the file that has the same name as the "
                  "move target");
      return false;
  }

  VLOG(1) << "Moving " << source_.value() << " to " << destination_.value();
  if (!ClearReadOnly(source_, &cleared_source_attributes_))
    LOG(ERROR) << "Couldn't clear RO attribute of " << source_.value();
  DWORD failure = ERROR_SUCCESS;
  if (!MoveWithError(source_, destination_, &failure)) {
    LOG(ERROR) << "File move failed";
    ReplaceError(error,
                 "Could not move the file: " + FormatWin32Error(failure));
    return false;
  }
  LOG(INFO) << "File moved successfully";
  moved_ = true;
  return true;
}

void MoveFileOperation::Rollback() {
  if (moved_) {
    moved_ = false;
    if (!base::MoveUnsafe(destination_, source_)) {
      LOG(ERROR) << "Cannot move " << destination_.value() << " back";
      // The attributes belong to the file, wherever it is now.
      RestoreAttributes(destination_, &cleared_source_attributes_);
      return;
    }
    LOG(INFO) << "File move rolled back successfully";
  }
  RestoreAttributes(source_, &cleared_source_attributes_);
}

// UnpackArchiveOperation -----------------------------------------------------

UnpackArchiveOperation::UnpackArchiveOperation(
    const base::FilePath& archive,
    const base::FilePath& destination,
    LzmaUtil* reader,
    UnpackProgressObserver* observer)
    : archive_(archive),
      destination_(destination),
      reader_(reader),
      observer_(observer) {}

UnpackArchiveOperation::~UnpackArchiveOperation() = default;

bool UnpackArchiveOperation::Execute(Transaction* nested, std::string* error) {
  // The reader creates the destination itself (and lists it); only the
  // folders above it are prepared here.
  if (!base::DirectoryExists(destination_) &&
      !ExecuteOperation(
          nested,
          std::make_unique<CreateFolderOperation>(destination_.DirName()),
          error)) {
    AppendError(error, "\nCannot create a folder to place the files in.");
    return false;
  }

  VLOG(1) << "Unpacking " << archive_.value() << " to " << destination_.value();
  if (!base::PathExists(archive_)) {
    LOG(ERROR) << "The archive " << archive_.value() << " does not exist.";
    ReplaceError(error,
                 "The archive " + archive_.AsUTF8Unsafe() + " does not exist.");
    return false;
  }
  const int result = reader_->Open(archive_);
  if (result != 0) {
    ReplaceError(error,
                 "Could not open the archive: " + base::IntToString(result));
    LOG(ERROR) << "Could not open the archive";
    return false;
  }
  // The archive is closed as soon as it has been read: left open, it would
  // stay locked against deletion for as long as the backend runs, through
  // the whole hand-over to the package's installer.
  const bool unpacked = UnpackOpenArchive(nested, error);
  reader_->Close();
  reader_ = nullptr;
  return unpacked;
}

bool UnpackArchiveOperation::UnpackOpenArchive(Transaction* nested,
                                               std::string* error) {
  // The reader writes every entry where its name points, over whatever is
  // there. So the names are checked before anything is written: an archive
  // made to write outside the folder it is unpacked into (an entry with
  // "..", a drive or a root) is refused as a whole, and a file in the folder
  // that an entry is about to replace is first moved aside, so that a
  // rollback can put it back.
  std::vector<base::string16> entries;
  int result = reader_->ListEntries(&entries);
  if (result != 0) {
    ReplaceError(error, "Could not read the archive's entries: " +
                            base::IntToString(result));
    LOG(ERROR) << "Could not read the archive's entries";
    return false;
  }
  for (const base::string16& entry : entries) {
    base::FilePath relative;
    if (!MakeSafeEntryPath(entry, &relative)) {
      LOG(ERROR) << "Archive entry outside the destination: "
                 << PrintableEntry(entry);
      ReplaceError(error, "Archive entry outside the destination folder: " +
                              base::FilePath(entry).AsUTF8Unsafe());
      return false;
    }
    const base::FilePath path = destination_.Append(relative);
    if (base::PathExists(path) && !base::DirectoryExists(path) &&
        !ExecuteOperation(
            nested, std::make_unique<DeleteFileOperation>(path, false, false),
            error)) {
      AppendError(error,
                  "\nCannot move aside the file an archive entry replaces");
      return false;
    }
  }

  result = reader_->Extract(destination_, std::set<base::FilePath>(), observer_,
                            &extracted_files_, &created_folders_);
  // A reader that writes where its list did not say is caught here: the
  // archive is refused as a whole, and what it wrote inside the folder is
  // taken away again.
  for (const auto& list : {std::make_pair(&extracted_files_, false),
                           std::make_pair(&created_folders_, true)}) {
    for (const base::FilePath& path : *list.first) {
      if (IsInsideFolder(destination_, path, list.second))
        continue;
      LOG(ERROR) << "Archive entry outside the destination: " << path.value();
      ReplaceError(error, "Archive entry outside the destination folder: " +
                              path.AsUTF8Unsafe());
      unpacked_ = !extracted_files_.empty() || !created_folders_.empty();
      return false;
    }
  }
  if (result != 0) {
    ReplaceError(error,
                 "Could not lzma unpack, error code: " +
                     base::IntToString(result) +
                     UnpackFailureDetail(result, destination_));
    LOG(ERROR) << "Could not unpack";
    // What was written before the failure must still go on rollback.
    unpacked_ = !extracted_files_.empty() || !created_folders_.empty();
    return false;
  }
  unpacked_ = true;
  for (const base::FilePath& file : extracted_files_) {
    if (!ClearReadOnly(file))
      LOG(ERROR) << "Couldn't clear RO attribute of " << file.value();
  }
  LOG(INFO) << "Archive unpacked successfully";
  return true;
}

void UnpackArchiveOperation::Rollback() {
  if (!unpacked_)
    return;
  unpacked_ = false;
  // A path outside the destination that the reader reports as written may
  // have been a file of its own before (only overwritten): deleting it would
  // take away the last of it.
  for (const base::FilePath& file : extracted_files_) {
    if (IsInsideFolder(destination_, file, false))
      base::DeleteFile(file, false);
    else
      LOG(ERROR) << "Leaving " << file.value() << ", outside the destination";
  }
  // Each created folder goes with its emptied parents, but the climb never
  // leaves the destination: folders above it, and the destination itself
  // unless the reader made it, may have been there (empty) before the run.
  // What the nested create-folder operation made is its own rollback's job.
  const base::FilePath top = destination_.StripTrailingSeparators();
  const bool made_destination =
      std::find(created_folders_.begin(), created_folders_.end(), top) !=
      created_folders_.end();
  for (const base::FilePath& created : created_folders_) {
    if (!IsInsideFolder(destination_, created, true) ||
        !::RemoveDirectoryW(created.value().c_str())) {
      continue;
    }
    for (base::FilePath folder = created.DirName();
         top.IsParent(folder) || (made_destination && folder == top);
         folder = folder.DirName()) {
      if (!::RemoveDirectoryW(folder.value().c_str()))
        break;
    }
  }
}

}  // namespace installer
