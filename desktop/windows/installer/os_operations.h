#ifndef DESKTOP_WINDOWS_INSTALLER_OS_OPERATIONS_H_
#define DESKTOP_WINDOWS_INSTALLER_OS_OPERATIONS_H_

#include <windows.h>
#include <stdint.h>

#include <memory>
#include <string>

#include "base/strings/string16.h"
#include "base/win/scoped_handle.h"

namespace base {
class CommandLine;
}  // namespace base

namespace installer {

class Settings;
struct InstallationStatus;

class RegistryKeyEnumerator;

// Walks the subkeys of one key, each as a new key object.
class RegistrySubkeyEnumerator {
 public:
  virtual ~RegistrySubkeyEnumerator() = default;
  // The next subkey, or null once the enumeration fails (no more subkeys).
  virtual std::unique_ptr<RegistryKeyEnumerator> Next() = 0;
};

// One registry key opened for reading; invalid when it does not exist.
class RegistryKeyEnumerator {
 public:
  virtual ~RegistryKeyEnumerator() = default;
  virtual bool IsValid() = 0;
  // A string value.
  virtual bool ReadValue(const base::string16& name, base::string16* value) = 0;
  virtual bool HasValue(const base::string16& name) = 0;
  virtual std::unique_ptr<RegistrySubkeyEnumerator>
  CreateSubkeyEnumerator() = 0;
  // The last component of the key's path.
  virtual base::string16 GetName() = 0;
};

// One drive letter.
class DriveInfo {
 public:
  virtual ~DriveInfo() = default;
  virtual bool IsReady() = 0;
  // GetDriveTypeW of the root path: DRIVE_REMOVABLE, DRIVE_FIXED, ...
  virtual uint32_t GetType() = 0;
  // "C:\".
  virtual base::string16 GetRootPath() = 0;
};

// The drives of the machine in letter order.
class DriveEnumerator {
 public:
  virtual ~DriveEnumerator() = default;
  virtual std::unique_ptr<DriveInfo> Next() = 0;
};

// The operating-system services the installer core and the steps reach
// through one replaceable object.
class OsOperations {
 public:
  virtual ~OsOperations() = default;

  // Records the previous default browser and makes this browser the
  // default, or only registers its file handlers, as the settings ask.
  virtual void StoreDefaultBrowserSettings(
      const Settings& settings, const InstallationStatus* status) = 0;
  // |access| is a KEY_* mask, with a view bit where one is wanted.
  virtual std::unique_ptr<RegistryKeyEnumerator> CreateRegistryKeyEnumerator(
      HKEY root, const base::string16& path, uint32_t access) = 0;
  // Runs the program and collects its standard output.
  virtual bool GetAppOutput(const base::CommandLine& command_line,
                            std::string* output) = 0;
  virtual std::unique_ptr<DriveEnumerator> CreateDriveInfo() = 0;
  // Starts the command elevated; the process handle, or an invalid handle
  // with the last-error record set.
  virtual base::win::ScopedHandle RunElevated(
      const base::CommandLine& command_line) = 0;
  virtual uint32_t GetCurrentThreadId() = 0;
  // 0 on 32-bit Windows, non-zero on 64-bit Windows.
  virtual uint32_t GetOsArchitecture() = 0;
};

// The process-wide instance, or the one a test installed.
OsOperations* GetOsOperations();

// Makes GetOsOperations() answer |operations| until called again with null.
void SetOsOperationsForTesting(OsOperations* operations);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_OS_OPERATIONS_H_
