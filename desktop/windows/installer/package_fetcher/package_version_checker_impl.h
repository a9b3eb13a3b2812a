#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_VERSION_CHECKER_IMPL_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_VERSION_CHECKER_IMPL_H_

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "desktop/windows/installer/package_fetcher/package_version_checker.h"

namespace installer {

class FileVersionUtils;
class LzmaUtil;
class UnpackProgressObserver;

// Compares the internal version (the full version without its first two
// components) of what was fetched with this installer's own, and the
// stream with this build's channel. A package reads its version from its
// version resource; an old package, which has none, is judged by its
// installer.exe, unpacked and asked. The version reported and written is
// the full version.
class PackageVersionCheckerImpl : public PackageVersionChecker {
 public:
  // |unpack_observer| (may be null) hears how the unpacking of an old
  // package's installer advances; it must outlive the checker's checks
  // (the fetcher's delegate proxy, which the sequencer owning the checker
  // holds).
  PackageVersionCheckerImpl(
      std::unique_ptr<FileVersionUtils> file_version_utils,
      std::unique_ptr<LzmaUtil> lzma,
      UnpackProgressObserver* unpack_observer = nullptr);
  ~PackageVersionCheckerImpl() override;

  bool CheckMainPackage(const base::FilePath& folder,
                        std::string* version,
                        std::string* stream) override;
  bool CheckAdditionalFile(const base::FilePath& folder,
                           const std::string& kind_name) override;

 private:
  enum CompareResult {
    NO_VERSION_DATA = 0,
    REFUSED = 1,
    ACCEPTED = 2,
  };

  // |legacy| runs |file| to ask it, otherwise its version resource is
  // read. |stream| may be null: then the stream is not compared.
  CompareResult Compare(const base::FilePath& file,
                        bool legacy,
                        std::string* version,
                        std::string* stream);
  // The road of a package without version information.
  bool CheckLegacyPackage(const base::FilePath& folder,
                          std::string* version,
                          std::string* stream);

  std::unique_ptr<FileVersionUtils> file_version_utils_;
  std::unique_ptr<LzmaUtil> lzma_;
  UnpackProgressObserver* const unpack_observer_;

  DISALLOW_COPY_AND_ASSIGN(PackageVersionCheckerImpl);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_VERSION_CHECKER_IMPL_H_
