#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_JSON_INSTALLATION_STATUS_READER_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_JSON_INSTALLATION_STATUS_READER_H_

#include <memory>
#include <string>

#include "base/macros.h"
#include "desktop/windows/installer/service/installation_status.h"

namespace installer {

// Reads "installation_status.json". A file that is not what the writer
// makes fails with the text of the first check it does not pass; members the
// reader does not know are ignored.
class JsonInstallationStatusReader : public InstallationStatusReader {
 public:
  JsonInstallationStatusReader();
  ~JsonInstallationStatusReader() override;

  void Read(std::unique_ptr<InstallationStatus>* out,
            const std::string& contents,
            InstallationStatusOrigin origin) override;
  const std::string& GetError() const override;

 private:
  // The record, or null with |error_| set.
  std::unique_ptr<InstallationStatus> Parse(const std::string& contents,
                                            InstallationStatusOrigin origin);

  std::string error_;

  DISALLOW_COPY_AND_ASSIGN(JsonInstallationStatusReader);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_JSON_INSTALLATION_STATUS_READER_H_
