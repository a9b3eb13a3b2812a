#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_VERSION_CHECKER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_VERSION_CHECKER_H_

#include <string>

#include "base/files/file_path.h"

namespace installer {

// Refuses a package or component older than this installer or of another
// stream. Failures set the thread's error record (code 1).
class PackageVersionChecker {
 public:
  virtual ~PackageVersionChecker() = default;

  // The package "kavor_package" in |folder|; |version| and |stream| get
  // what it says of itself (empty when unknown).
  virtual bool CheckMainPackage(const base::FilePath& folder,
                                std::string* version,
                                std::string* stream) = 0;
  // The unpacked component's "<kind name>_installer.exe" in |folder|.
  virtual bool CheckAdditionalFile(const base::FilePath& folder,
                                   const std::string& kind_name) = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_VERSION_CHECKER_H_
