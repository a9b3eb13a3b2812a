#include "desktop/windows/installer/service/registry_entry_templates.h"

#include <windows.h>
#include <stdint.h>

#include "base/lazy_instance.h"
#include "base/win/windows_version.h"

namespace installer {
namespace {

constexpr int32_t kXp = base::win::XP;
constexpr int32_t kVista = base::win::VISTA;
// The stream from which a build also registers App Paths and the
// "Applications" verb (the release stream).
constexpr int32_t kReleaseStream = 4;
// The uninstall entry lives in the 32-bit view, where the system's list of
// programs has always looked for it.
constexpr uint32_t kUninstallView = KEY_WOW64_32KEY;

const wchar_t kProgId[] = L"Software\\Classes\\{ProgID}";
const wchar_t kProgIdIcon[] = L"Software\\Classes\\{ProgID}\\DefaultIcon";
const wchar_t kProgIdCommand[] =
    L"Software\\Classes\\{ProgID}\\shell\\open\\command";
const wchar_t kDdeExec[] = L"Software\\Classes\\{ProgID}\\shell\\open\\ddeexec";
const wchar_t kDdeApplication[] =
    L"Software\\Classes\\{ProgID}\\shell\\open\\ddeexec\\Application";
const wchar_t kDdeTopic[] =
    L"Software\\Classes\\{ProgID}\\shell\\open\\ddeexec\\Topic";
const wchar_t kClient[] = L"Software\\Clients\\StartMenuInternet\\{ProgID}";
const wchar_t kClientIcon[] =
    L"Software\\Clients\\StartMenuInternet\\{ProgID}\\DefaultIcon";
const wchar_t kInstallInfo[] =
    L"Software\\Clients\\StartMenuInternet\\{ProgID}\\InstallInfo";
const wchar_t kClientCommand[] =
    L"Software\\Clients\\StartMenuInternet\\{ProgID}\\shell\\open\\command";
const wchar_t kCapabilities[] =
    L"Software\\Clients\\StartMenuInternet\\{ProgID}\\Capabilities";
const wchar_t kFileAssociations[] =
    L"Software\\Clients\\StartMenuInternet\\{ProgID}\\Capabilities\\"
    L"FileAssociations";
const wchar_t kStartMenu[] =
    L"Software\\Clients\\StartMenuInternet\\{ProgID}\\Capabilities\\"
    L"Startmenu";
const wchar_t kUrlAssociations[] =
    L"Software\\Clients\\StartMenuInternet\\{ProgID}\\Capabilities\\"
    L"UrlAssociations";
const wchar_t kAppPaths[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\{Executable}";
const wchar_t kUninstall[] = L"{Uninstall}";

const wchar_t kLauncherIcon[] = L"{InstallFolder}\\Launcher.exe,0";
const wchar_t kQuotedLauncherIcon[] = L"\"{InstallFolder}\\Launcher.exe\",0";
const wchar_t kProductAndStream[] = L"{Product} {Stream}";

RegistryValueTemplateEntry Row(const wchar_t* key,
                               const wchar_t* value_name,
                               uint32_t type,
                               RegistryTemplateData data,
                               int32_t min_windows_version,
                               HKEY root,
                               int32_t min_stream,
                               uint32_t clean_mode,
                               uint32_t view_flags) {
  return {key,  value_name, type,       data,      min_windows_version,
          root, min_stream, clean_mode, view_flags};
}

// A REG_SZ value written to any root on every stream.
RegistryValueTemplateEntry Text(const wchar_t* key,
                                const wchar_t* value_name,
                                const wchar_t* data,
                                int32_t min_windows_version,
                                uint32_t clean_mode) {
  return Row(key, value_name, REG_SZ, data, min_windows_version, nullptr, 0,
             clean_mode, 0);
}

// The ProgID's empty entry in an extension's "OpenWithProgIDs" list.
RegistryValueTemplateEntry OpenWith(const wchar_t* key, uint32_t clean_mode) {
  return Row(key, L"{ProgID}", REG_NONE, nullptr, kXp, nullptr, 0, clean_mode,
             0);
}

RegistryValueTemplateEntry UninstallText(const wchar_t* value_name,
                                         const wchar_t* data) {
  return Row(kUninstall, value_name, REG_SZ, data, kXp, nullptr, 0, 1,
             kUninstallView);
}

RegistryValueTemplateEntry UninstallNumber(const wchar_t* value_name,
                                           uint32_t data) {
  return Row(kUninstall, value_name, REG_DWORD, data, kXp, nullptr, 0, 1,
             kUninstallView);
}

struct RegistryEntryTable {
  RegistryEntryTable() { BuildRegistryEntryTemplates(&entries); }
  std::vector<RegistryValueTemplateEntry> entries;
};

base::LazyInstance<RegistryEntryTable>::Leaky g_registry_entry_table =
    LAZY_INSTANCE_INITIALIZER;

}  // namespace

const std::vector<RegistryValueTemplateEntry>& GetRegistryEntryTemplates() {
  return g_registry_entry_table.Get().entries;
}

void BuildRegistryEntryTemplates(
    std::vector<RegistryValueTemplateEntry>* entries) {
  *entries = {
      // The ProgID.
      Text(kProgId, L"FriendlyTypeName", L"{Product} Web Document", kXp, 1),
      Text(kProgId, L"URL Protocol", L"", kXp, 1),
      Text(kProgIdIcon, nullptr, kLauncherIcon, kXp, 1),
      Text(kProgIdCommand, nullptr,
           L"\"{InstallFolder}\\Launcher.exe\" -noautoupdate -- \"%1\"", kXp,
           2),
      // Machine-wide the browser opens documents by its command alone; for
      // the user it answers an empty dynamic data exchange conversation.
      Row(kDdeExec, nullptr, kDeleteRegistryKeyType, nullptr, kXp,
          HKEY_LOCAL_MACHINE, 0, 0, 0),
      Row(kDdeExec, nullptr, REG_SZ, L"", kXp, HKEY_CURRENT_USER, 0, 2, 0),
      Row(kDdeApplication, nullptr, REG_SZ, L"", kXp, HKEY_CURRENT_USER, 0, 1,
          0),
      Row(kDdeTopic, nullptr, REG_SZ, L"", kXp, HKEY_CURRENT_USER, 0, 1, 0),
      // The browser's own extension and the lists of programs that open
      // documents of other types.
      Text(L"Software\\Classes\\.kex", nullptr, L"{ProgID}.Extension", kXp, 1),
      OpenWith(L"Software\\Classes\\.kex\\OpenWithProgIDs", 1),
      OpenWith(L"Software\\Classes\\.kvdownload\\OpenWithProgIDs", 0),
      OpenWith(L"Software\\Classes\\.htm\\OpenWithProgIDs", 0),
      OpenWith(L"Software\\Classes\\.html\\OpenWithProgIDs", 0),
      OpenWith(L"Software\\Classes\\.pdf\\OpenWithProgIDs", 0),
      OpenWith(L"Software\\Classes\\.shtml\\OpenWithProgIDs", 0),
      OpenWith(L"Software\\Classes\\.xht\\OpenWithProgIDs", 0),
      OpenWith(L"Software\\Classes\\.xhtml\\OpenWithProgIDs", 0),
      // Only a release build claims the executable's name system-wide.
      Row(L"Software\\Classes\\Applications\\{Executable}\\shell\\open\\"
          L"command",
          nullptr, REG_SZ, L"\"{InstallFolder}\\Launcher.exe\" \"%1\"", kXp,
          nullptr, kReleaseStream, 4, 0),
      Row(kAppPaths, nullptr, REG_SZ, L"\"{InstallFolder}\\Launcher.exe\"", kXp,
          nullptr, kReleaseStream, 0, 0),
      Row(kAppPaths, L"Path", REG_SZ, L"\"{InstallFolder}\"", kXp, nullptr,
          kReleaseStream, 0, 0),
      // Keeps the compatibility assistant from stepping in when the
      // launcher runs.
      Row(L"Software\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags\\"
          L"Compatibility Assistant\\Persisted",
          L"{InstallFolder}\\Launcher.exe", REG_DWORD, 32u, kVista, nullptr, 0,
          0, 0),
      Text(L"Software\\RegisteredApplications", kProductAndStream,
           L"Software\\Clients\\StartMenuInternet\\{ProgID}\\Capabilities",
           kVista, 0),
      // The Start menu internet client.
      Text(kClient, nullptr, kProductAndStream, kXp, 1),
      Text(kClientIcon, nullptr, kLauncherIcon, kXp, 1),
      Text(kInstallInfo, L"ShowIconsCommand",
           L"\"{InstallFolder}\\Launcher.exe\" --showicons", kXp, 1),
      Text(kInstallInfo, L"HideIconsCommand",
           L"\"{InstallFolder}\\Launcher.exe\" --hideicons", kXp, 1),
      Text(kInstallInfo, L"ReinstallCommand",
           L"\"{InstallFolder}\\Launcher.exe\" --makedefaultbrowser", kXp, 1),
      Row(kInstallInfo, L"IconsVisible", REG_DWORD, 1u, kXp, nullptr, 0, 1, 0),
      Text(kClientCommand, nullptr, L"\"{InstallFolder}\\Launcher.exe\"", kXp,
           2),
      Text(kCapabilities, L"ApplicationDescription", L"Do more on the web",
           kVista, 1),
      Text(kCapabilities, L"ApplicationIcon", kQuotedLauncherIcon, kVista, 1),
      Text(kCapabilities, L"ApplicationName", kProductAndStream, kVista, 1),
      Text(kFileAssociations, L".crx", L"{ProgID}", kVista, 1),
      Text(kFileAssociations, L".htm", L"{ProgID}", kVista, 1),
      Text(kFileAssociations, L".html", L"{ProgID}", kVista, 1),
      Text(kFileAssociations, L".kvx", L"{ProgID}", kVista, 1),
      Text(kFileAssociations, L".kvdownload", L"{ProgID}", kVista, 1),
      Text(kFileAssociations, L".pdf", L"{ProgID}", kVista, 1),
      Text(kFileAssociations, L".shtml", L"{ProgID}", kVista, 1),
      Text(kFileAssociations, L".xht", L"{ProgID}", kVista, 1),
      Text(kFileAssociations, L".xhtml", L"{ProgID}", kVista, 1),
      Text(kStartMenu, L"StartMenuInternet", L"{ProgID}", kVista, 1),
      Text(kUrlAssociations, L"http", L"{ProgID}", kVista, 1),
      Text(kUrlAssociations, L"https", L"{ProgID}", kVista, 1),
      Text(kUrlAssociations, L"ftp", L"{ProgID}", kVista, 1),
      Text(kUrlAssociations, L"mailto", L"{ProgID}", kVista, 1),
      // The entry of the system's list of installed programs.
      UninstallText(L"DisplayName", L"{Product} {Stream} {Version}"),
      UninstallText(L"DisplayIcon", kQuotedLauncherIcon),
      UninstallText(L"DisplayVersion", L"{Version}"),
      UninstallText(L"HelpLink", L"{HelpURL}"),
      UninstallText(L"InstallLocation", L"{InstallFolder}"),
      UninstallNumber(L"NoModify", 1u),
      UninstallNumber(L"NoRepair", 1u),
      UninstallText(L"Publisher", L"{Company}"),
      UninstallText(L"UninstallString",
                    L"\"{InstallFolder}\\Launcher.exe\" /uninstall"),
      UninstallText(L"URLInfoAbout", L"{CompanyURL}"),
      UninstallText(L"URLUpdateInfo", L"{DownloadsURL}"),
  };
}

}  // namespace installer
