#ifndef DESKTOP_WINDOWS_INSTALLER_LZMA_UTIL_LZMA_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_LZMA_UTIL_LZMA_UTIL_H_

#include <stddef.h>

#include <memory>
#include <set>
#include <vector>

#include "base/files/file_path.h"
#include "base/strings/string16.h"

namespace installer {

// Told how an extraction advances; the package unpacker turns this into
// install steps.
class LzmaUtilObserver {
 public:
  virtual ~LzmaUtilObserver() = default;

  // How many files the extraction is going to write.
  virtual void OnFileCount(size_t count) = 0;
  // One more file was written; |count| files are done so far.
  virtual void OnFileUnpacked(size_t count) = 0;
};

// Reader of 7z archives.
class LzmaUtil {
 public:
  enum OpenResult {
    OPEN_SUCCESS = 0,
    OPEN_FILE_NOT_FOUND = 1,
    OPEN_ERROR = 2,
  };

  virtual ~LzmaUtil() = default;

  // One of OpenResult.
  virtual int Open(const base::FilePath& archive) = 0;

  // The names of the open archive's entries as the archive holds them,
  // relative to the folder they are extracted into (a folder entry may end
  // with a separator). Returns 0 on success, else an error code; Extract
  // may follow either way. The unpack operation checks these names before
  // letting Extract write anything.
  virtual int ListEntries(std::vector<base::string16>* names) = 0;

  // Writes the entries named in |entries| (every entry when it is empty)
  // below |destination|. Returns 0 on success, else an error code. Also when
  // it stops early, |extracted_files| and |created_folders| name every file
  // it wrote and every folder it created (|destination| too, when it had to
  // make it), so that the caller can take them away again. |observer| may be
  // null.
  virtual int Extract(const base::FilePath& destination,
                      const std::set<base::string16>& entries,
                      LzmaUtilObserver* observer,
                      std::vector<base::FilePath>* extracted_files,
                      std::vector<base::FilePath>* created_folders) = 0;

  virtual void Close() = 0;
};

// The reader of this build.
std::unique_ptr<LzmaUtil> CreateLzmaUtil();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_LZMA_UTIL_LZMA_UTIL_H_
