#ifndef DESKTOP_WINDOWS_INSTALLER_EXISTING_INSTALLATION_READER_H_
#define DESKTOP_WINDOWS_INSTALLER_EXISTING_INSTALLATION_READER_H_

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "desktop/windows/installer/service/installation_status.h"

namespace installer {

class ShortcutPropertiesReader;

// Finds the record of the installation that lives in a folder: its JSON
// status file, the legacy XML install log, a copy of either kept in
// "old_status" (recovery mode only), and last what an older installer left
// on disk and in the registry.
class InstallationStatusFileReader {
 public:
  virtual ~InstallationStatusFileReader() = default;

  // The record, or null. |*error| and |*contents| describe a status file
  // that exists but could not be used.
  virtual std::unique_ptr<InstallationStatus> Read(const base::FilePath& folder,
                                                   bool recovery_mode,
                                                   std::string* error,
                                                   std::string* contents) = 0;
};

class InstallationStatusFileReaderImpl : public InstallationStatusFileReader {
 public:
  InstallationStatusFileReaderImpl();
  ~InstallationStatusFileReaderImpl() override;

  std::unique_ptr<InstallationStatus> Read(const base::FilePath& folder,
                                           bool recovery_mode,
                                           std::string* error,
                                           std::string* contents) override;

 private:
  DISALLOW_COPY_AND_ASSIGN(InstallationStatusFileReaderImpl);
};

// Rebuilds the record of an installation that older installers made without
// a status file, from its uninstall entry, its version folder, shortcuts and
// registration.
class LegacyInstallationReader {
 public:
  virtual ~LegacyInstallationReader() = default;
  virtual std::unique_ptr<InstallationStatus> Read(
      const base::FilePath& folder) = 0;
};

class LegacyInstallationReaderImpl : public LegacyInstallationReader {
 public:
  // |shortcut_reader| reads the shortcuts' targets and app ids; null means
  // the shell.
  explicit LegacyInstallationReaderImpl(
      ShortcutPropertiesReader* shortcut_reader = nullptr);
  ~LegacyInstallationReaderImpl() override;

  std::unique_ptr<InstallationStatus> Read(
      const base::FilePath& folder) override;

 private:
  ShortcutPropertiesReader* const shortcut_reader_;

  DISALLOW_COPY_AND_ASSIGN(LegacyInstallationReaderImpl);
};

// The process-wide instance, made on first use, or the one a test installed.
LegacyInstallationReader* GetLegacyInstallationReader();
// Makes GetLegacyInstallationReader() answer |reader| until called again
// with null.
void SetLegacyInstallationReaderForTesting(LegacyInstallationReader* reader);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_EXISTING_INSTALLATION_READER_H_
