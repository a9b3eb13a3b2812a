#ifndef BASE_FILES_SCOPED_TEMP_DIR_H_
#define BASE_FILES_SCOPED_TEMP_DIR_H_

#include "base/files/file_path.h"

namespace base {

// A folder that is deleted, with its contents, when this object goes away.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();

  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  // A new uniquely named folder inside the user's temporary folder.
  [[nodiscard]] bool CreateUniqueTempDir();
  // The same inside |base_path|, which is created when missing.
  [[nodiscard]] bool CreateUniqueTempDirUnderPath(const FilePath& base_path);
  // Takes over |path|, creating it when missing.
  [[nodiscard]] bool Set(const FilePath& path);

  // Deletes the folder now; false when that failed (the path is kept).
  bool Delete();
  // Gives up ownership without deleting.
  FilePath Take();

  const FilePath& GetPath() const { return path_; }
  bool IsValid() const { return !path_.empty(); }

 private:
  FilePath path_;
};

}  // namespace base

#endif  // BASE_FILES_SCOPED_TEMP_DIR_H_
