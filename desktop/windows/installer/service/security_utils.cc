#include "desktop/windows/installer/service/security_utils.h"

#include <atomic>
#include <iterator>
#include <vector>

#include "base/logging.h"
#include "base/scope_guard.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"

namespace installer {
namespace {

std::atomic<SecurityUtils*> g_testing_instance{nullptr};

const wchar_t kTakeOwnershipPrivilege[] = L"SeTakeOwnershipPrivilege";

// What the generic rights mean for files and for registry keys.
const GENERIC_MAPPING kFileMapping = {0x120089, 0x120116, 0x1200A0, 0x1F01FF};
const GENERIC_MAPPING kKeyMapping = {0x20019, 0x20006, 0x20019, 0xF003F};

bool IsRegistryType(SE_OBJECT_TYPE type) {
  return type == SE_REGISTRY_KEY || type == SE_REGISTRY_WOW64_32KEY;
}

// The Administrators group; owns nothing on failure.
base::win::ScopedSid CreateAdministratorsSid() {
  SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  base::win::ScopedSid sid;
  if (!::AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  sid.receive())) {
    sid.reset();
  }
  return sid;
}

// Opens the key named as the named-security functions name it
// ("MACHINE\Software\..."), in the 32-bit view for SE_REGISTRY_WOW64_32KEY.
LONG OpenKeyForSecurity(const base::string16& object_name,
                        SE_OBJECT_TYPE object_type,
                        REGSAM access,
                        base::win::RegKey* key) {
  static const struct {
    const wchar_t* prefix;
    HKEY root;
  } kRoots[] = {
      {L"MACHINE", HKEY_LOCAL_MACHINE},
      {L"CURRENT_USER", HKEY_CURRENT_USER},
      {L"CLASSES_ROOT", HKEY_CLASSES_ROOT},
      {L"USERS", HKEY_USERS},
  };
  for (const auto& root : kRoots) {
    const size_t length = wcslen(root.prefix);
    if (object_name.size() < length ||
        _wcsnicmp(object_name.c_str(), root.prefix, length) != 0) {
      continue;
    }
    if (object_name.size() > length && object_name[length] != L'\\')
      continue;
    const base::string16 path =
        object_name.size() > length ? object_name.substr(length + 1) : L"";
    if (object_type == SE_REGISTRY_WOW64_32KEY)
      access |= KEY_WOW64_32KEY;
    return key->Open(root.root, path.c_str(), access);
  }
  return ERROR_INVALID_NAME;
}

// Reads the object's security. Registry keys go through a key handle: the
// named functions' 32-bit view is not available everywhere (some
// implementations answer success with no descriptor at all), and a handle
// opened in the right view means the same.
DWORD GetObjectSecurity(const base::string16& object_name,
                        SE_OBJECT_TYPE object_type,
                        SECURITY_INFORMATION info,
                        PACL* dacl,
                        base::win::ScopedLocalSecurityDescriptor* descriptor) {
  descriptor->reset();
  *dacl = nullptr;
  DWORD result;
  if (IsRegistryType(object_type)) {
    base::win::RegKey key;
    result = OpenKeyForSecurity(object_name, object_type, READ_CONTROL, &key);
    if (result == ERROR_SUCCESS) {
      result = ::GetSecurityInfo(key.Handle(), SE_REGISTRY_KEY, info, nullptr,
                                 nullptr, dacl, nullptr, descriptor->receive());
    }
  } else {
    result =
        ::GetNamedSecurityInfoW(object_name.c_str(), object_type, info, nullptr,
                                nullptr, dacl, nullptr, descriptor->receive());
  }
  if (result == ERROR_SUCCESS && !descriptor->is_valid())
    result = ERROR_INVALID_SECURITY_DESCR;
  return result;
}

// Sets the owner or the DACL that |info| names; inheritable entries of a
// new DACL reach the existing children either way.
DWORD SetObjectSecurity(const base::string16& object_name,
                        SE_OBJECT_TYPE object_type,
                        SECURITY_INFORMATION info,
                        PSID owner,
                        PACL dacl) {
  if (IsRegistryType(object_type)) {
    REGSAM access = 0;
    if (info & OWNER_SECURITY_INFORMATION)
      access |= WRITE_OWNER;
    if (info & DACL_SECURITY_INFORMATION)
      access |= WRITE_DAC;
    base::win::RegKey key;
    LONG result = OpenKeyForSecurity(object_name, object_type, access, &key);
    if (result != ERROR_SUCCESS)
      return result;
    return ::SetSecurityInfo(key.Handle(), SE_REGISTRY_KEY, info, owner,
                             nullptr, dacl, nullptr);
  }
  std::vector<wchar_t> name(object_name.begin(), object_name.end());
  name.push_back(L'\0');
  return ::SetNamedSecurityInfoW(name.data(), object_type, info, owner, nullptr,
                                 dacl, nullptr);
}

// The current user's SID, in |buffer|.
PSID GetCurrentUserSid(std::vector<BYTE>* buffer) {
  HANDLE token_handle = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token_handle))
    return nullptr;
  base::win::ScopedHandle token(token_handle);
  DWORD size = 0;
  ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  if (size < sizeof(TOKEN_USER))
    return nullptr;
  buffer->resize(size);
  if (!::GetTokenInformation(token.Get(), TokenUser, buffer->data(), size,
                             &size)) {
    return nullptr;
  }
  return reinterpret_cast<TOKEN_USER*>(buffer->data())->User.Sid;
}

// Whether an entry for |sid| applies to the current token. The user's own
// SID is compared directly: not every implementation of the membership test
// counts it, only the token's groups.
bool AppliesToCurrentToken(PSID sid, PSID user_sid) {
  if (user_sid && ::EqualSid(sid, user_sid))
    return true;
  BOOL member = FALSE;
  return ::CheckTokenMembership(nullptr, sid, &member) && member;
}

bool OpenIdentificationToken(base::win::ScopedHandle* token) {
  HANDLE process_token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE,
                          &process_token)) {
    return false;
  }
  base::win::ScopedHandle owned(process_token);
  HANDLE duplicate = nullptr;
  if (!::DuplicateToken(owned.Get(), SecurityIdentification, &duplicate))
    return false;
  token->Set(duplicate);
  return true;
}

// What putting |record| back sets. Whether the old DACL took entries from
// the parent is part of it: without a word on it the system may keep
// whatever the grant left or unprotect the DACL and merge the parent's
// entries into it.
SECURITY_INFORMATION RestoreInformation(const SavedSecurityDescriptor& record) {
  SECURITY_INFORMATION info = DACL_SECURITY_INFORMATION;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  if (record.dacl() && ::GetSecurityDescriptorControl(record.descriptor(),
                                                      &control, &revision)) {
    info |= (control & SE_DACL_PROTECTED)
                ? PROTECTED_DACL_SECURITY_INFORMATION
                : UNPROTECTED_DACL_SECURITY_INFORMATION;
  }
  return info;
}

}  // namespace

SavedSecurityDescriptor::SavedSecurityDescriptor(
    const base::string16& object_name,
    SE_OBJECT_TYPE object_type,
    PACL dacl,
    PSECURITY_DESCRIPTOR descriptor)
    : object_name_(object_name),
      object_type_(object_type),
      dacl_(dacl),
      descriptor_(descriptor) {}

SavedSecurityDescriptor::~SavedSecurityDescriptor() = default;

// static
SecurityUtils* SecurityUtilsImpl::GetInstance() {
  if (SecurityUtils* testing = g_testing_instance.load())
    return testing;
  // Made once even when threads race at first use; never destroyed.
  static SecurityUtilsImpl* const instance = new SecurityUtilsImpl();
  return instance;
}

// static
void SecurityUtilsImpl::SetInstanceForTesting(SecurityUtils* utils) {
  g_testing_instance.store(utils);
}

SecurityUtilsImpl::SecurityUtilsImpl() = default;
SecurityUtilsImpl::~SecurityUtilsImpl() = default;

bool SecurityUtilsImpl::IsUserAdmin(bool include_linked_token) {
  if (include_linked_token && base::win::GetVersion() >= base::win::VISTA) {
    TOKEN_ELEVATION_TYPE type;
    if (!GetElevationType(&type))
      return false;
    // A filtered administrator's rights are in the linked full token.
    if (type == TokenElevationTypeLimited)
      return IsAdministratorsMember(true);
  }
  return IsAdministratorsMember(false);
}

bool SecurityUtilsImpl::GetElevationType(TOKEN_ELEVATION_TYPE* type) {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE,
                          &token)) {
    return false;
  }
  base::win::ScopedHandle owned(token);
  DWORD size = 0;
  return ::GetTokenInformation(owned.Get(), TokenElevationType, type,
                               sizeof(*type), &size) != FALSE;
}

bool SecurityUtilsImpl::IsAdministratorsMember(bool linked) {
  HANDLE process_token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE,
                          &process_token)) {
    return false;
  }
  base::win::ScopedHandle token(process_token);
  if (linked) {
    TOKEN_LINKED_TOKEN linked_token = {};
    DWORD size = 0;
    if (!::GetTokenInformation(token.Get(), TokenLinkedToken, &linked_token,
                               sizeof(linked_token), &size)) {
      return false;
    }
    token.Set(linked_token.LinkedToken);
  }
  HANDLE duplicate = nullptr;
  if (!::DuplicateToken(token.Get(), SecurityIdentification, &duplicate))
    return false;
  base::win::ScopedHandle identification(duplicate);
  base::win::ScopedSid administrators = CreateAdministratorsSid();
  if (!administrators.is_valid())
    return false;
  BOOL member = FALSE;
  if (!::CheckTokenMembership(identification.Get(), administrators.get(),
                              &member)) {
    member = FALSE;
  }
  return member != FALSE;
}

bool SecurityUtilsImpl::HasAccess(const base::string16& object_name,
                                  SE_OBJECT_TYPE object_type,
                                  uint32_t desired_access) {
  if (object_type != SE_FILE_OBJECT && !IsRegistryType(object_type))
    return false;
  GENERIC_MAPPING mapping =
      object_type == SE_FILE_OBJECT ? kFileMapping : kKeyMapping;

  base::win::ScopedHandle token;
  if (!OpenIdentificationToken(&token))
    return false;

  PACL dacl = nullptr;
  base::win::ScopedLocalSecurityDescriptor descriptor;
  if (GetObjectSecurity(object_name, object_type,
                        OWNER_SECURITY_INFORMATION |
                            GROUP_SECURITY_INFORMATION |
                            DACL_SECURITY_INFORMATION,
                        &dacl, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  BYTE privileges[20];
  DWORD privileges_size = sizeof(privileges);
  DWORD granted = 0;
  BOOL status = FALSE;
  if (!::AccessCheck(descriptor.get(), token.Get(), desired_access, &mapping,
                     reinterpret_cast<PPRIVILEGE_SET>(privileges),
                     &privileges_size, &granted, &status)) {
    status = FALSE;
  }
  return status != FALSE;
}

bool SecurityUtilsImpl::NeedsElevation(bool all_users, bool folder_writable) {
  // Only the present token counts, so an administrator whose token UAC
  // filtered is treated as a standard user: elevation for an all-users
  // install or a folder it may not write, none for a per-user install into
  // a writable folder, which its present rights suffice for.
  if (IsUserAdmin(false))
    return false;
  return all_users || !folder_writable;
}

bool SecurityUtilsImpl::SetPrivilege(const base::string16& privilege,
                                     bool enable) {
  HANDLE token_handle = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES,
                          &token_handle)) {
    return false;
  }
  base::win::ScopedHandle token(token_handle);
  TOKEN_PRIVILEGES privileges = {};
  if (!::LookupPrivilegeValueW(nullptr, privilege.c_str(),
                               &privileges.Privileges[0].Luid)) {
    return false;
  }
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  if (!::AdjustTokenPrivileges(token.Get(), FALSE, &privileges,
                               sizeof(privileges), nullptr, nullptr)) {
    return false;
  }
  // The call succeeds even when the token lacks the privilege.
  return ::GetLastError() != ERROR_NOT_ALL_ASSIGNED;
}

bool SecurityUtilsImpl::TakeOwnership(const base::string16& object_name,
                                      SE_OBJECT_TYPE object_type) {
  if (!SetPrivilege(kTakeOwnershipPrivilege, true))
    return false;
  // The privilege is for this one change only, on every way out.
  base::ScopeGuard drop_privilege(
      [this]() { SetPrivilege(kTakeOwnershipPrivilege, false); });
  base::win::ScopedSid administrators = CreateAdministratorsSid();
  if (!administrators.is_valid())
    return false;
  return SetObjectSecurity(object_name, object_type, OWNER_SECURITY_INFORMATION,
                           administrators.get(), nullptr) == ERROR_SUCCESS;
}

bool SecurityUtilsImpl::GrantAccess(
    const base::string16& object_name,
    SE_OBJECT_TYPE object_type,
    uint32_t access,
    bool do_not_save,
    std::unique_ptr<SavedSecurityDescriptor>* saved) {
  saved->reset();
  wchar_t user_name[257];
  DWORD user_name_size = static_cast<DWORD>(std::size(user_name));
  if (!::GetUserNameW(user_name, &user_name_size))
    return false;

  PACL old_dacl = nullptr;
  base::win::ScopedLocalSecurityDescriptor old_descriptor;
  DWORD result =
      GetObjectSecurity(object_name, object_type, DACL_SECURITY_INFORMATION,
                        &old_dacl, &old_descriptor);
  if (result == ERROR_ACCESS_DENIED) {
    if (!TakeOwnership(object_name, object_type))
      return false;
    result =
        GetObjectSecurity(object_name, object_type, DACL_SECURITY_INFORMATION,
                          &old_dacl, &old_descriptor);
  }
  if (result != ERROR_SUCCESS)
    return false;

  // A NULL DACL lets everyone in and has no entries to carry over.
  ULONG entry_count = 0;
  base::win::ScopedLocalAllocAs<PEXPLICIT_ACCESSW> entries;
  if (old_dacl &&
      ::GetExplicitEntriesFromAclW(old_dacl, &entry_count, entries.receive()) !=
          ERROR_SUCCESS) {
    return false;
  }

  // Lift the granted bits from whatever denies them to this user.
  std::vector<BYTE> user_sid_buffer;
  PSID user_sid = GetCurrentUserSid(&user_sid_buffer);
  for (ULONG i = 0; i < entry_count; ++i) {
    EXPLICIT_ACCESSW& entry = entries.get()[i];
    if (entry.grfAccessMode == DENY_ACCESS &&
        entry.Trustee.TrusteeForm == TRUSTEE_IS_SID &&
        AppliesToCurrentToken(reinterpret_cast<PSID>(entry.Trustee.ptstrName),
                              user_sid)) {
      entry.grfAccessPermissions &= ~access;
    }
  }

  EXPLICIT_ACCESSW grant = {};
  ::BuildExplicitAccessWithNameW(&grant, user_name, access, GRANT_ACCESS,
                                 SUB_CONTAINERS_AND_OBJECTS_INHERIT);
  base::win::ScopedLocalAcl grant_acl;
  base::win::ScopedLocalAcl new_dacl;
  result = ::SetEntriesInAclW(1, &grant, nullptr, grant_acl.receive());
  if (result == ERROR_SUCCESS) {
    result = ::SetEntriesInAclW(entry_count, entries.get(), grant_acl.get(),
                                new_dacl.receive());
  }
  if (result == ERROR_SUCCESS) {
    result =
        SetObjectSecurity(object_name, object_type, DACL_SECURITY_INFORMATION,
                          nullptr, new_dacl.get());
    if (result == ERROR_ACCESS_DENIED) {
      result = TakeOwnership(object_name, object_type)
                   ? SetObjectSecurity(object_name, object_type,
                                       DACL_SECURITY_INFORMATION, nullptr,
                                       new_dacl.get())
                   : ERROR_ACCESS_DENIED;
    }
  }

  if (result == ERROR_SUCCESS && !do_not_save) {
    saved->reset(new SavedSecurityDescriptor(object_name, object_type, old_dacl,
                                             old_descriptor.release()));
  }
  return result == ERROR_SUCCESS;
}

bool SecurityUtilsImpl::RestoreSecurity(
    std::unique_ptr<SavedSecurityDescriptor>* saved) {
  if (!saved || !*saved)
    return false;
  const SavedSecurityDescriptor& record = **saved;
  DWORD result =
      SetObjectSecurity(record.object_name(), record.object_type(),
                        RestoreInformation(record), nullptr, record.dacl());
  if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "Cannot put the DACL of " << record.object_name()
               << " back: " << result;
  }
  saved->reset();
  return result == ERROR_SUCCESS;
}

bool RestoreSecurityThroughHandle(
    HANDLE handle, std::unique_ptr<SavedSecurityDescriptor>* saved) {
  if (!saved || !*saved)
    return false;
  const SavedSecurityDescriptor& record = **saved;
  const DWORD result = ::SetSecurityInfo(handle, record.object_type(),
                                         RestoreInformation(record), nullptr,
                                         nullptr, record.dacl(), nullptr);
  if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "Cannot put the DACL of " << record.object_name()
               << " back: " << result;
  }
  saved->reset();
  return result == ERROR_SUCCESS;
}

}  // namespace installer
