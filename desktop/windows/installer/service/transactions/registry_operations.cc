#include "desktop/windows/installer/service/transactions/registry_operations.h"

#include <shlwapi.h>

#include "base/logging.h"
#include "base/scope_guard.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "desktop/windows/installer/service/service_utils.h"

namespace installer {
namespace {

// Query and set value: what a value change needs on its key.
constexpr uint32_t kValueAccess = KEY_QUERY_VALUE | KEY_SET_VALUE;
// DELETE, READ_CONTROL, query, set, create-subkey, enumerate, notify.
constexpr uint32_t kDeleteTreeAccess = 0x3001F;
// The part of kDeleteTreeAccess that saving and deleting really use.
constexpr uint32_t kDeleteTreeCheckAccess = 0x30019;
// Group, DACL and label: what a re-created key gets back.
constexpr SECURITY_INFORMATION kSavedSecurityInfo = GROUP_SECURITY_INFORMATION |
                                                    DACL_SECURITY_INFORMATION |
                                                    LABEL_SECURITY_INFORMATION;

SE_OBJECT_TYPE SecurityObjectType(uint32_t view_flags) {
  return view_flags == KEY_WOW64_32KEY ? SE_REGISTRY_WOW64_32KEY
                                       : SE_REGISTRY_KEY;
}

// The parent of a key path: key names may hold "/", so only "\\" separates.
// A single name gives ".", whose parent is itself: the ancestor search ends.
base::string16 ParentKey(const base::string16& key_path) {
  const size_t separator = key_path.rfind(L'\\');
  return separator == base::string16::npos ? base::string16(L".")
                                           : key_path.substr(0, separator);
}

base::string16 ObjectName(HKEY root, const base::string16& key_path) {
  base::string16 name;
  RegistryRootToObjectNamePrefix(root, key_path, &name);
  return name;
}

// |*descriptor| (self-relative, as RegGetKeySecurity gives it) with the DACL
// that |previous| saved, and its protection from inheritance, in place of its
// own: the key's security as it was before the access grant.
bool PutBackPreviousDacl(const SavedSecurityDescriptor& previous,
                         std::vector<uint8_t>* descriptor) {
  PSECURITY_DESCRIPTOR current = descriptor->data();
  SECURITY_DESCRIPTOR absolute;
  PSID group = nullptr;
  PACL sacl = nullptr;
  BOOL group_defaulted = FALSE, sacl_present = FALSE, sacl_defaulted = FALSE;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (!::InitializeSecurityDescriptor(&absolute,
                                      SECURITY_DESCRIPTOR_REVISION) ||
      !::GetSecurityDescriptorGroup(current, &group, &group_defaulted) ||
      !::SetSecurityDescriptorGroup(&absolute, group, group_defaulted) ||
      !::GetSecurityDescriptorSacl(current, &sacl_present, &sacl,
                                   &sacl_defaulted) ||
      !::SetSecurityDescriptorSacl(&absolute, sacl_present, sacl,
                                   sacl_defaulted) ||
      !::SetSecurityDescriptorDacl(&absolute, TRUE, previous.dacl(), FALSE) ||
      !::GetSecurityDescriptorControl(previous.descriptor(), &control,
                                      &revision) ||
      !::SetSecurityDescriptorControl(&absolute, SE_DACL_PROTECTED,
                                      control & SE_DACL_PROTECTED)) {
    return false;
  }
  DWORD size = 0;
  ::MakeSelfRelativeSD(&absolute, nullptr, &size);
  std::vector<uint8_t> result(size);
  if (!size || !::MakeSelfRelativeSD(&absolute, result.data(), &size))
    return false;
  descriptor->swap(result);
  return true;
}

void RestoreSavedSecurity(std::unique_ptr<SavedSecurityDescriptor>* saved) {
  if (*saved)
    SecurityUtilsImpl::GetInstance()->RestoreSecurity(saved);
  saved->reset();
}

}  // namespace

struct DeleteRegKeyOperation::SavedRegistryValue {
  base::string16 name;
  uint32_t type = REG_NONE;
  std::vector<uint8_t> data;
};

struct DeleteRegKeyOperation::SavedRegistryKey {
  base::string16 key_path;
  std::vector<uint8_t> security;
  std::vector<std::unique_ptr<SavedRegistryValue>> values;
};

ChangeRegValueOperation::ChangeRegValueOperation(
    HKEY root,
    const base::string16& key_path,
    const base::string16& value_name,
    const void* data,
    uint32_t type,
    uint32_t size,
    uint32_t view_flags)
    : root_(root),
      key_path_(key_path),
      value_name_(value_name),
      new_type_(type),
      view_flags_(view_flags) {
  if (data && size) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    new_data_.assign(bytes, bytes + size);
  }
}

ChangeRegValueOperation::~ChangeRegValueOperation() {
  RestoreSavedSecurity(&saved_security_);
  key_.Close();
}

bool ChangeRegValueOperation::Execute(Transaction* nested, std::string* error) {
  VLOG(1) << "Attempting to change registry value at " << root_ << ": "
          << key_path_ << " - " << value_name_ << ". New Type:" << new_type_;
  const base::string16 object_name = ObjectName(root_, key_path_);
  const SE_OBJECT_TYPE object_type = SecurityObjectType(view_flags_);
  const REGSAM access = view_flags_ | kValueAccess;
  SecurityUtils* security = SecurityUtilsImpl::GetInstance();

  LONG result = key_.Open(root_, key_path_.c_str(), access);
  if (result == ERROR_FILE_NOT_FOUND) {
    VLOG(1) << "Key does not exist,";
    if (new_type_ == kDeleteRegistryValueType) {
      VLOG(1) << "but we are trying to remove the value, nothing to do.";
      return true;
    }
    VLOG(1) << "try to create it.";
    if (!ExecuteOperation(nested,
                          std::make_unique<CreateRegKeyOperation>(
                              root_, key_path_, view_flags_),
                          nullptr)) {
      return false;
    }
    result = key_.Open(root_, key_path_.c_str(), access);
  }

  if (result == ERROR_ACCESS_DENIED ||
      (result == ERROR_SUCCESS &&
       !security->HasAccess(object_name, object_type, kValueAccess))) {
    VLOG(1) << "We don't have enough permissions on the key.";
    if (saved_security_ ||
        !security->GrantAccess(object_name, object_type, kValueAccess, false,
                               &saved_security_)) {
      LOG(ERROR) << "Failed to obtain sufficient permissions on "
                 << object_name;
      return false;
    }
    if (key_.Open(root_, key_path_.c_str(), access) != ERROR_SUCCESS) {
      LOG(ERROR) << "Failed to open " << object_name;
      return false;
    }
  } else if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed to open " << object_name;
    return false;
  }

  DWORD size = 0;
  DWORD type = REG_NONE;
  result = key_.ReadValue(value_name_.c_str(), nullptr, &size, &type);
  if (result == ERROR_FILE_NOT_FOUND) {
    VLOG(1) << "The value doesn't already exist.";
    old_type_ = kDeleteRegistryValueType;
  } else if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed to read " << value_name_ << " from " << object_name;
    return false;
  } else {
    old_data_.resize(size);
    result = key_.ReadValue(value_name_.c_str(),
                            old_data_.empty() ? nullptr : old_data_.data(),
                            &size, &type);
    if (result != ERROR_SUCCESS) {
      LOG(ERROR) << "Failed to read " << value_name_ << " from " << object_name
                 << " (but we succeeded before).";
      return false;
    }
    old_data_.resize(size);
    old_type_ = type;
    VLOG(1) << "Value read successfully.";
  }

  if (new_type_ == kDeleteRegistryValueType) {
    if (old_type_ == kDeleteRegistryValueType) {
      VLOG(1) << "We are supposed to remove the value. Nothing to do.";
      return true;
    }
    if (key_.DeleteValue(value_name_.c_str()) != ERROR_SUCCESS) {
      LOG(ERROR) << "Failed to remove " << value_name_ << " from "
                 << object_name;
      return false;
    }
  } else if (key_.WriteValue(value_name_.c_str(),
                             new_data_.empty() ? nullptr : new_data_.data(),
                             static_cast<DWORD>(new_data_.size()),
                             new_type_) != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed writing " << value_name_ << " to " << object_name;
    return false;
  }
  VLOG(1) << "Value changed successfully.";
  changed_ = true;
  return true;
}

void ChangeRegValueOperation::Rollback() {
  if (!changed_)
    return;
  const auto restore = [this]() {
    if (old_type_ == kDeleteRegistryValueType)
      return key_.DeleteValue(value_name_.c_str());
    return key_.WriteValue(value_name_.c_str(),
                           old_data_.empty() ? nullptr : old_data_.data(),
                           static_cast<DWORD>(old_data_.size()), old_type_);
  };
  LONG result = restore();
  // A later operation may have deleted the key and its rollback made it
  // again: the handle of Execute then points at the deleted key, and the
  // value must go to the key that is there now.
  if (result == ERROR_KEY_DELETED) {
    result = key_.Open(root_, key_path_.c_str(), view_flags_ | kValueAccess);
    if (result == ERROR_SUCCESS)
      result = restore();
  }
  if (result != ERROR_SUCCESS)
    LOG(ERROR) << "Failed to roll back " << value_name_ << " of " << key_path_;
  changed_ = false;
}

CreateRegKeyOperation::CreateRegKeyOperation(HKEY root,
                                             const base::string16& key_path,
                                             uint32_t view_flags)
    : key_path_(key_path), root_(root), view_flags_(view_flags) {}

CreateRegKeyOperation::~CreateRegKeyOperation() {
  RestoreSavedSecurity(&saved_security_);
}

bool CreateRegKeyOperation::Execute(Transaction* nested, std::string* error) {
  VLOG(1) << "Attempting to create registry key " << key_path_ << " under "
          << root_;
  HKEY key = nullptr;
  LONG result = ::RegOpenKeyExW(root_, key_path_.c_str(), 0,
                                view_flags_ | KEY_QUERY_VALUE, &key);
  if (result != ERROR_FILE_NOT_FOUND) {
    if (result == ERROR_SUCCESS)
      ::RegCloseKey(key);
    VLOG(1) << "The key already exists. No need to do anything.";
    return true;
  }

  VLOG(1) << "Attempting to find the nearest existing ancestor.";
  base::string16 child = key_path_;
  base::string16 ancestor = ParentKey(child);
  if (ancestor == child) {
    LOG(ERROR) << "No existing ancestor found.";
    return false;
  }
  bool opened = false;
  for (;;) {
    result = ::RegOpenKeyExW(root_, ancestor.c_str(), 0,
                             view_flags_ | KEY_CREATE_SUB_KEY, &key);
    if (result == ERROR_FILE_NOT_FOUND) {
      child = ancestor;
      ancestor = ParentKey(child);
      if (ancestor == child) {
        LOG(ERROR) << "No existing ancestor found.";
        return false;
      }
      continue;
    }
    if (result == ERROR_ACCESS_DENIED)
      break;
    if (result != ERROR_SUCCESS) {
      LOG(ERROR) << "Existing ancestor could not be opened.";
      return false;
    }
    ::RegCloseKey(key);
    opened = true;
    break;
  }

  VLOG(1) << "Ancestor found: " << ancestor;
  const base::string16 object_name = ObjectName(root_, ancestor);
  const SE_OBJECT_TYPE object_type = SecurityObjectType(view_flags_);
  SecurityUtils* security = SecurityUtilsImpl::GetInstance();
  if (!opened || !security->HasAccess(object_name, object_type, kValueAccess)) {
    VLOG(1) << "No access to" << object_name;
    if (!security->GrantAccess(object_name, object_type, KEY_CREATE_SUB_KEY,
                               false, &saved_security_)) {
      LOG(ERROR) << "Failed obtaining permissions on " << object_name;
      return false;
    }
  }

  created_key_path_ = child;
  result =
      ::RegCreateKeyExW(root_, key_path_.c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS | view_flags_, nullptr, &key, nullptr);
  if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed creating key.";
    return false;
  }
  ::RegCloseKey(key);
  return true;
}

void CreateRegKeyOperation::Rollback() {
  if (created_key_path_.empty())
    return;
  // The tree goes through a handle on its parent opened in the operation's
  // view: a delete by path from the root would reach the native view's key
  // of that name, not the one this operation created.
  const size_t separator = created_key_path_.rfind(L'\\');
  HKEY parent_key = root_;
  if (separator != base::string16::npos &&
      ::RegOpenKeyExW(root_, created_key_path_.substr(0, separator).c_str(), 0,
                      view_flags_ | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE,
                      &parent_key) != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed to open the parent of " << created_key_path_;
    return;
  }
  const base::string16 name = created_key_path_.substr(
      separator == base::string16::npos ? 0 : separator + 1);
  const LONG result = ::SHDeleteKeyW(parent_key, name.c_str());
  if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed to delete " << created_key_path_ << ": "
               << FormatWin32Error(result);
  }
  if (parent_key != root_)
    ::RegCloseKey(parent_key);
  created_key_path_.clear();
}

DeleteRegKeyOperation::DeleteRegKeyOperation(HKEY root,
                                             const base::string16& key_path,
                                             uint32_t view_flags)
    : key_path_(key_path), root_(root), view_flags_(view_flags) {}

DeleteRegKeyOperation::~DeleteRegKeyOperation() = default;

bool DeleteRegKeyOperation::Execute(Transaction* nested, std::string* error) {
  VLOG(1) << "Attempting to delete registry key " << key_path_ << " under "
          << root_;
  const base::string16 object_name = ObjectName(root_, key_path_);
  HKEY key = nullptr;
  const LONG result = ::RegOpenKeyExW(root_, key_path_.c_str(), 0,
                                      view_flags_ | KEY_QUERY_VALUE, &key);
  if (result == ERROR_SUCCESS || result == ERROR_ACCESS_DENIED) {
    if (result == ERROR_SUCCESS)
      ::RegCloseKey(key);
    return DeleteAndSaveRecursive(key_path_, object_name);
  }
  if (result == ERROR_FILE_NOT_FOUND) {
    VLOG(1) << "Key does not exist. Nothing to do.";
    return true;
  }
  LOG(ERROR) << "Failed to open key " << object_name;
  return false;
}

void DeleteRegKeyOperation::Rollback() {
  bool complete = true;
  for (const auto& saved : saved_keys_) {
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor =
        saved->security.empty() ? nullptr : saved->security.data();
    attributes.bInheritHandle = FALSE;
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (CreateKey(saved->key_path, &attributes, &key, &disposition) !=
        ERROR_SUCCESS) {
      LOG(ERROR) << "Failed to re-create " << saved->key_path;
      complete = false;
      continue;
    }
    // A key that exists again keeps what it holds now.
    if (disposition == REG_CREATED_NEW_KEY) {
      for (const auto& value : saved->values) {
        const LONG result =
            ::RegSetValueExW(key, value->name.c_str(), 0, value->type,
                             value->data.empty() ? nullptr : value->data.data(),
                             static_cast<DWORD>(value->data.size()));
        if (result != ERROR_SUCCESS) {
          LOG(ERROR) << "Failed to restore the value " << value->name << " of "
                     << saved->key_path << ": " << FormatWin32Error(result);
          complete = false;
        }
      }
    }
    ::RegCloseKey(key);
  }
  if (complete)
    return;
  // A rollback has no result of its own; the failure joins whatever the
  // thread's last-error record holds (the failure that caused the rollback)
  // and never leaves it reading as success.
  const std::string message = "Rollback of the deleted registry key " +
                              base::WideToUTF8(ObjectName(root_, key_path_)) +
                              " is incomplete";
  LOG(ERROR) << message;
  if (GetLastInstallerErrorCode() == RESULT_SUCCESS)
    SetLastInstallerError(RESULT_GENERAL_ERROR, message);
  else
    AddLastInstallerErrorContext(message);
}

LONG DeleteRegKeyOperation::CreateKey(const base::string16& key_path,
                                      SECURITY_ATTRIBUTES* attributes,
                                      HKEY* key,
                                      DWORD* disposition) {
  return ::RegCreateKeyExW(root_, key_path.c_str(), 0, nullptr, 0,
                           kDeleteTreeAccess | view_flags_, attributes, key,
                           disposition);
}

LONG DeleteRegKeyOperation::DeleteKey(const base::string16& key_path) {
  return ::RegDeleteKeyExW(root_, key_path.c_str(), view_flags_, 0);
}

bool DeleteRegKeyOperation::DeleteAndSaveRecursive(
    const base::string16& key_path, const base::string16& object_name) {
  VLOG(1) << "DeleteAndSaveRecursive : " << key_path;
  auto saved = std::make_unique<SavedRegistryKey>();
  saved->key_path = key_path;

  const SE_OBJECT_TYPE object_type = SecurityObjectType(view_flags_);
  SecurityUtils* security = SecurityUtilsImpl::GetInstance();
  HKEY key = nullptr;
  std::unique_ptr<SavedSecurityDescriptor> previous_security;
  // A key that stays, whatever failed, keeps the security it had: the access
  // granted for the deletion goes only with the key.
  base::ScopeGuard take_back_grant([&] {
    if (previous_security && !security->RestoreSecurity(&previous_security)) {
      LOG(ERROR) << "Could not take back the access granted on " << object_name;
    }
  });
  LONG result = ::RegOpenKeyExW(root_, key_path.c_str(), 0,
                                kDeleteTreeAccess | view_flags_, &key);
  const bool opened = result == ERROR_SUCCESS;
  if (result == ERROR_ACCESS_DENIED ||
      (opened && !security->HasAccess(object_name, object_type,
                                      kDeleteTreeCheckAccess))) {
    if (opened)
      ::RegCloseKey(key);
    VLOG(1) << "Insufficient permissions on the key";
    // The security before the grant is what a rollback must bring back; the
    // grant itself goes with the key.
    if (!security->GrantAccess(object_name, object_type, kDeleteTreeAccess,
                               false, &previous_security)) {
      LOG(ERROR) << "Unable to obtain sufficient permissions on key"
                 << object_name;
      return false;
    }
    result = ::RegOpenKeyExW(root_, key_path.c_str(), 0,
                             kDeleteTreeAccess | view_flags_, &key);
  }
  if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed to open key " << object_name;
    return false;
  }

  DWORD size = 0;
  result = ::RegGetKeySecurity(key, kSavedSecurityInfo, nullptr, &size);
  if (result != ERROR_SUCCESS && result != ERROR_INSUFFICIENT_BUFFER) {
    LOG(ERROR) << "Failed to obtain security descriptor for " << object_name;
    ::RegCloseKey(key);
    return false;
  }
  saved->security.resize(size);
  if ((size &&
       ::RegGetKeySecurity(key, kSavedSecurityInfo, saved->security.data(),
                           &size) != ERROR_SUCCESS) ||
      (previous_security && !saved->security.empty() &&
       !PutBackPreviousDacl(*previous_security, &saved->security))) {
    LOG(ERROR) << "Failed to obtain security descriptor for " << object_name
               << "(but we succeeded earlier)";
    ::RegCloseKey(key);
    return false;
  }

  DWORD max_subkey_length = 0;
  DWORD value_count = 0;
  DWORD max_value_name_length = 0;
  DWORD max_value_length = 0;
  if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr,
                         &max_subkey_length, nullptr, &value_count,
                         &max_value_name_length, &max_value_length, nullptr,
                         nullptr) != ERROR_SUCCESS) {
    LOG(ERROR) << "Failed to obtain key info for " << object_name;
    ::RegCloseKey(key);
    return false;
  }
  VLOG(1) << value_count << " values";

  std::vector<wchar_t> name(max_value_name_length + 1);
  std::vector<uint8_t> data(max_value_length);
  for (DWORD index = 0; index < value_count; ++index) {
    DWORD name_length = static_cast<DWORD>(name.size());
    DWORD data_length = static_cast<DWORD>(data.size());
    DWORD type = REG_NONE;
    if (::RegEnumValueW(key, index, name.data(), &name_length, nullptr, &type,
                        data.empty() ? nullptr : data.data(),
                        &data_length) != ERROR_SUCCESS) {
      LOG(ERROR) << "Failed to obtain value nr " << index;
      ::RegCloseKey(key);
      return false;
    }
    auto value = std::make_unique<SavedRegistryValue>();
    value->name.assign(name.data(), name_length);
    value->type = type;
    value->data.assign(data.begin(), data.begin() + data_length);
    saved->values.push_back(std::move(value));
  }
  saved_keys_.push_back(std::move(saved));

  std::vector<wchar_t> subkey(max_subkey_length + 1);
  for (;;) {
    DWORD subkey_length = static_cast<DWORD>(subkey.size());
    // Always the first subkey: the recursion deleted the one before.
    result = ::RegEnumKeyExW(key, 0, subkey.data(), &subkey_length, nullptr,
                             nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) {
      ::RegCloseKey(key);
      result = DeleteKey(key_path);
      if (result != ERROR_SUCCESS) {
        // A key that stays would be found again as its parent's first
        // subkey; the operation fails and its rollback restores the rest.
        LOG(ERROR) << "Failed to delete key " << object_name << ": "
                   << FormatWin32Error(result);
        return false;
      }
      take_back_grant.Cancel();
      return true;
    }
    if (result != ERROR_SUCCESS) {
      LOG(ERROR) << "Failed to read a subkey";
      ::RegCloseKey(key);
      return false;
    }
    const base::string16 name_text(subkey.data(), subkey_length);
    if (!DeleteAndSaveRecursive(key_path + L"\\" + name_text,
                                object_name + L"\\" + name_text)) {
      ::RegCloseKey(key);
      return false;
    }
  }
}

}  // namespace installer
