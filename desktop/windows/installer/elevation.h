#ifndef DESKTOP_WINDOWS_INSTALLER_ELEVATION_H_
#define DESKTOP_WINDOWS_INSTALLER_ELEVATION_H_

#include <windows.h>

namespace installer {

// Whether this user can get an elevated process at all: an administrator
// (also one whose token UAC filtered), a Windows without UAC, or a machine
// where UAC is not switched off ("EnableLUA" under the system policies is
// not 0) and the prompt can ask for an administrator's consent.
bool CanElevate();

// Lets the Administrators group do anything with |event|, so that an
// elevated process of an older Windows can signal an event this process
// created. Failures are logged; false then.
bool FixEventACL(HANDLE event);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_ELEVATION_H_
