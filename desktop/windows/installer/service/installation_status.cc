#include "desktop/windows/installer/service/installation_status.h"

#include "base/macros.h"

namespace installer {

const char* InstallationStatusOriginToString(uint32_t origin) {
  static const char* const kNames[] = {
      "invalid",
      "generated",
      "primary",
      "legacy_xml",
      "recovered_from_old_files",
      "legacy_xml_recovered_from_old_files",
      "string",
      "fully_recovered",
  };
  return origin < arraysize(kNames) ? kNames[origin] : "";
}

InstallationStatus::InstallationStatus(InstallationStatusOrigin origin)
    : origin(origin) {}

InstallationStatus::InstallationStatus(const InstallationStatus& other) =
    default;

InstallationStatus& InstallationStatus::operator=(
    const InstallationStatus& other) = default;

InstallationStatus::~InstallationStatus() = default;

base::string16 InstallationStatus::GetSuffixedAppId() const {
  return app_id + L"1";
}

// Placeholders until the status file's readers land.
std::unique_ptr<InstallationStatusReader> CreateInstallationStatusReader(
    InstallationStatusOrigin) {
  return nullptr;
}

void AddRegistryValueToStatus(std::vector<RegistryKeyRecord>*,
                              const base::string16&,
                              const base::string16&,
                              const void*,
                              int,
                              uint32_t,
                              uint32_t) {}

}  // namespace installer
