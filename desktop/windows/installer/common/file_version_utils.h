#ifndef DESKTOP_WINDOWS_INSTALLER_COMMON_FILE_VERSION_UTILS_H_
#define DESKTOP_WINDOWS_INSTALLER_COMMON_FILE_VERSION_UTILS_H_

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/version.h"

namespace installer {

class ProcessRunner;

// The version of a package before it is installed: from the version
// resource of an executable, or from what the executable prints. Failures
// fill the thread's last-error record (code 1).
class FileVersionUtils {
 public:
  virtual ~FileVersionUtils() = default;

  // The product version of |path| with the continuous build number, when
  // the file has one, as a further component. |stream| may be null.
  virtual bool GetPackageFileVersion(const base::FilePath& path,
                                     base::Version* full_version,
                                     base::Version* internal_version,
                                     std::string* stream) = 0;
  // Runs |exe| with `version` (and `stream` when |stream| is not null) and
  // reads what it prints.
  virtual bool GetVersionFromExe(const base::FilePath& exe,
                                 base::Version* full_version,
                                 base::Version* internal_version,
                                 std::string* stream) = 0;
};

class FileVersionUtilsImpl : public FileVersionUtils {
 public:
  explicit FileVersionUtilsImpl(std::unique_ptr<ProcessRunner> runner);
  ~FileVersionUtilsImpl() override;

  bool GetPackageFileVersion(const base::FilePath& path,
                             base::Version* full_version,
                             base::Version* internal_version,
                             std::string* stream) override;
  bool GetVersionFromExe(const base::FilePath& exe,
                         base::Version* full_version,
                         base::Version* internal_version,
                         std::string* stream) override;

 private:
  std::unique_ptr<ProcessRunner> runner_;

  DISALLOW_COPY_AND_ASSIGN(FileVersionUtilsImpl);
};

// The full version without its first two components; only four and five
// component versions have one (47.0.4127.0 gives 4127.0).
bool GetInternalVersion(const base::Version& full_version,
                        base::Version* internal_version);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_COMMON_FILE_VERSION_UTILS_H_
