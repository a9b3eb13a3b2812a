#include "base/files/file_util.h"

#include <share.h>
#include <shlobj.h>
#include <stdlib.h>
#include <windows.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/guid.h"
#include "base/logging.h"
#include "base/memory/allocation_probe.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/scoped_blocking_call.h"
#include "base/win/scoped_handle.h"

namespace base {

namespace {

constexpr size_t kReadBufferSize = 65536;
constexpr int kMaxTemporaryFileAttempts = 100;

bool IsTooLong(const FilePath& path) {
  return path.value().length() >= kMaxPathLength;
}

// Removes a link or junction itself. Its target lies outside the tree being
// deleted and must never be descended into.
bool DeleteReparsePoint(const FilePath& path, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_DIRECTORY)
    return !!::RemoveDirectoryW(path.value().c_str());
  return !!::DeleteFileW(path.value().c_str());
}

// Deletes the entries of |path| that match |pattern|; with |recursive| the
// matching subfolders are emptied (by the same pattern) and removed too. The
// walk goes on past failures; the result is false when anything failed.
bool DeleteFileRecursive(const FilePath& path,
                         const FilePath::StringType& pattern,
                         bool recursive) {
  FileEnumerator traversal(path, false,
                           FileEnumerator::FILES | FileEnumerator::DIRECTORIES,
                           pattern);
  bool success = true;
  for (FilePath current = traversal.Next(); !current.empty();
       current = traversal.Next()) {
    const FileEnumerator::FileInfo info = traversal.GetInfo();
    const DWORD attributes = info.find_data().dwFileAttributes;
    const bool is_directory = info.IsDirectory();

    if ((attributes & FILE_ATTRIBUTE_READONLY) &&
        (recursive || !is_directory)) {
      ::SetFileAttributesW(current.value().c_str(),
                           attributes & ~FILE_ATTRIBUTE_READONLY);
    }

    if (!is_directory) {
      if (!::DeleteFileW(current.value().c_str()))
        success = false;
      continue;
    }
    if (!recursive)
      continue;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      if (!DeleteReparsePoint(current, attributes))
        success = false;
      continue;
    }
    if (!DeleteFileRecursive(current, pattern, true))
      success = false;
    if (!::RemoveDirectoryW(current.value().c_str()))
      success = false;
  }
  return success;
}

// Case-insensitive, as the file system compares names: whether |parent|
// is |child| itself or one of its ancestors.
bool IsSameOrParentIgnoringCase(const FilePath& parent, const FilePath& child) {
  std::vector<FilePath::StringType> parent_components;
  std::vector<FilePath::StringType> child_components;
  parent.GetComponents(&parent_components);
  child.GetComponents(&child_components);
  if (parent_components.empty() ||
      parent_components.size() > child_components.size()) {
    return false;
  }
  for (size_t i = 0; i < parent_components.size(); ++i) {
    if (FilePath::CompareIgnoreCase(parent_components[i],
                                    child_components[i]) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

namespace internal {

std::wstring MakeNonInheritableFileMode(const char* mode) {
  std::wstring result;
  for (const char* p = mode; *p; ++p)
    result.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
  const size_t comma = result.find(L',');
  if (comma == std::wstring::npos)
    result.push_back(L'N');
  else
    result.insert(comma, 1, L'N');
  return result;
}

}  // namespace internal

FilePath MakeAbsoluteFilePath(const FilePath& input) {
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  wchar_t file_path[MAX_PATH];
  if (!_wfullpath(file_path, input.value().c_str(), MAX_PATH))
    return FilePath();
  return FilePath(file_path);
}

bool PathExists(const FilePath& path) {
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  return ::GetFileAttributesW(path.value().c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool DirectoryExists(const FilePath& path) {
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  const DWORD attributes = ::GetFileAttributesW(path.value().c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool PathIsWritable(const FilePath& path) {
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  win::ScopedHandle handle(::CreateFileW(
      path.value().c_str(), FILE_ADD_FILE,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return handle.IsValid();
}

bool DeleteFile(const FilePath& path, bool recursive) {
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);

  if (path.empty())
    return true;
  if (IsTooLong(path))
    return false;

  const FilePath::StringType base_name = path.BaseName().value();
  if (base_name.find_first_of(L"*?") != FilePath::StringType::npos)
    return DeleteFileRecursive(path.DirName(), base_name, recursive);

  DWORD attributes = ::GetFileAttributesW(path.value().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return true;

  if (attributes & FILE_ATTRIBUTE_READONLY) {
    attributes &= ~FILE_ATTRIBUTE_READONLY;
    if (!::SetFileAttributesW(path.value().c_str(), attributes))
      return false;
  }

  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
    return DeleteReparsePoint(path, attributes);

  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return !!::DeleteFileW(path.value().c_str());

  if (recursive && !DeleteFileRecursive(path, L"*", true))
    return false;
  return !!::RemoveDirectoryW(path.value().c_str());
}

bool DeleteFileAfterReboot(const FilePath& path) {
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  if (IsTooLong(path))
    return false;
  return !!::MoveFileExW(
      path.value().c_str(), nullptr,
      MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING);
}

bool ReplaceFile(const FilePath& from_path,
                 const FilePath& to_path,
                 File::Error* error) {
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  // The plain move works only when the target does not exist, the replace
  // only when it does.
  if (::MoveFileW(from_path.value().c_str(), to_path.value().c_str()))
    return true;
  const File::Error move_error = File::GetLastFileError();

  if (::ReplaceFileW(to_path.value().c_str(), from_path.value().c_str(),
                     nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                     nullptr)) {
    return true;
  }
  if (error) {
    const File::Error replace_error = File::GetLastFileError();
    // A missing target says nothing the move did not say better.
    *error = replace_error == File::FILE_ERROR_NOT_FOUND ? move_error
                                                         : replace_error;
  }
  return false;
}

bool CopyFile(const FilePath& from_path, const FilePath& to_path) {
  return DoCopyFile(from_path, to_path, false);
}

bool DoCopyFile(const FilePath& from_path,
                const FilePath& to_path,
                bool fail_if_exists) {
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  if (from_path.ReferencesParent() || to_path.ReferencesParent())
    return false;
  if (IsTooLong(from_path) || IsTooLong(to_path))
    return false;

  if (!::CopyFileW(from_path.value().c_str(), to_path.value().c_str(),
                   fail_if_exists)) {
    return false;
  }

  // A copy of a read-only file must stay writable for its new owner.
  const DWORD attributes = ::GetFileAttributesW(to_path.value().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return false;
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    ::SetFileAttributesW(to_path.value().c_str(),
                         attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  return true;
}

bool DoCopyDirectory(const FilePath& from_path,
                     const FilePath& to_path,
                     bool recursive,
                     bool fail_if_exists) {
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  if (IsTooLong(from_path) || IsTooLong(to_path))
    return false;

  const FilePath real_to =
      MakeAbsoluteFilePath(PathExists(to_path) ? to_path : to_path.DirName());
  if (real_to.empty())
    return false;
  const FilePath real_from = MakeAbsoluteFilePath(from_path);
  if (real_from.empty())
    return false;
  // Names differing only in case are the same folder, so the check must
  // ignore case or a tree could be copied into itself until the path limit.
  if (IsSameOrParentIgnoringCase(real_from, real_to))
    return false;

  int traverse_type = FileEnumerator::FILES;
  if (recursive)
    traverse_type |= FileEnumerator::DIRECTORIES;
  FileEnumerator traversal(from_path, recursive, traverse_type);

  if (!PathExists(from_path))
    return false;

  bool from_is_dir = DirectoryExists(from_path);
  FilePath from_path_base = from_path;
  if (recursive && DirectoryExists(to_path)) {
    // The source's top folder goes into |to_path| as a subfolder.
    from_path_base = from_path.DirName();
  }

  bool success = true;
  FilePath current = from_path;
  while (success && !current.empty()) {
    FilePath target_path = to_path;
    if (current != from_path_base &&
        !from_path_base.AppendRelativePath(current, &target_path)) {
      success = false;
      break;
    }

    if (from_is_dir) {
      if (!DirectoryExists(target_path) &&
          !::CreateDirectoryW(target_path.value().c_str(), nullptr)) {
        success = false;
      }
    } else if (!DoCopyFile(current, target_path, fail_if_exists)) {
      success = false;
    }

    current = traversal.Next();
    if (!current.empty())
      from_is_dir = traversal.GetInfo().IsDirectory();
  }
  return success;
}

bool Move(const FilePath& from_path, const FilePath& to_path) {
  if (from_path.ReferencesParent() || to_path.ReferencesParent())
    return false;
  return MoveUnsafe(from_path, to_path);
}

bool MoveUnsafe(const FilePath& from_path, const FilePath& to_path) {
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  if (IsTooLong(from_path) || IsTooLong(to_path))
    return false;

  if (::MoveFileExW(from_path.value().c_str(), to_path.value().c_str(),
                    MOVEFILE_COPY_ALLOWED | MOVEFILE_REPLACE_EXISTING)) {
    return true;
  }

  // Callers report the move's own error, whatever the fallback does.
  const DWORD last_error = ::GetLastError();
  if (DirectoryExists(from_path)) {
    // A folder cannot be moved to another volume; copy and delete instead.
    if (DoCopyDirectory(from_path, to_path, true, false) &&
        DeleteFile(from_path, true)) {
      return true;
    }
  }
  ::SetLastError(last_error);
  return false;
}

bool CreateDirectoryAndGetError(const FilePath& full_path, File::Error* error) {
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);

  const DWORD attributes = ::GetFileAttributesW(full_path.value().c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
      return true;
    if (error)
      *error = File::FILE_ERROR_NOT_A_DIRECTORY;
    return false;
  }

  const FilePath parent_path = full_path.DirName();
  if (parent_path.value() == full_path.value()) {
    // A root that does not exist, such as a missing drive.
    if (error)
      *error = File::FILE_ERROR_NOT_FOUND;
    return false;
  }
  if (!CreateDirectoryAndGetError(parent_path, error))
    return false;

  if (::CreateDirectoryW(full_path.value().c_str(), nullptr))
    return true;

  const DWORD last_error = ::GetLastError();
  if (last_error == ERROR_ALREADY_EXISTS && DirectoryExists(full_path)) {
    // Another creator won the race; the folder is there all the same.
    return true;
  }
  if (error)
    *error = File::OSErrorToFileError(last_error);
  ::SetLastError(last_error);
  return false;
}

bool CreateDirectory(const FilePath& full_path) {
  return CreateDirectoryAndGetError(full_path, nullptr);
}

bool GetTempDir(FilePath* path) {
  wchar_t temp_path[MAX_PATH + 1];
  const DWORD path_len = ::GetTempPathW(MAX_PATH, temp_path);
  if (path_len >= MAX_PATH || path_len <= 0)
    return false;
  *path = FilePath(temp_path).StripTrailingSeparators();
  return true;
}

namespace internal {

FilePath ChooseHomeDir(const FilePath& profile, const FilePath& temp) {
  if (!profile.empty())
    return profile;
  if (!temp.empty())
    return temp;
  return FilePath(L"C:\\");
}

}  // namespace internal

FilePath GetHomeDir() {
  FilePath profile;
  wchar_t result[MAX_PATH];
  if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr,
                                   SHGFP_TYPE_CURRENT, result)) &&
      result[0]) {
    profile = FilePath(result);
  }
  FilePath temp;
  // The temporary folder is asked for only when needed.
  if (profile.empty() && !GetTempDir(&temp))
    temp.clear();
  return internal::ChooseHomeDir(profile, temp);
}

bool CreateTemporaryFileInDir(const FilePath& dir, FilePath* temp_file) {
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);

  FilePath temp_name;
  bool created = false;
  for (int i = 0; i < kMaxTemporaryFileAttempts; ++i) {
    temp_name =
        dir.Append(ASCIIToWide(GenerateGUID()) + FilePath::StringType(L".tmp"));
    File file(temp_name,
              File::FLAG_CREATE | File::FLAG_READ | File::FLAG_WRITE);
    if (file.IsValid()) {
      file.Close();
      created = true;
      break;
    }
  }
  if (!created)
    return false;

  wchar_t long_temp_name[MAX_PATH + 1];
  const DWORD long_name_len =
      ::GetLongPathNameW(temp_name.value().c_str(), long_temp_name, MAX_PATH);
  if (long_name_len != 0 && long_name_len <= MAX_PATH)
    *temp_file = FilePath(FilePath::StringType(long_temp_name, long_name_len));
  else
    *temp_file = temp_name;
  return true;
}

bool GetCurrentDirectory(FilePath* dir) {
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  wchar_t system_buffer[MAX_PATH];
  system_buffer[0] = 0;
  const DWORD len = ::GetCurrentDirectoryW(MAX_PATH, system_buffer);
  if (len == 0 || len > MAX_PATH)
    return false;
  *dir = FilePath(FilePath::StringType(system_buffer, len))
             .StripTrailingSeparators();
  return true;
}

bool SetCurrentDirectory(const FilePath& directory) {
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  return !!::SetCurrentDirectoryW(directory.value().c_str());
}

FILE* OpenFile(const FilePath& filename, const char* mode) {
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  const std::wstring w_mode = internal::MakeNonInheritableFileMode(mode);
  return _wfsopen(filename.value().c_str(), w_mode.c_str(), _SH_DENYNO);
}

bool CloseFile(FILE* file) {
  if (!file)
    return true;
  return fclose(file) == 0;
}

bool ReadFileToStringWithMaxSize(const FilePath& path,
                                 std::string* contents,
                                 size_t max_size) {
  if (contents)
    contents->clear();
  if (path.ReferencesParent())
    return false;
  FILE* file = OpenFile(path, "rb");
  if (!file)
    return false;

  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  std::unique_ptr<char[]> buffer(new char[kReadBufferSize]);
  size_t size = 0;
  bool read_status = true;
  size_t len;
  // Read to the end rather than size the file first: the size of some files
  // is not known in advance, and it may change while reading.
  while ((len = fread(buffer.get(), 1, kReadBufferSize, file)) > 0) {
    if (contents) {
      const size_t take = std::min(len, max_size - size);
      // The file decides how much is held; growth the heap cannot give fails
      // the read instead of the process. Growing by doubling, as the string
      // would, keeps the number of copies small.
      if (contents->size() + take > contents->capacity()) {
        const size_t wanted =
            std::max(contents->size() + take, 2 * contents->capacity());
        if (!CanAllocate(wanted + 1)) {
          read_status = false;
          ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
          break;
        }
        contents->reserve(wanted);
      }
      contents->append(buffer.get(), take);
    }
    if (max_size - size < len) {
      read_status = false;
      break;
    }
    size += len;
  }
  read_status = read_status && !ferror(file);

  // Callers classify a failed read by the last error; closing must not
  // replace it.
  const DWORD last_error = ::GetLastError();
  CloseFile(file);
  ::SetLastError(last_error);
  return read_status;
}

bool ReadFileToString(const FilePath& path, std::string* contents) {
  return ReadFileToStringWithMaxSize(path, contents,
                                     std::numeric_limits<size_t>::max());
}

int WriteFile(const FilePath& filename, const char* data, int size) {
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  // A negative size would reach the system as a length of almost 4 GiB and
  // read far past the caller's buffer; refuse it before the file is touched.
  if (size < 0)
    return -1;
  win::ScopedHandle file(::CreateFileW(filename.value().c_str(), GENERIC_WRITE,
                                       0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid())
    return -1;

  DWORD written = 0;
  const BOOL result = ::WriteFile(file.Get(), data, static_cast<DWORD>(size),
                                  &written, nullptr);
  const DWORD last_error = ::GetLastError();
  file.Close();
  ::SetLastError(last_error);
  if (result && static_cast<int>(written) == size)
    return size;
  return -1;
}

bool AppendToFile(const FilePath& filename, const char* data, int size) {
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);
  if (size < 0)
    return false;
  win::ScopedHandle file(::CreateFileW(filename.value().c_str(),
                                       FILE_APPEND_DATA, 0, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
  if (!file.IsValid()) {
    VPLOG(1) << "CreateFile failed for path " << filename.AsUTF8Unsafe();
    return false;
  }

  DWORD written = 0;
  const BOOL result = ::WriteFile(file.Get(), data, static_cast<DWORD>(size),
                                  &written, nullptr);
  if (result && static_cast<int>(written) == size)
    return true;

  if (!result) {
    VPLOG(1) << "Writing file " << filename.AsUTF8Unsafe() << " failed";
  } else {
    VPLOG(1) << "Only wrote " << written << " out of " << size << " byte(s) to "
             << filename.AsUTF8Unsafe();
  }
  return false;
}

}  // namespace base
