#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_H_

#include <stddef.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "desktop/windows/installer/lzma_util/lzma_util.h"

namespace base {
class CommandLine;
}

namespace installer {

class FileVersionUtils;
class InstallerStepContext;
class InterprocessState;
class TransactionOperation;

// Hears how the unpacking of a package advances (the backend Installer,
// which passes it on to the front end as steps).
class PackageUnpackerDelegate {
 public:
  virtual ~PackageUnpackerDelegate() = default;
  // Asked between two files: true ends the unpacking as a failure.
  virtual bool ShouldStopUnpacking() { return false; }
  virtual void OnTotalSteps(int count) = 0;
  virtual void OnStepFinished(const std::string& name, int count) = 0;
};

// Puts the browser files of a package into a new versioned subfolder of the
// install folder: from the 7z archive "kavor_package", or, when the
// installer runs inside an unpacked package, by copying the files that the
// package's lists name. Everything goes through the run's transaction, so a
// failed run takes the subfolder and its files away again. Failures fill
// the thread's last-error record.
class PackageUnpacker : public UnpackProgressObserver {
 public:
  static const char kDirectUnpackingStepName[];

  // Makes the operation that copies one loose file of an unpacked package.
  // It runs on the copying threads, several at a time.
  using CopyOperationFactory =
      std::function<std::unique_ptr<TransactionOperation>(
          const base::FilePath& source, const base::FilePath& destination)>;

  // |context| and |delegate| must outlive this object. |interprocess_state|
  // null means the process-wide one.
  PackageUnpacker(std::unique_ptr<FileVersionUtils> file_version_utils,
                  std::unique_ptr<LzmaUtil> lzma_util,
                  InstallerStepContext* context,
                  PackageUnpackerDelegate* delegate,
                  InterprocessState* interprocess_state = nullptr);
  ~PackageUnpacker() override;

  // Chooses and creates the installation subfolder and appends it to
  // |command_line| as `install-subfolder`; nothing to do for an uninstall, a
  // repair of resources or when the switch is already there.
  bool PrepareInstallSubfolder(base::CommandLine* command_line);
  // PrepareInstallSubfolder, then the package's files into the target
  // folder.
  bool Unpack(base::CommandLine* command_line);

  // UnpackProgressObserver: the reader reports an entry before unpacking
  // it, so each report finishes the entry before it, and the last entry is
  // finished once the whole archive is unpacked.
  void OnFilesToUnpackCounted(int32_t count) override;
  void OnUnpackProgressChanged(int32_t files_done) override;
  bool ShouldStopExtracting() override;

  // Copies through |factory|'s operations instead of CopyFileOperation.
  void SetCopyOperationFactoryForTesting(CopyOperationFactory factory) {
    copy_operation_factory_ = std::move(factory);
  }

 private:
  InterprocessState* interprocess_state();
  bool CopyUnpackedFiles(const base::FilePath& target);
  bool UnpackArchive(const base::FilePath& target);

  std::unique_ptr<FileVersionUtils> file_version_utils_;
  std::unique_ptr<LzmaUtil> lzma_util_;
  InstallerStepContext* const context_;
  PackageUnpackerDelegate* const delegate_;
  InterprocessState* const interprocess_state_;
  // What the archive being unpacked counted.
  int32_t files_to_unpack_ = 0;
  // Null: CopyFileOperation.
  CopyOperationFactory copy_operation_factory_;

  DISALLOW_COPY_AND_ASSIGN(PackageUnpacker);
};

// The front end keeps unpacking out of its step statistics.
bool IsDirectUnpackingStep(const std::string& name);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_UNPACKER_H_
