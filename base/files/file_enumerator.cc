#include "base/files/file_enumerator.h"

#include <string.h>

#include "base/threading/scoped_blocking_call.h"

namespace base {

FileEnumerator::FileInfo::FileInfo() {
  memset(&find_data_, 0, sizeof(find_data_));
}

FileEnumerator::FileInfo::~FileInfo() = default;

bool FileEnumerator::FileInfo::IsDirectory() const {
  return (find_data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

FilePath FileEnumerator::FileInfo::GetName() const {
  return FilePath(find_data_.cFileName);
}

int64_t FileEnumerator::FileInfo::GetSize() const {
  ULARGE_INTEGER size;
  size.HighPart = find_data_.nFileSizeHigh;
  size.LowPart = find_data_.nFileSizeLow;
  return static_cast<int64_t>(size.QuadPart);
}

Time FileEnumerator::FileInfo::GetLastModifiedTime() const {
  return Time::FromFileTime(find_data_.ftLastWriteTime);
}

FileEnumerator::FileEnumerator(const FilePath& root_path,
                               bool recursive,
                               int file_type)
    : FileEnumerator(root_path, recursive, file_type, FilePath::StringType()) {}

FileEnumerator::FileEnumerator(const FilePath& root_path,
                               bool recursive,
                               int file_type,
                               const FilePath::StringType& pattern)
    : has_find_data_(false),
      recursive_(recursive),
      file_type_(file_type),
      pattern_(pattern.empty() ? FilePath::StringType(L"*") : pattern) {
  memset(&find_data_, 0, sizeof(find_data_));
  pending_paths_.push(root_path);
}

FileEnumerator::~FileEnumerator() = default;

FileEnumerator::FileInfo FileEnumerator::GetInfo() const {
  FileInfo ret;
  if (has_find_data_)
    memcpy(&ret.find_data_, &find_data_, sizeof(find_data_));
  return ret;
}

FilePath FileEnumerator::Next() {
  ScopedBlockingCall scoped_blocking_call(BlockingType::MAY_BLOCK);

  while (has_find_data_ || !pending_paths_.empty()) {
    if (!has_find_data_) {
      root_path_ = pending_paths_.top();
      pending_paths_.pop();
      const FilePath src = root_path_.Append(pattern_);
      find_handle_.reset(::FindFirstFileExW(
          src.value().c_str(), FindExInfoBasic, &find_data_,
          FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
      has_find_data_ = true;
    } else if (!::FindNextFileW(find_handle_.get(), &find_data_)) {
      find_handle_.reset();
    }

    if (!find_handle_.is_valid()) {
      has_find_data_ = false;
      // The pattern applies to the root only; subfolders are listed whole.
      pattern_ = L"*";
      continue;
    }

    const wchar_t* name = find_data_.cFileName;
    if (wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0)
      continue;

    const FilePath cur_file = root_path_.Append(name);
    const bool is_directory =
        (find_data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (is_directory && recursive_) {
      // A failed read gives all ones, reparse bit included, so an
      // unreadable folder is not entered either.
      const DWORD attributes = ::GetFileAttributesW(cur_file.value().c_str());
      if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        pending_paths_.push(cur_file);
    }
    if (file_type_ & (is_directory ? DIRECTORIES : FILES))
      return cur_file;
  }
  return FilePath();
}

}  // namespace base
