#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_REGISTRY_ENTRY_TEMPLATES_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_REGISTRY_ENTRY_TEMPLATES_H_

#include <vector>

#include "desktop/windows/installer/service/transactions/registry_value_template.h"

namespace installer {

// The browser's registration: its ProgID, file and protocol associations,
// the Start menu internet client, App Paths, the launcher's compatibility
// flag and the uninstall entry, in the order they are written. Key paths are
// relative to the root the run writes to (HKEY_CURRENT_USER, or
// HKEY_LOCAL_MACHINE for all users); the uninstall entry's key is the
// placeholder "{Uninstall}".
//
// Built once on first use (safe against concurrent first use) and kept
// until the process ends.
const std::vector<RegistryValueTemplateEntry>& GetRegistryEntryTemplates();

// Fills |entries| with the table above.
void BuildRegistryEntryTemplates(
    std::vector<RegistryValueTemplateEntry>* entries);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_REGISTRY_ENTRY_TEMPLATES_H_
