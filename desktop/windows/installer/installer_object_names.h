#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_OBJECT_NAMES_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_OBJECT_NAMES_H_

namespace installer {

// The named kernel objects of one installation. Every installer process
// (front end, backend, the package's installer, the permission helper)
// must derive the same names from the install folder, so they are spelt in
// one place only; the folder examination also measures them against the
// system's name limit.

// Admits one installer per install folder ("Global\" form).
constexpr wchar_t kInstallerMutexName[] = L"Kavor/Installer";
// Manual-reset events ("Global\" form).
constexpr wchar_t kPackageReadyEventName[] = L"KavorInstaller/PackageReady";
constexpr wchar_t kInterruptedEventName[] =
    L"KavorInstaller/InstallationInterrupted";
// Manual-reset event ("Global\" form) of a hand-over to the package's
// installer: the backend that hands over makes it, and the package's
// installer sets it once it has reported its success to the front end.
constexpr wchar_t kHandOverSucceededEventName[] =
    L"KavorInstaller/HandOverSucceeded";
// Auto-reset events of the folder-permission helper ("Local\" form).
constexpr wchar_t kGivePermissionEventName[] =
    L"KavorInstaller/GiveInstallPermission";
constexpr wchar_t kGivePermissionUndoEventName[] =
    L"KavorInstaller/GiveInstallPermission/Undo";

// The mailslot is this prefix plus the install folder, unchanged, below the
// system's mailslot namespace.
constexpr wchar_t kMailslotPrefix[] = L"kavor_installer\\";
constexpr wchar_t kMailslotNamespace[] = L"\\\\.\\mailslot\\";

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_OBJECT_NAMES_H_
