#include "desktop/windows/installer/steps/registry_steps.h"

#include <stdint.h>
#include <wchar.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/macros.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/installer_step_context.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/registry_entry_templates.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/service/transactions/registry_operations.h"
#include "desktop/windows/installer/service/transactions/registry_value_template.h"
#include "desktop/windows/installer/settings.h"

namespace installer {
namespace {

const wchar_t kUninstallTemplateKey[] = L"{Uninstall}";
// Far more installations of one version side by side than anyone makes; a
// root where every name seems taken (a parent key that cannot be read)
// ends the search instead of running forever.
const int kMaxUninstallKeySuffix = 1000;
// A hive's top keys and "Software\X" hold far more than the installer's own
// keys; whatever a status file says, nothing that high is deleted.
const size_t kMinDeletedKeyLevels = 3;

const wchar_t kUserClassesKey[] = L"Software\\Classes";
const wchar_t kLauncherExeName[] = L"launcher.exe";

const wchar_t kInstallFolderVariable[] = L"{InstallFolder}";
const wchar_t kProgIdVariable[] = L"{ProgID}";
// Where the browser's ProgID is registered; whoever these name owns the
// registrations that carry the ProgID but no folder of their own.
const wchar_t* const kProgIdKeys[] = {
    L"Software\\Classes\\{ProgID}",
    L"Software\\Clients\\StartMenuInternet\\{ProgID}"};

// A registry value that names the install folder of the installation that
// wrote it last.
struct FolderValue {
  base::string16 key;
  base::string16 name;
  REGSAM view;
};

bool Mentions(const wchar_t* text, const wchar_t* variable) {
  return text && wcsstr(text, variable);
}

bool SameText(const base::string16& a, const base::string16& b) {
  return base::FilePath::CompareIgnoreCase(a, b) == 0;
}

// True when |path| is |scope| or a key below it.
bool IsWithin(const base::string16& path, const base::string16& scope) {
  return path.size() >= scope.size() &&
         SameText(path.substr(0, scope.size()), scope) &&
         (path.size() == scope.size() || path[scope.size()] == L'\\');
}

// True when |data| names |folder| itself or something inside it; the
// folder "C:\K" does not match "C:\K2\Launcher.exe".
bool ContainsIgnoringCase(const base::string16& text,
                          const base::string16& part) {
  for (size_t i = 0; i + part.size() <= text.size(); ++i) {
    if (SameText(text.substr(i, part.size()), part))
      return true;
  }
  return false;
}

bool PointsInto(const base::string16& data, const base::string16& folder) {
  if (folder.empty())
    return false;
  for (size_t i = 0; i + folder.size() <= data.size(); ++i) {
    if (!SameText(data.substr(i, folder.size()), folder))
      continue;
    const size_t end = i + folder.size();
    if (end == data.size() || data[end] == L'\\' || data[end] == L'"')
      return true;
  }
  return false;
}

// Adds the template values that name the install folder inside |key| (only
// |value_name| when given, else the whole key), and tells whether any
// template there carries the ProgID.
void CollectFolderValues(TemplateVariables* variables,
                         const base::string16& key,
                         const base::string16* value_name,
                         std::vector<FolderValue>* values,
                         bool* names_prog_id) {
  for (const RegistryValueTemplateEntry& entry : GetRegistryEntryTemplates()) {
    RegistryValueTemplate value(entry, variables);
    base::string16 entry_key;
    base::string16 entry_name;
    value.ExpandVariables(&entry_key, &entry_name);
    // The uninstall entry's name is known to the writing run only.
    if (entry_key.empty())
      continue;
    const bool inside = value_name ? SameText(entry_key, key) &&
                                         SameText(entry_name, *value_name)
                                   : IsWithin(entry_key, key);
    if (!inside)
      continue;
    const bool text = entry.type == REG_SZ || entry.type == REG_EXPAND_SZ;
    if (text && Mentions(entry.data.text, kInstallFolderVariable))
      values->push_back({entry_key, entry_name, entry.view_flags});
    if (names_prog_id &&
        (Mentions(entry.key, kProgIdVariable) ||
         Mentions(entry.value_name, kProgIdVariable) ||
         (text && Mentions(entry.data.text, kProgIdVariable)))) {
      *names_prog_id = true;
    }
  }
}

HKEY GetRoot(Settings* settings) {
  return settings->GetAllUsers() ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

std::string DescribeValue(const base::string16& key,
                          const base::string16& value_name) {
  if (value_name.empty())
    return "default value to key " + base::UTF16ToUTF8(key);
  return "value " + base::UTF16ToUTF8(value_name) + " to key " +
         base::UTF16ToUTF8(key);
}

// Stops recording however the step ends, so that no later template write
// lands in the status by accident.
class ScopedRegistryRecording {
 public:
  explicit ScopedRegistryRecording(InstallerStepContext* context)
      : context_(context) {
    context_->StartRecordingRegistryValues();
  }
  ~ScopedRegistryRecording() { context_->StopRecordingRegistryValues(); }

 private:
  InstallerStepContext* const context_;

  DISALLOW_COPY_AND_ASSIGN(ScopedRegistryRecording);
};

}  // namespace

SetupRegistryStep::SetupRegistryStep(InstallerStepContext* context,
                                     base::string16* uninstall_key)
    : InstallerStep("setup_registry", context), uninstall_key_(uninstall_key) {}

SetupRegistryStep::~SetupRegistryStep() = default;

// static
bool SetupRegistryStep::BuildUninstallKeyName(HKEY root, base::string16* name) {
  const base::string16 base_name = GetUninstallRegistryKey() + L"\\" +
                                   base::UTF8ToUTF16(GetProductName()) + L" " +
                                   base::UTF8ToUTF16(GetVersionString());
  for (int suffix = 0; suffix <= kMaxUninstallKeySuffix; ++suffix) {
    const base::string16 candidate =
        suffix ? base_name + base::IntToString16(suffix) : base_name;
    base::win::RegKey key;
    const LONG result =
        key.Open(root, candidate.c_str(), KEY_READ | KEY_WOW64_32KEY);
    if (result == ERROR_FILE_NOT_FOUND) {
      *name = candidate;
      return true;
    }
    // A key that exists but cannot be read belongs to someone all the same.
    if (result != ERROR_SUCCESS)
      VLOG(1) << "Uninstall key " << candidate << " taken, error " << result;
  }
  LOG(ERROR) << "No free uninstall key name after " << base_name;
  return false;
}

void SetupRegistryStep::Execute(InstallerStepResult* result, int attempt) {
  *result = InstallerStepResult(STEP_DONE);
  Settings* settings = GetSettings();
  if (settings->GetCopyOnly())
    return;
  LOG(INFO) << "Setting up the registry";
  const InstallerStepResult uninstall_failed(
      STEP_FAILED, RESULT_GENERAL_ERROR, base::string16(),
      "Failed writing uninstallation information");
  const HKEY root = GetRoot(settings);
  if (!BuildUninstallKeyName(root, uninstall_key_)) {
    *result = uninstall_failed;
    return;
  }
  LOG(INFO) << "Uninstall key: " << *uninstall_key_;

  InstallerStepContext* context = GetContext();
  ScopedRegistryRecording recording(context);
  for (const RegistryValueTemplateEntry& entry : GetRegistryEntryTemplates()) {
    RegistryValueTemplate value(entry, context->GetVariables());
    base::string16 key;
    base::string16 value_name;
    value.ExpandVariables(&key, &value_name);
    const bool mandatory =
        entry.key && base::string16(entry.key) == kUninstallTemplateKey;
    std::unique_ptr<TransactionOperation> operation;
    if (!value.CreateOperation(root, &operation)) {
      LOG(ERROR) << "Cannot make the operation writing "
                 << DescribeValue(key, value_name);
      if (mandatory) {
        *result = uninstall_failed;
        return;
      }
      continue;
    }
    if (!operation) {
      VLOG(2) << "Skipping inapplicable operation: "
              << DescribeValue(key, value_name);
      continue;
    }
    LOG(INFO) << "Writing " << DescribeValue(key, value_name);
    // Registry operations tell what went wrong in the log.
    if (!ExecuteOperation(context->GetTransaction(), std::move(operation),
                          nullptr)) {
      LOG(ERROR) << "Failed writing " << DescribeValue(key, value_name);
      if (mandatory) {
        *result = uninstall_failed;
        return;
      }
    }
  }
}

CleanRegistryStep::CleanRegistryStep(InstallerStepContext* context,
                                     int launcher_bitness)
    : InstallerStep("clean_registry", context),
      launcher_bitness_(launcher_bitness) {}

CleanRegistryStep::~CleanRegistryStep() = default;

// static
bool CleanRegistryStep::GetKeyToDelete(const base::string16& path,
                                       uint32_t depth,
                                       base::string16* key) {
  // The status file holds any integer; a negative one arrives here wrapped.
  if (depth == 0 || static_cast<int32_t>(depth) < 0 || path.empty())
    return false;
  // An empty level (a separator at either end or two in a row) is not in a
  // path the installer wrote.
  if (path.front() == L'\\' || path.back() == L'\\' ||
      path.find(L"\\\\") != base::string16::npos) {
    return false;
  }
  std::vector<size_t> separators;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == L'\\')
      separators.push_back(i);
  }
  const size_t levels = separators.size() + 1;
  const size_t up = depth - 1;
  if (up >= levels || levels - up < kMinDeletedKeyLevels)
    return false;
  *key = up ? path.substr(0, separators[levels - 1 - up]) : path;
  return true;
}

void CleanRegistryStep::Execute(InstallerStepResult* result, int attempt) {
  *result = InstallerStepResult(STEP_DONE);
  LOG(INFO) << "Cleaning up registry";
  const InstallationStatus& existing =
      GetContext()->GetExistingInstallationStatus();
  CleanKeys(HKEY_CURRENT_USER, existing.hkcu_keys);
  CleanKeys(HKEY_LOCAL_MACHINE, existing.hklm_keys);
  // An upgrade keeps the launcher where it is, and with it whatever opens it.
  if (GetContext()->GetSettings()->GetOperation() == OPERATION_UNINSTALL)
    RemoveUserProtocolClasses();
  Installation* installation = Installation::GetCurrent();
  installation->RemoveStrayProgIdKey(false);
  if (!existing.hklm_keys.empty())
    installation->RemoveStrayProgIdKey(true);
}

void CleanRegistryStep::RemoveUserProtocolClasses() {
  // Making the browser the user's handler of a protocol writes the
  // protocol's class, which no status records: the handler registration
  // runs long after the status was written, and an upgrade must not take
  // the class away. Once the launcher is gone, a class that opens it only
  // breaks the protocol for the user.
  const base::string16 launcher =
      L"\"" +
      GetContext()->GetInstallFolder().Append(kLauncherExeName).value() +
      L"\"";
  base::win::RegKey classes;
  if (classes.Open(HKEY_CURRENT_USER, kUserClassesKey,
                   KEY_ENUMERATE_SUB_KEYS) != ERROR_SUCCESS) {
    return;
  }
  // Names first: deleting while enumerating would skip keys.
  std::vector<base::string16> names;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD length = static_cast<DWORD>(arraysize(name));
    const LONG error = ::RegEnumKeyExW(classes.Handle(), index, name, &length,
                                       nullptr, nullptr, nullptr, nullptr);
    if (error != ERROR_SUCCESS)
      break;
    names.emplace_back(name, length);
  }
  classes.Close();
  for (const base::string16& name : names) {
    const base::string16 key = base::string16(kUserClassesKey) + L"\\" + name;
    base::win::RegKey protocol;
    base::win::RegKey open;
    base::string16 command;
    if (protocol.Open(HKEY_CURRENT_USER, key.c_str(), KEY_QUERY_VALUE) !=
            ERROR_SUCCESS ||
        !protocol.HasValue(L"URL Protocol") ||
        open.Open(HKEY_CURRENT_USER, (key + L"\\shell\\open\\command").c_str(),
                  KEY_QUERY_VALUE) != ERROR_SUCCESS ||
        open.ReadStringValue(nullptr, &command) != ERROR_SUCCESS ||
        !ContainsIgnoringCase(command, launcher)) {
      continue;
    }
    protocol.Close();
    open.Close();
    LOG(INFO) << "Removing the protocol class " << name
              << ": it opens this installation's launcher";
    ExecuteOperation(
        GetContext()->GetTransaction(),
        std::make_unique<DeleteRegKeyOperation>(HKEY_CURRENT_USER, key, 0),
        nullptr);
  }
}

void CleanRegistryStep::CleanKeys(HKEY root,
                                  const std::vector<RegistryKeyRecord>& keys) {
  for (const RegistryKeyRecord& record : keys)
    CleanKey(root, record);
}

void CleanRegistryStep::CleanKey(HKEY root, const RegistryKeyRecord& record) {
  const int32_t depth = static_cast<int32_t>(record.clean);
  LOG(INFO) << "Cleanup for key " << record.path << " with depth " << depth;
  const base::string16 path = base::UTF8ToUTF16(record.path);
  Transaction* transaction = GetContext()->GetTransaction();
  uint32_t view = 0;
  if (base::StartsWith(path, GetUninstallRegistryKey() + L"\\",
                       base::CompareCase::INSENSITIVE_ASCII)) {
    view = KEY_WOW64_32KEY;
    // A 64-bit build's entry may also sit in the native view; only the one
    // that points at this folder is this installation's.
    base::win::RegKey native;
    base::string16 location;
    if (launcher_bitness_ == EXECUTABLE_OTHER &&
        native.Open(root, path.c_str(), KEY_READ) == ERROR_SUCCESS &&
        native.ReadStringValue(L"InstallLocation", &location) ==
            ERROR_SUCCESS &&
        base::FilePath::CompareIgnoreCase(
            location, GetContext()->GetInstallFolder().value()) == 0) {
      native.Close();
      ExecuteOperation(transaction,
                       std::make_unique<DeleteRegKeyOperation>(root, path, 0),
                       nullptr);
    }
  }
  if (depth == 0) {
    for (const RegistryValueRecord& value : record.values) {
      const base::string16 name = base::UTF8ToUTF16(value.name);
      if (BelongsToAnother(root, path, &name))
        continue;
      ExecuteOperation(
          transaction,
          std::make_unique<ChangeRegValueOperation>(
              root, path, name, nullptr, kDeleteRegistryValueType, 0, view),
          nullptr);
    }
    return;
  }
  base::string16 key;
  if (!GetKeyToDelete(path, record.clean, &key)) {
    LOG(ERROR) << "Invalid clean depth " << depth << " for key " << record.path
               << "; the key is left alone";
    return;
  }
  if (BelongsToAnother(root, key, nullptr))
    return;
  ExecuteOperation(transaction,
                   std::make_unique<DeleteRegKeyOperation>(root, key, view),
                   nullptr);
}

bool CleanRegistryStep::BelongsToAnother(HKEY root,
                                         const base::string16& key,
                                         const base::string16* value_name) {
  // Installations side by side write the same class, client and
  // application keys; the last one written wins them. A key or value that
  // names no folder itself (an extension's class, an "OpenWithProgIDs"
  // entry, "RegisteredApplications") goes with the ProgID's own keys.
  TemplateVariables* variables = GetContext()->GetVariables();
  std::vector<FolderValue> values;
  bool names_prog_id = false;
  CollectFolderValues(variables, key, value_name, &values, &names_prog_id);
  if (values.empty() && names_prog_id) {
    for (const wchar_t* prog_id_key : kProgIdKeys) {
      RegistryValueTemplate expander(RegistryValueTemplateEntry(), variables);
      CollectFolderValues(variables, expander.ExpandVariables(prog_id_key),
                          nullptr, &values, nullptr);
    }
  }
  const base::string16 folder = GetContext()->GetInstallFolder().value();
  for (const FolderValue& value : values) {
    base::win::RegKey opened;
    base::string16 data;
    // A value that is gone names nobody; this installation's own removal
    // may have taken it a moment ago.
    if (opened.Open(root, value.key.c_str(), KEY_QUERY_VALUE | value.view) !=
            ERROR_SUCCESS ||
        opened.ReadStringValue(
            value.name.empty() ? nullptr : value.name.c_str(), &data) !=
            ERROR_SUCCESS) {
      continue;
    }
    if (!PointsInto(data, folder)) {
      LOG(INFO) << "Leaving "
                << (value_name
                        ? "value " + base::UTF16ToUTF8(*value_name) + " of key "
                        : std::string("key "))
                << key << " alone: it belongs to the installation named by "
                << value.key << " (" << data << ")";
      return true;
    }
  }
  return false;
}

}  // namespace installer
