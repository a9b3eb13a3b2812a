#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_SERVICE_UTILS_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_SERVICE_UTILS_H_

#include <windows.h>
#include <shlobj.h>
#include <stdint.h>

#include <string>

#include "base/files/file_path.h"
#include "base/strings/string16.h"

namespace base {
namespace win {
struct ShortcutProperties;
}  // namespace win
}  // namespace base

namespace installer {

// Stateless helpers of the service layer, callable from any thread.

// |folder_id| through the known-folder API when the system has it, else
// |csidl| through the older folder API; |create| makes a missing folder.
bool GetKnownFolderPath(REFKNOWNFOLDERID folder_id,
                        int csidl,
                        base::FilePath* path,
                        bool create);

// The name the named-security functions expect for a registry key:
// "MACHINE\Software\..." and so on.
void RegistryRootToObjectNamePrefix(HKEY root,
                                    const base::string16& key_path,
                                    base::string16* object_name);

// Whether |path| can name a file (or, with |is_folder|, a folder): length
// limits, no reserved device names, no forbidden characters.
bool IsValidPathName(const base::FilePath& path, bool is_folder);

// Two paths name one file when volume serial and file index agree.
bool GetFileInformationByPath(const base::FilePath& path,
                              BY_HANDLE_FILE_INFORMATION* info);

bool GetCurrentUserName(base::string16* name);
bool GetSamCompatibleUserName(base::string16* name);
bool GetUserDisplayName(base::string16* name);

// The name of a named kernel object of one installation: |name|, "/" and
// the install folder |base| with every "\" turned into "/", behind "Global\"
// or "Local\". Front end and backend both build their names here so that
// they always meet.
base::string16 MakeKernelObjectName(const base::string16& name,
                                    const base::FilePath& base,
                                    bool global);

// Whether the shortcut at |shortcut| resolves to |target|, by path or, when
// |target_info| is given, by file identity.
bool IsShortcutToTarget(const base::FilePath& shortcut,
                        const base::FilePath& target,
                        const BY_HANDLE_FILE_INFORMATION* target_info);

// Whether |path| names |target|: the same path ignoring case or, when
// |target_info| is given, the same volume and file index.
bool IsSameFile(const base::FilePath& path,
                const base::FilePath& target,
                const BY_HANDLE_FILE_INFORMATION* target_info);

base::FilePath GetEffectiveShortcutTarget(
    const base::FilePath& expected_target,
    const base::FilePath& shortcut_target,
    const base::win::ShortcutProperties& properties);

// "kavor.exe".
std::string GetBrowserExeName();

enum ExecutableBitness {
  EXECUTABLE_X86 = 0,
  EXECUTABLE_OTHER = 1,
  EXECUTABLE_NONE = 2,  // missing, unreadable or not an image
};
int GetExecutableBitness(const base::FilePath& path);

std::string GetStreamName(int stream);
std::string GetCurrentStreamName();
base::string16 GetCompanyRegistryKey();
base::string16 GetUninstallRegistryKey();

bool IsParentPathIgnoreCase(const base::FilePath& parent,
                            const base::FilePath& child);

// The system's English text for |code| followed by the code in hexadecimal,
// e.g. "Access is denied. (0x5)".
std::string FormatWin32Error(DWORD code);

// Asks the Service Control Manager to start the service |name| unless it
// runs or is starting, without waiting for it. True when it runs, is
// starting or was asked to start. A caller without the right to start it
// gets false, as for a service that does not exist.
bool StartServiceIfStopped(const wchar_t* name);

// Whether |path|'s base name is a version such as "47.0.4127.0"; |major|
// receives its first number.
bool IsVersionFolderName(const base::FilePath& path, uint32_t* major);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_SERVICE_UTILS_H_
