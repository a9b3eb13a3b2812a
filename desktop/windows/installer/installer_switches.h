#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_SWITCHES_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_SWITCHES_H_

#include <stddef.h>

namespace installer {

// One user-facing switch as the help shows it. A "%s" in the description or
// the default stands for the product name.
struct SwitchHelp {
  const char* name;
  // Null for a plain switch.
  const char* value_form;
  const char* description;
  // Null when the help gives no default.
  const char* default_value;
};

// The switches the help documents, in the order it prints them.
const SwitchHelp* GetSwitchHelpTable(size_t* count);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_SWITCHES_H_
