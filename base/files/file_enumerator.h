#ifndef BASE_FILES_FILE_ENUMERATOR_H_
#define BASE_FILES_FILE_ENUMERATOR_H_

#include <stdint.h>
#include <windows.h>

#include <stack>
#include <string>

#include "base/files/file_path.h"
#include "base/time/time.h"
#include "base/win/scoped_generic.h"

namespace base {

// Walks the entries of a folder, optionally of its subtree, one path at a
// time. The pattern filters only the root's listing; subfolders entered
// from there are listed whole. Folders come before their contents, and
// links and junctions are returned but never entered.
class FileEnumerator {
 public:
  class FileInfo {
   public:
    FileInfo();
    ~FileInfo();

    bool IsDirectory() const;
    // The name only, without the folder.
    FilePath GetName() const;
    int64_t GetSize() const;
    Time GetLastModifiedTime() const;
    const WIN32_FIND_DATAW& find_data() const { return find_data_; }

   private:
    friend class FileEnumerator;
    WIN32_FIND_DATAW find_data_;
  };

  enum FileType {
    FILES = 1 << 0,
    DIRECTORIES = 1 << 1,
  };

  // Nothing touches the file system before the first Next().
  FileEnumerator(const FilePath& root_path, bool recursive, int file_type);
  FileEnumerator(const FilePath& root_path,
                 bool recursive,
                 int file_type,
                 const FilePath::StringType& pattern);
  ~FileEnumerator();

  FileEnumerator(const FileEnumerator&) = delete;
  FileEnumerator& operator=(const FileEnumerator&) = delete;

  // The next entry's full path, or an empty path when the walk is over.
  FilePath Next();

  // The entry last returned by Next(); all zero when there is none.
  FileInfo GetInfo() const;

 private:
  bool has_find_data_;
  WIN32_FIND_DATAW find_data_;
  win::ScopedFindHandle find_handle_;
  FilePath root_path_;
  const bool recursive_;
  const int file_type_;
  FilePath::StringType pattern_;
  std::stack<FilePath> pending_paths_;
};

}  // namespace base

#endif  // BASE_FILES_FILE_ENUMERATOR_H_
