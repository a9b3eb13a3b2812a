#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_JSON_INSTALLATION_STATUS_WRITER_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_JSON_INSTALLATION_STATUS_WRITER_H_

#include <string>

#include "base/macros.h"
#include "base/values.h"

namespace base {
class FilePath;
}

namespace installer {

struct InstallationStatus;

// Stores a status record as "installation_status.json": one compact JSON
// object whose members come out sorted by key.
class JsonInstallationStatusWriter {
 public:
  JsonInstallationStatusWriter();
  ~JsonInstallationStatusWriter();

  // The record's JSON text; empty if it cannot be serialised or a recorded
  // path holds a control character (which Windows never allows in a name).
  std::string ToJson(const InstallationStatus& status);

  // Creates or truncates |path| and writes ToJson's text into it. False when
  // there is no text or not every byte reaches the file.
  bool WriteToFile(const InstallationStatus& status,
                   const base::FilePath& path);

 private:
  base::DictionaryValue root_;

  DISALLOW_COPY_AND_ASSIGN(JsonInstallationStatusWriter);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_JSON_INSTALLATION_STATUS_WRITER_H_
