#include "desktop/windows/installer/existing_installation_reader.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/synchronization/lock.h"
#include "base/win/registry.h"
#include "base/win/shortcut.h"
#include "desktop/windows/installer/common/process_runner.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/installer_step_context.h"
#include "desktop/windows/installer/os_operations.h"
#include "desktop/windows/installer/package_fetcher/signature_check.h"
#include "desktop/windows/installer/service/registry_entry_templates.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/service/taskband_utils.h"
#include "desktop/windows/installer/service/transactions/registry_operations.h"
#include "desktop/windows/installer/service/transactions/registry_value_template.h"
#include "desktop/windows/installer/steps/shortcut_steps.h"

namespace installer {

namespace {

const wchar_t kStatusFileName[] = L"installation_status.json";
const wchar_t kLegacyStatusFileName[] = L"installation_status.xml";
const wchar_t kOldStatusFolderName[] = L"old_status";
const wchar_t kInstallerExe[] = L"installer.exe";
const wchar_t kFilesListName[] = L"files_list";
const wchar_t kAssetsFolderName[] = L"Assets";
const wchar_t* const kRootFileNames[] = {
    L"Resources.pri",
    L"launcher.visualelementsmanifest.xml",
};

LegacyInstallationReader* g_legacy_reader_for_testing = nullptr;

enum StatusFileTry {
  STATUS_FILE_READ = 0,
  STATUS_FILE_UNUSABLE = 1,
  STATUS_FILE_MISSING = 2,
};

StatusFileTry TryStatusFile(const base::FilePath& folder,
                            const wchar_t* name,
                            InstallationStatusOrigin origin,
                            const char* description,
                            std::unique_ptr<InstallationStatus>* status,
                            std::string* error,
                            std::string* contents) {
  const base::FilePath file = folder.Append(name);
  std::string read_error;
  std::string text;
  *status = ReadInstallationStatusFile(file, origin, &read_error, &text);
  if (*status)
    return STATUS_FILE_READ;
  if (!base::PathExists(file))
    return STATUS_FILE_MISSING;
  *error = std::string(description) + " status file, " + read_error;
  *contents = std::move(text);
  return STATUS_FILE_UNUSABLE;
}

// The copy in "old_status" with the greatest number after its last dot.
base::FilePath FindBestOldStatusFile(const base::FilePath& folder) {
  base::FilePath best;
  unsigned int best_number = 0;
  base::FileEnumerator files(folder.Append(kOldStatusFolderName), false,
                             base::FileEnumerator::FILES);
  for (base::FilePath path = files.Next(); !path.empty(); path = files.Next()) {
    const base::string16 name = path.BaseName().value();
    if (name.find(kStatusFileName) == base::string16::npos &&
        name.find(kLegacyStatusFileName) == base::string16::npos) {
      continue;
    }
    const size_t dot = name.rfind(L'.');
    unsigned int number = 0;
    if (dot == base::string16::npos ||
        !base::StringToUint(name.substr(dot + 1), &number) || number == 0 ||
        !base::IsAsciiDigit(name[dot + 1])) {
      continue;
    }
    if (number > best_number) {
      best_number = number;
      best = path;
    }
  }
  return best;
}

std::unique_ptr<InstallationStatus> ReadOldStatusFile(
    const base::FilePath& folder, std::string* error) {
  const base::FilePath file = FindBestOldStatusFile(folder);
  if (file.empty())
    return nullptr;
  const bool json =
      file.BaseName().value().find(kStatusFileName) != base::string16::npos;
  LOG(INFO) << "Recovering the status from " << file.value();
  return ReadInstallationStatusFile(
      file,
      json ? INSTALLATION_STATUS_RECOVERED_FROM_OLD_FILES
           : INSTALLATION_STATUS_LEGACY_XML_RECOVERED_FROM_OLD_FILES,
      error);
}

// The placeholders of the registration table as an older installation in
// |folder| filled them.
class ReconstructionVariables : public TemplateVariables {
 public:
  ReconstructionVariables(const base::FilePath& folder,
                          const base::string16& uninstall_key)
      : folder_(folder), uninstall_key_(uninstall_key) {}

  base::string16 GetVariable(const base::string16& name) const override {
    if (name == L"InstallFolder")
      return folder_.value();
    if (name == L"Product")
      return base::UTF8ToUTF16(GetProductName());
    if (name == L"Stream")
      return base::UTF8ToUTF16(GetChannelName());
    if (name == L"Uninstall")
      return uninstall_key_;
    if (name == L"ProgID")
      return base::UTF8ToUTF16(GetProductInternalName());
    if (name == L"Executable")
      return base::UTF8ToUTF16(GetBrowserExeName());
    return name;
  }
  std::vector<RegistryKeyRecord>* GetRecordedRegistryValues(HKEY) override {
    return nullptr;
  }

 private:
  const base::FilePath folder_;
  const base::string16 uninstall_key_;
};

// The uninstall entry of the installation in |folder|: the first subkey of
// the uninstall key, in the user's view and then the machine's, that is
// ours and points at the folder.
bool FindUninstallEntry(const base::FilePath& folder,
                        bool* all_users,
                        base::string16* name) {
  OsOperations* os = GetOsOperations();
  const struct {
    HKEY root;
    uint32_t view;
    bool machine;
  } kViews[] = {
      {HKEY_CURRENT_USER, 0, false},
      {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, true},
      {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, true},
  };
  const base::string16 product = base::UTF8ToUTF16(GetProductName());
  const base::string16 company = base::UTF8ToUTF16(GetCompanyName());
  const base::FilePath wanted = folder.StripTrailingSeparators();
  for (const auto& view : kViews) {
    if (view.view == KEY_WOW64_64KEY && !os->GetOsArchitecture())
      continue;
    std::unique_ptr<RegistryKeyEnumerator> uninstall =
        os->CreateRegistryKeyEnumerator(view.root, GetUninstallRegistryKey(),
                                        KEY_READ | view.view);
    if (!uninstall || !uninstall->IsValid())
      continue;
    std::unique_ptr<RegistrySubkeyEnumerator> subkeys =
        uninstall->CreateSubkeyEnumerator();
    while (std::unique_ptr<RegistryKeyEnumerator> subkey = subkeys->Next()) {
      const base::string16 subkey_name = subkey->GetName();
      base::string16 publisher;
      base::string16 location;
      if (!base::StartsWith(subkey_name, product,
                            base::CompareCase::SENSITIVE) ||
          !subkey->ReadValue(L"Publisher", &publisher) ||
          !base::StartsWith(publisher, company, base::CompareCase::SENSITIVE) ||
          !subkey->ReadValue(L"InstallLocation", &location) ||
          base::FilePath::CompareIgnoreCase(
              base::FilePath(location).StripTrailingSeparators().value(),
              wanted.value()) != 0) {
        continue;
      }
      *all_users = view.machine;
      *name = subkey_name;
      return true;
    }
  }
  return false;
}

// The newest version folder that holds a complete older installation.
bool FindVersionFolder(const base::FilePath& folder,
                       base::FilePath* version_folder) {
  const base::FilePath browser_exe(base::UTF8ToUTF16(GetBrowserExeName()));
  base::Time newest;
  base::FileEnumerator folders(folder, false,
                               base::FileEnumerator::DIRECTORIES);
  for (base::FilePath path = folders.Next(); !path.empty();
       path = folders.Next()) {
    // An unpacked package that was never installed still holds its list.
    if (!IsVersionFolderName(path, nullptr) ||
        base::PathExists(path.Append(kFilesListName)) ||
        !base::PathExists(path.Append(browser_exe)) ||
        !base::PathExists(path.Append(kInstallerExe))) {
      continue;
    }
    const base::Time modified = folders.GetInfo().GetLastModifiedTime();
    if (version_folder->empty() || modified > newest) {
      newest = modified;
      *version_folder = path;
    }
  }
  return !version_folder->empty();
}

bool QueryVersion(const base::FilePath& installer, std::string* version) {
  base::CommandLine command_line(installer);
  command_line.AppendSwitch("version");
  std::string output;
  bool ran;
  {
    base::AutoLock lock(*GetProcessLaunchLock());
    ran = GetOsOperations()->GetAppOutput(command_line, &output);
  }
  base::TrimWhitespaceASCII(output, base::TRIM_ALL, version);
  if (!ran || version->empty()) {
    LOG(ERROR) << "No version from " << installer.value();
    return false;
  }
  return true;
}

// The application id's last dot-separated part when it is empty or a
// number, as the installer makes them.
bool GetShortcutAppIdSuffix(const base::string16& app_id,
                            base::string16* suffix) {
  const size_t dot = app_id.rfind(L'.');
  *suffix = dot == base::string16::npos ? app_id : app_id.substr(dot + 1);
  return std::all_of(suffix->begin(), suffix->end(),
                     [](wchar_t c) { return base::IsAsciiDigit(c); });
}

void FindShortcuts(ShortcutPropertiesReader* reader,
                   InstallationStatus* status) {
  // Looked for in this order.
  const struct {
    int kind;
    base::FilePath* shortcut;
  } kFolders[] = {
      {SHORTCUT_DESKTOP, &status->desktop_shortcut},
      {SHORTCUT_QUICK_LAUNCH, &status->quick_launch_shortcut},
      {SHORTCUT_START_MENU, &status->menu_shortcut},
  };
  for (const auto& folder : kFolders) {
    base::FilePath path;
    if (!base::PathService::Get(
            ShortcutFolderKey(folder.kind, status->all_users), &path)) {
      continue;
    }
    base::FileEnumerator links(path, false, base::FileEnumerator::FILES,
                               L"*.lnk");
    for (base::FilePath link = links.Next(); !link.empty();
         link = links.Next()) {
      base::win::ShortcutProperties properties;
      reader->ReadTargetAndAppId(link, &properties);
      const uint32_t kBoth = base::win::ShortcutProperties::PROPERTIES_TARGET |
                             base::win::ShortcutProperties::PROPERTIES_APP_ID;
      base::string16 suffix;
      if ((properties.options & kBoth) != kBoth ||
          !IsParentPathIgnoreCase(status->path, properties.target) ||
          !GetShortcutAppIdSuffix(properties.app_id, &suffix)) {
        continue;
      }
      *folder.shortcut = link;
      status->app_id = suffix;
      break;
    }
  }
}

// Every file under |folder|, relative to |base|, in name order.
void ListFiles(const base::FilePath& folder,
               const base::FilePath& base,
               std::vector<base::FilePath>* files) {
  std::vector<base::FilePath> found;
  base::FileEnumerator enumerator(folder, true, base::FileEnumerator::FILES);
  for (base::FilePath path = enumerator.Next(); !path.empty();
       path = enumerator.Next()) {
    base::FilePath relative;
    if (base.AppendRelativePath(path, &relative))
      found.push_back(relative);
  }
  std::sort(found.begin(), found.end());
  files->insert(files->end(), found.begin(), found.end());
}

bool HasFileNamed(const std::vector<base::FilePath>& files,
                  const base::FilePath& name) {
  return std::any_of(files.begin(), files.end(),
                     [&name](const base::FilePath& file) {
                       return base::FilePath::CompareIgnoreCase(
                                  file.BaseName().value(), name.value()) == 0;
                     });
}

// The values of the registration table that the installation wrote. A key
// is cleaned on uninstall as deep as the deepest of its rows asks, whichever
// of its values are found.
void ReadRegistration(const base::FilePath& folder,
                      const base::string16& uninstall_key,
                      InstallationStatus* status) {
  const HKEY root = status->all_users ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  std::vector<RegistryKeyRecord>* keys =
      status->all_users ? &status->hklm_keys : &status->hkcu_keys;
  ReconstructionVariables variables(folder, uninstall_key);
  struct Row {
    base::string16 key;
    base::string16 value_name;
  };
  std::vector<Row> rows;
  std::map<base::string16, uint32_t> depths;
  for (const RegistryValueTemplateEntry& entry : GetRegistryEntryTemplates()) {
    // Rows of the other root, and those that remove something, wrote
    // nothing of this installation.
    if ((entry.root && entry.root != root) ||
        entry.type == kDeleteRegistryKeyType ||
        entry.type == kDeleteRegistryValueType) {
      continue;
    }
    Row row;
    RegistryValueTemplate(entry, &variables)
        .ExpandVariables(&row.key, &row.value_name);
    uint32_t& depth = depths[base::ToLowerASCII(row.key)];
    depth = std::max(depth, entry.clean_mode);
    rows.push_back(std::move(row));
  }
  for (const Row& row : rows) {
    base::win::RegKey key;
    if (key.Open(root, row.key.c_str(), KEY_READ | KEY_WOW64_32KEY) !=
        ERROR_SUCCESS) {
      continue;
    }
    DWORD size = 0;
    DWORD type = REG_NONE;
    if (key.ReadValue(row.value_name.c_str(), nullptr, &size, &type) !=
        ERROR_SUCCESS) {
      continue;
    }
    std::vector<uint8_t> data(size + sizeof(wchar_t));
    if (size && key.ReadValue(row.value_name.c_str(), data.data(), &size,
                              &type) != ERROR_SUCCESS) {
      continue;
    }
    AddRegistryValueToStatus(keys, row.key, row.value_name, data.data(),
                             static_cast<int>(type), size,
                             depths[base::ToLowerASCII(row.key)]);
  }
}

}  // namespace

InstallationStatusFileReaderImpl::InstallationStatusFileReaderImpl() = default;

InstallationStatusFileReaderImpl::~InstallationStatusFileReaderImpl() = default;

std::unique_ptr<InstallationStatus> InstallationStatusFileReaderImpl::Read(
    const base::FilePath& folder,
    bool recovery_mode,
    std::string* error,
    std::string* contents) {
  std::unique_ptr<InstallationStatus> status;
  StatusFileTry tried =
      TryStatusFile(folder, kStatusFileName, INSTALLATION_STATUS_PRIMARY,
                    "Kavor JSON status file", &status, error, contents);
  if (tried == STATUS_FILE_READ)
    return status;
  // A damaged status file is not overruled by an older form of the record,
  // except when the autoupdate must find the installation.
  if (tried == STATUS_FILE_MISSING) {
    if (TryStatusFile(folder, kLegacyStatusFileName,
                      INSTALLATION_STATUS_LEGACY_XML,
                      "Kavor legacy XML status file", &status, error,
                      contents) == STATUS_FILE_READ) {
      return status;
    }
  }
  if (recovery_mode) {
    std::string old_error;
    status = ReadOldStatusFile(folder, &old_error);
    if (status)
      return status;
    if (!old_error.empty())
      LOG(ERROR) << "Unusable old status file: " << old_error;
  }
  return GetLegacyInstallationReader()->Read(folder);
}

LegacyInstallationReaderImpl::LegacyInstallationReaderImpl(
    ShortcutPropertiesReader* shortcut_reader)
    : shortcut_reader_(shortcut_reader ? shortcut_reader
                                       : GetShellShortcutPropertiesReader()) {}

LegacyInstallationReaderImpl::~LegacyInstallationReaderImpl() = default;

std::unique_ptr<InstallationStatus> LegacyInstallationReaderImpl::Read(
    const base::FilePath& folder) {
  if (!base::DirectoryExists(folder))
    return nullptr;
  bool all_users = false;
  base::string16 uninstall_name;
  if (!FindUninstallEntry(folder, &all_users, &uninstall_name))
    return nullptr;
  VLOG(1) << "Uninstall entry " << uninstall_name << " names "
          << folder.value();
  base::FilePath version_folder;
  if (!FindVersionFolder(folder, &version_folder)) {
    LOG(INFO) << "No version folder of an older installation in "
              << folder.value();
    return nullptr;
  }
  // The folder and the uninstall entry that led here may be the user's
  // while this run is elevated: a signed installer asks only a program
  // signed as it is.
  const base::FilePath installer = version_folder.Append(kInstallerExe);
  if (!IsProgramSignatureAccepted(installer, "older installer")) {
    LOG(ERROR) << "Not asking " << installer.value() << " for its version";
    return nullptr;
  }
  std::string version;
  if (!QueryVersion(installer, &version))
    return nullptr;

  auto status =
      std::make_unique<InstallationStatus>(INSTALLATION_STATUS_FULLY_RECOVERED);
  status->all_users = all_users;
  status->copy_only = false;
  status->path = folder;
  status->subfolder = version_folder.BaseName();
  status->version = version;
  FindShortcuts(shortcut_reader_, status.get());
  ListFiles(version_folder, version_folder, &status->files);
  if (!HasFileNamed(status->files,
                    base::FilePath(base::UTF8ToUTF16(GetBrowserExeName()))) ||
      !HasFileNamed(status->files, base::FilePath(kInstallerExe))) {
    return nullptr;
  }
  const base::FilePath assets = folder.Append(kAssetsFolderName);
  if (base::DirectoryExists(assets))
    ListFiles(assets, folder, &status->root_files);
  for (const wchar_t* name : kRootFileNames) {
    if (base::PathExists(folder.Append(name)))
      status->root_files.push_back(base::FilePath(name));
  }
  // The table's uninstall rows name the whole key, not only the entry's
  // name.
  ReadRegistration(folder, GetUninstallRegistryKey() + L"\\" + uninstall_name,
                   status.get());
  LOG(INFO) << "Rebuilt the record of version " << version << " in "
            << folder.value();
  return status;
}

LegacyInstallationReader* GetLegacyInstallationReader() {
  if (g_legacy_reader_for_testing)
    return g_legacy_reader_for_testing;
  static LegacyInstallationReader* const reader =
      new LegacyInstallationReaderImpl();
  return reader;
}

void SetLegacyInstallationReaderForTesting(LegacyInstallationReader* reader) {
  g_legacy_reader_for_testing = reader;
}

}  // namespace installer
