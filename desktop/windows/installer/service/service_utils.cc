#include "desktop/windows/installer/service/service_utils.h"

// Placeholders until the service utilities land.
namespace installer {

bool GetKnownFolderPath(REFKNOWNFOLDERID, int, base::FilePath*, bool) {
  return false;
}
void RegistryRootToObjectNamePrefix(HKEY,
                                    const base::string16& key_path,
                                    base::string16* object_name) {
  *object_name = key_path;
}
bool IsValidPathName(const base::FilePath& path, bool) {
  return !path.empty();
}
bool GetFileInformationByPath(const base::FilePath&,
                              BY_HANDLE_FILE_INFORMATION*) {
  return false;
}
bool GetCurrentUserName(base::string16*) {
  return false;
}
bool GetSamCompatibleUserName(base::string16*) {
  return false;
}
bool GetUserDisplayName(base::string16*) {
  return false;
}
base::string16 MakeKernelObjectName(const base::string16& name,
                                    const base::FilePath& base,
                                    bool global) {
  return (global ? L"Global\\" : L"Local\\") + name + L"/" + base.value();
}
bool IsShortcutToTarget(const base::FilePath&,
                        const base::FilePath&,
                        const BY_HANDLE_FILE_INFORMATION*) {
  return false;
}
base::FilePath GetEffectiveShortcutTarget(
    const base::FilePath&,
    const base::FilePath& shortcut_target,
    const base::win::ShortcutProperties&) {
  return shortcut_target;
}
std::string GetBrowserExeName() {
  return "kavor.exe";
}
int GetExecutableBitness(const base::FilePath&) {
  return EXECUTABLE_NONE;
}
std::string GetStreamName(int) {
  return std::string();
}
std::string GetCurrentStreamName() {
  return std::string();
}
base::string16 GetCompanyRegistryKey() {
  return L"Software\\Kavor Software";
}
base::string16 GetUninstallRegistryKey() {
  return L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
}
bool IsParentPathIgnoreCase(const base::FilePath&, const base::FilePath&) {
  return false;
}
std::string FormatWin32Error(DWORD) {
  return std::string();
}
bool IsVersionFolderName(const base::FilePath&, uint32_t*) {
  return false;
}

}  // namespace installer
