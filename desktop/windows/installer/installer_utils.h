#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_UTILS_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_UTILS_H_

namespace installer {

// Whether the running installer is the one inside an unpacked package: the
// browser executable and "files_list" lie beside it and it is not named
// "installer.exe". On an uninstall run the browser executable alone decides.
//
// So far only this check; reading files lists, the drive-space list and the
// settings check join with the settings.
bool IsInsidePackage();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_UTILS_H_
