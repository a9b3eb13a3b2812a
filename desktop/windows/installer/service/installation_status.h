#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALLATION_STATUS_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALLATION_STATUS_H_

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/strings/string16.h"

namespace installer {

// Where a status record came from. Kept in memory only: never written to the
// status file.
enum InstallationStatusOrigin : uint32_t {
  INSTALLATION_STATUS_INVALID = 0,
  INSTALLATION_STATUS_GENERATED = 1,
  INSTALLATION_STATUS_PRIMARY = 2,
  INSTALLATION_STATUS_LEGACY_XML = 3,
  INSTALLATION_STATUS_RECOVERED_FROM_OLD_FILES = 4,
  INSTALLATION_STATUS_LEGACY_XML_RECOVERED_FROM_OLD_FILES = 5,
  INSTALLATION_STATUS_STRING = 6,
  INSTALLATION_STATUS_FULLY_RECOVERED = 7,
};

// The origin's name for log lines; empty for an unknown value.
const char* InstallationStatusOriginToString(uint32_t origin);

struct InstallationComponent {
  std::string name;
  base::FilePath path;
};

struct RegistryValueRecord {
  std::string type;  // "REG_SZ", "REG_DWORD", ...
  std::string name;  // empty for the key's default value
  std::string data;  // the data in its text form
};

struct RegistryKeyRecord {
  uint32_t clean = 0;  // how deep an uninstall removes the key
  std::string path;    // below the hive, UTF-8
  std::vector<RegistryValueRecord> values;
};

// What an installation put on the machine, as "installation_status.json"
// records it. Uninstall, upgrade, repair and the examination of an existing
// folder all start from it.
struct InstallationStatus {
  explicit InstallationStatus(
      InstallationStatusOrigin origin = INSTALLATION_STATUS_INVALID);
  InstallationStatus(const InstallationStatus& other);
  InstallationStatus& operator=(const InstallationStatus& other);
  ~InstallationStatus();

  // The second application id the shortcut code uses.
  base::string16 GetSuffixedAppId() const;

  bool copy_only = false;
  bool all_users = false;
  InstallationStatusOrigin origin = INSTALLATION_STATUS_INVALID;
  base::string16 app_id;
  base::FilePath path;
  base::FilePath subfolder;
  std::string version;
  base::FilePath desktop_shortcut;
  base::FilePath menu_shortcut;
  base::FilePath quick_launch_shortcut;
  std::vector<base::FilePath> files;
  std::vector<base::FilePath> root_files;
  std::vector<InstallationComponent> components;
  std::vector<RegistryKeyRecord> hklm_keys;
  std::vector<RegistryKeyRecord> hkcu_keys;
};

// Field by field, |origin| included.
bool operator==(const InstallationComponent& a, const InstallationComponent& b);
bool operator==(const RegistryValueRecord& a, const RegistryValueRecord& b);
bool operator==(const RegistryKeyRecord& a, const RegistryKeyRecord& b);
bool operator==(const InstallationStatus& a, const InstallationStatus& b);
inline bool operator!=(const InstallationStatus& a,
                       const InstallationStatus& b) {
  return !(a == b);
}

// Reads one status file format into a record.
class InstallationStatusReader {
 public:
  virtual ~InstallationStatusReader() = default;

  // Stores in |*out| a new record stamped with |origin|, or null on failure;
  // the failure's text is then available from GetError().
  virtual void Read(std::unique_ptr<InstallationStatus>* out,
                    const std::string& contents,
                    InstallationStatusOrigin origin) = 0;
  virtual const std::string& GetError() const = 0;
};

// The reader of the format that |origin| was stored in: JSON for the primary
// file and its recovered copies, XML for the legacy ones; null otherwise.
std::unique_ptr<InstallationStatusReader> CreateInstallationStatusReader(
    InstallationStatusOrigin origin);

// Reads the status file |file| with the reader of |origin|. A missing file
// gives null and leaves |*error| alone; any other failure gives null and the
// reason in |*error|. |*contents|, when given, receives the text read (empty
// when the file cannot be read).
std::unique_ptr<InstallationStatus> ReadInstallationStatusFile(
    const base::FilePath& file,
    InstallationStatusOrigin origin,
    std::string* error,
    std::string* contents = nullptr);

// Records one registry value that the run writes under one hive, in the text
// form of the status file. |type| -1 (a value the run deletes) records
// nothing.
void AddRegistryValueToStatus(std::vector<RegistryKeyRecord>* keys,
                              const base::string16& key_path,
                              const base::string16& value_name,
                              const void* data,
                              int type,
                              uint32_t size,
                              uint32_t clean);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALLATION_STATUS_H_
