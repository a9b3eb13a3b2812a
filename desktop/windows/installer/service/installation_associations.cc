// The browser's registration as the default browser and as the handler of
// files and protocols. Each Windows generation has its own road: up to
// Windows 7 the registry decides (on Vista and 7 the user's choice may have
// to be set through the association interface); Windows 8 and 8.1 ask the
// user in the Open With dialog; Windows 10 sets the default directly where
// the build allows it and otherwise opens the Settings app.

#include <windows.h>
#include <shobjidl.h>

#include <string>
#include <vector>

#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/service/association_operations.h"
#include "desktop/windows/installer/service/direct_default_handler.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/service/transactions/registry_operations.h"
#include "desktop/windows/installer/service/transactions/registry_value_template.h"
#include "desktop/windows/installer/service/transactions/transaction_operation.h"

namespace installer {
namespace {

constexpr int32_t kXp = base::win::XP;
constexpr int32_t kVista = base::win::VISTA;

const wchar_t kStartMenuInternetKey[] = L"Software\\Clients\\StartMenuInternet";
const wchar_t kPreviousDefaultBrowser[] = L"Previous Default Browser";
const wchar_t kStartMenuInternetQuery[] = L"StartmenuInternet";

// A row of any hive, or of |root| only.
RegistryValueTemplateEntry Row(const wchar_t* key,
                               const wchar_t* value_name,
                               uint32_t type,
                               RegistryTemplateData data,
                               int32_t min_windows_version = kXp,
                               HKEY root = nullptr) {
  return {key, value_name, type, data, min_windows_version, root, 0, 0, 0};
}

// The class (ProgID), a protocol, and the extension rows. Machine-wide the
// browser opens documents by its command alone; for the user it answers an
// empty dynamic data exchange conversation. The last row of the protocol
// and extension tables removes the user's own choice, which would hide the
// rows above.
const std::vector<RegistryValueTemplateEntry>& ClassRows() {
  static const std::vector<RegistryValueTemplateEntry>* const rows =
      new std::vector<RegistryValueTemplateEntry>{
          Row(L"Software\\Classes\\{ProgID}", L"FriendlyTypeName", REG_SZ,
              L"{Product} Web Document"),
          Row(L"Software\\Classes\\{ProgID}", L"URL Protocol", REG_SZ, L""),
          Row(L"Software\\Classes\\{ProgID}\\DefaultIcon", nullptr, REG_SZ,
              L"{InstallFolder}\\Launcher.exe,0"),
          Row(L"Software\\Classes\\{ProgID}\\shell\\open\\command", nullptr,
              REG_SZ,
              L"\"{InstallFolder}\\Launcher.exe\" -noautoupdate -- \"%1\""),
          Row(L"Software\\Classes\\{ProgID}\\shell\\open\\ddeexec", nullptr,
              kDeleteRegistryKeyType, nullptr, kXp, HKEY_LOCAL_MACHINE),
          Row(L"Software\\Classes\\{ProgID}\\shell\\open\\ddeexec", nullptr,
              REG_SZ, L"", kXp, HKEY_CURRENT_USER),
          Row(L"Software\\Classes\\{ProgID}\\shell\\open\\ddeexec\\"
              L"Application",
              nullptr, REG_SZ, L"", kXp, HKEY_CURRENT_USER),
          Row(L"Software\\Classes\\{ProgID}\\shell\\open\\ddeexec\\Topic",
              nullptr, REG_SZ, L"", kXp, HKEY_CURRENT_USER),
      };
  return *rows;
}

const std::vector<RegistryValueTemplateEntry>& FileTypeRows() {
  static const std::vector<RegistryValueTemplateEntry>* const rows =
      new std::vector<RegistryValueTemplateEntry>{
          Row(L"Software\\Classes\\{Extension}", nullptr, REG_SZ, L"{ProgID}"),
          Row(L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
              L"FileExts\\{Extension}\\UserChoice",
              L"Progid", kDeleteRegistryValueType, nullptr, kVista,
              HKEY_CURRENT_USER),
      };
  return *rows;
}

const std::vector<RegistryValueTemplateEntry>& ProtocolRows() {
  static const std::vector<RegistryValueTemplateEntry>* const rows =
      new std::vector<RegistryValueTemplateEntry>{
          Row(L"Software\\Classes\\{Protocol}", L"EditFlags", REG_DWORD, 2u),
          Row(L"Software\\Classes\\{Protocol}", L"URL Protocol", REG_SZ, L""),
          Row(L"Software\\Classes\\{Protocol}\\DefaultIcon", nullptr, REG_SZ,
              L"{InstallFolder}\\Launcher.exe,0"),
          Row(L"Software\\Classes\\{Protocol}\\shell\\open\\command", nullptr,
              REG_SZ,
              L"\"{InstallFolder}\\launcher.exe\" -noautoupdate -- \"%1\""),
          Row(L"Software\\Classes\\{Protocol}\\shell\\open\\ddeexec", nullptr,
              kDeleteRegistryKeyType, nullptr, kXp, HKEY_LOCAL_MACHINE),
          Row(L"Software\\Classes\\{Protocol}\\shell\\open\\ddeexec", nullptr,
              REG_SZ, L"", kXp, HKEY_CURRENT_USER),
          Row(L"Software\\Classes\\{Protocol}\\shell\\open\\ddeexec\\"
              L"Application",
              nullptr, REG_SZ, L"", kXp, HKEY_CURRENT_USER),
          Row(L"Software\\Classes\\{Protocol}\\shell\\open\\ddeexec\\Topic",
              nullptr, REG_SZ, L"", kXp, HKEY_CURRENT_USER),
          Row(L"Software\\Microsoft\\Windows\\Shell\\Associations\\"
              L"UrlAssociations\\{Protocol}\\UserChoice",
              L"Progid", kDeleteRegistryValueType, nullptr, kVista,
              HKEY_CURRENT_USER),
      };
  return *rows;
}

const std::vector<RegistryValueTemplateEntry>& StartMenuRows() {
  static const std::vector<RegistryValueTemplateEntry>* const rows =
      new std::vector<RegistryValueTemplateEntry>{
          Row(kStartMenuInternetKey, nullptr, REG_SZ, L"{Product}{Stream}"),
      };
  return *rows;
}

// What the browser takes over beside http once it may.
const wchar_t* const kDefaultBrowserNames[] = {
    L"https", L"ftp",         L".crx",   L".htm", L".html",
    L".kvx",  L".kvdownload", L".shtml", L".xht", L".xhtml",
};

base::win::Version Version() {
  return base::win::GetVersion();
}

bool IsWindows8Or81() {
  return Version() >= base::win::WIN8 && Version() < base::win::WIN10;
}

}  // namespace

InstallationTemplateVariables::InstallationTemplateVariables(
    const base::string16& name, const base::FilePath& folder)
    : name_(name), folder_(folder) {}

InstallationTemplateVariables::~InstallationTemplateVariables() = default;

base::string16 InstallationTemplateVariables::GetVariable(
    const base::string16& name) const {
  if (name == L"ProgID")
    return base::ASCIIToUTF16(GetProductInternalName());
  if (name == L"Stream")
    return base::ASCIIToUTF16(GetChannelName());
  if (name == L"Product")
    return base::ASCIIToUTF16(GetProductName());
  if (name == L"Protocol" || name == L"Extension")
    return name_;
  if (name == L"InstallFolder")
    return folder_.value();
  return name;
}

std::vector<RegistryKeyRecord>*
InstallationTemplateVariables::GetRecordedRegistryValues(HKEY root) {
  // The associations belong to the user's choices, not to the installation
  // status: an uninstall must not take them along by its record.
  return nullptr;
}

bool Installation::ApplyRows(
    const std::vector<RegistryValueTemplateEntry>& table,
    bool skip_last,
    const base::string16& name,
    bool all_users) {
  const HKEY root = RootFor(all_users);
  InstallationTemplateVariables variables(name, folder_);
  const size_t count =
      skip_last && !table.empty() ? table.size() - 1 : table.size();
  Transaction transaction;
  for (size_t i = 0; i < count; ++i) {
    RegistryValueTemplate row(table[i], &variables);
    std::unique_ptr<TransactionOperation> operation;
    std::string error;
    if (!row.CreateOperation(root, &operation) ||
        (operation &&
         !ExecuteOperation(&transaction, std::move(operation), &error))) {
      LOG(ERROR) << "Cannot register \"" << name << "\": row " << i + 1
                 << " failed " << error;
      RollbackOperations(&transaction);
      return false;
    }
  }
  CommitOperations(&transaction);
  return true;
}

bool Installation::GetHandlerCommand(const base::string16& name,
                                     bool all_users,
                                     base::string16* command) {
  const bool extension = IsFileExtensionName(name);
  base::string16 class_name;
  if (Version() >= base::win::VISTA && !all_users) {
    // The user's own choice wins over the classes.
    const base::string16 choice_key =
        base::string16(L"Software\\Microsoft\\Windows\\") +
        (extension ? L"CurrentVersion\\Explorer\\FileExts\\"
                   : L"Shell\\Associations\\UrlAssociations\\") +
        name + L"\\UserChoice";
    base::win::RegKey key;
    LONG result = key.Open(HKEY_CURRENT_USER, choice_key.c_str(), KEY_READ);
    if (result == ERROR_SUCCESS)
      result = key.ReadStringValue(L"ProgId", &class_name);
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
      return false;
    if (result != ERROR_SUCCESS)
      class_name.clear();
  }

  const HKEY classes_root = all_users ? HKEY_LOCAL_MACHINE : HKEY_CLASSES_ROOT;
  const base::string16 classes_prefix =
      all_users ? L"SOFTWARE\\Classes\\" : L"";
  if (class_name.empty()) {
    if (extension) {
      base::win::RegKey key;
      if (key.Open(classes_root, (classes_prefix + name).c_str(), KEY_READ) !=
              ERROR_SUCCESS ||
          key.ReadStringValue(nullptr, &class_name) != ERROR_SUCCESS) {
        return false;
      }
    } else {
      class_name = name;
    }
  }

  base::win::RegKey key;
  return key.Open(
             classes_root,
             (classes_prefix + class_name + L"\\shell\\open\\command").c_str(),
             KEY_READ) == ERROR_SUCCESS &&
         key.ReadStringValue(nullptr, command) == ERROR_SUCCESS;
}

bool Installation::IsDefaultHandlerFor(const base::string16& name) {
  base::string16 command;
  if (!GetHandlerCommand(name, false, &command))
    return false;
  // Windows paths ignore case; a command may spell the launcher otherwise.
  const base::string16 launcher =
      base::ToLowerASCII(folder_.Append(L"launcher.exe").value());
  return base::ToLowerASCII(command).find(launcher) != base::string16::npos;
}

bool Installation::IsDefaultBrowser() {
  if (!IsDefaultHandlerFor(L"http") || !IsDefaultHandlerFor(L"https"))
    return false;
  return Version() >= base::win::WIN8 || IsStartMenuInternetDefault();
}

bool Installation::IsStartMenuInternetDefault() {
  LoadStatus();
  if (Version() >= base::win::VISTA && status_->all_users) {
    return GetAssociationOperations()->QueryAppIsDefault(
        kStartMenuInternetQuery, AT_STARTMENUCLIENT, app_registry_name_);
  }
  base::string16 client;
  {
    base::win::RegKey key;
    LONG result = key.Open(HKEY_CURRENT_USER, kStartMenuInternetKey, KEY_READ);
    if (result == ERROR_SUCCESS)
      result = key.ReadStringValue(nullptr, &client);
    if (result == ERROR_FILE_NOT_FOUND) {
      client.clear();
      result = key.Open(HKEY_LOCAL_MACHINE, kStartMenuInternetKey, KEY_READ);
      if (result == ERROR_SUCCESS)
        result = key.ReadStringValue(nullptr, &client);
    }
    if (result != ERROR_SUCCESS)
      client.clear();
  }
  return client == base::ASCIIToUTF16(GetProductInternalName());
}

bool Installation::GetPreviousDefaultBrowser(base::string16* command) {
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    base::win::RegKey key;
    if (key.Open(root, GetCompanyRegistryKey().c_str(), KEY_READ) ==
            ERROR_SUCCESS &&
        key.ReadStringValue(kPreviousDefaultBrowser, command) ==
            ERROR_SUCCESS) {
      return true;
    }
  }
  return false;
}

bool Installation::SetPreviousDefaultBrowser(const base::string16& command,
                                             bool all_users) {
  base::win::RegKey key(RootFor(all_users), GetCompanyRegistryKey().c_str(),
                        KEY_SET_VALUE);
  return key.Valid() && key.WriteStringValue(kPreviousDefaultBrowser,
                                             command.c_str()) == ERROR_SUCCESS;
}

void Installation::SavePreviousDefaultBrowser(bool all_users) {
  base::string16 command;
  if (!IsDefaultHandlerFor(L"http") &&
      GetHandlerCommand(L"http", all_users, &command)) {
    SetPreviousDefaultBrowser(command, all_users);
  }
}

bool Installation::SetAsDefaultBrowser(bool all_users) {
  // Every user of a single-profile installation shares one profile; the
  // system's default belongs to a user's own browser.
  if (IsSingleProfile())
    return false;
  if (!RegisterProgId(all_users))
    return IsDefaultBrowser();
  SetAsDefaultHandler(L"http", all_users);
  // Where the user has to choose, one question is enough.
  if (IsWindows8Or81())
    return IsDefaultBrowser();
  AssociationOperations* associations = GetAssociationOperations();
  if (Version() >= base::win::WIN10 &&
      !associations->CanSetDefaultBrowserDirectly()) {
    return IsDefaultBrowser();
  }
  for (const wchar_t* name : kDefaultBrowserNames)
    SetAsDefaultHandler(name, all_users);
  if (associations->ShouldHandleProprietaryUris())
    SetAsDefaultHandler(L"microsoft-edge", all_users);
  RegisterStartMenuInternet(all_users);
  return IsDefaultBrowser();
}

bool Installation::RegisterProgId(bool all_users) {
  return ApplyRows(ClassRows(), false, base::string16(), all_users);
}

bool Installation::SetAsDefaultHandler(const base::string16& name,
                                       bool all_users) {
  LoadStatus();
  AssociationOperations* associations = GetAssociationOperations();
  const std::vector<RegistryValueTemplateEntry>& rows =
      IsFileExtensionName(name) ? FileTypeRows() : ProtocolRows();

  if (Version() >= base::win::WIN10) {
    // Only the user can choose, and no row written here would count.
    if (all_users || IsDefaultHandlerFor(name))
      return false;
    if (associations->SetAsDefaultHandlerDirectly(
            app_registry_name_, display_name_,
            base::ASCIIToUTF16(GetProductInternalName()), name)) {
      return true;
    }
    base::string16 target;
    if (base::EqualsCaseInsensitiveASCII(name, L"http"))
      target = L"SystemSettings_DefaultApps_Browser";
    else if (name == L"mailto")
      target = L"SystemSettings_DefaultApps_Email";
    else
      target = L"SettingsPageAppsDefaultsProtocolView";
    return associations->OpenDefaultAppsSettings(target);
  }

  if (IsWindows8Or81()) {
    if (all_users)
      return false;
    if (!IsDefaultHandlerFor(name) &&
        !associations->ChooseHandlerWithOpenWithDialog(name)) {
      return false;
    }
    // The user's choice was just made; it must stay.
    return ApplyRows(rows, true, name, all_users);
  }

  if (!all_users && status_->all_users && Version() >= base::win::VISTA) {
    // The user of a machine-wide installation chooses through the system,
    // which keeps the choice it just recorded.
    if (!associations->SetAppAsDefault(
            app_registry_name_, name,
            IsFileExtensionName(name) ? AT_FILEEXTENSION : AT_URLPROTOCOL)) {
      return false;
    }
    return ApplyRows(rows, true, name, all_users);
  }
  return ApplyRows(rows, Version() < base::win::VISTA, name, all_users);
}

bool Installation::RegisterStartMenuInternet(bool all_users) {
  if (Version() >= base::win::WIN8 && all_users)
    return false;
  LoadStatus();
  if (!all_users && status_->all_users && Version() >= base::win::VISTA &&
      Version() < base::win::WIN8 &&
      !GetAssociationOperations()->SetAppAsDefault(
          app_registry_name_, kStartMenuInternetQuery, AT_STARTMENUCLIENT)) {
    return false;
  }
  return ApplyRows(StartMenuRows(), false, base::string16(), all_users);
}

}  // namespace installer
