#include "desktop/windows/installer/elevation.h"

#include <aclapi.h>

#include "base/logging.h"
#include "base/win/registry.h"
#include "base/win/scoped_generic.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "desktop/windows/installer/service/service_utils.h"

namespace installer {

bool CanElevate() {
  if (SecurityUtilsImpl::GetInstance()->IsUserAdmin(true) ||
      base::win::GetVersion() < base::win::VISTA) {
    return true;
  }
  // Only a policy that says so for certain takes the prompt away.
  base::win::RegKey key;
  DWORD enable_lua = 1;
  return key.Open(HKEY_LOCAL_MACHINE,
                  L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\"
                  L"System",
                  KEY_QUERY_VALUE) != ERROR_SUCCESS ||
         key.ReadValueDW(L"EnableLUA", &enable_lua) != ERROR_SUCCESS ||
         enable_lua != 0;
}

bool FixEventACL(HANDLE event) {
  PACL old_dacl = nullptr;
  base::win::ScopedLocalSecurityDescriptor descriptor;
  DWORD result = ::GetSecurityInfo(event, SE_KERNEL_OBJECT,
                                   DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                   &old_dacl, nullptr, descriptor.receive());
  if (result != ERROR_SUCCESS) {
    LOG(ERROR) << "FixEventACL: failed to GetSecurityInfo "
               << FormatWin32Error(result);
    return false;
  }
  SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  base::win::ScopedSid administrators;
  if (!::AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                  administrators.receive())) {
    LOG(ERROR) << "FixEventACL: failed to AllocateAndInitializeSid "
               << FormatWin32Error(::GetLastError());
    return false;
  }
  EXPLICIT_ACCESSW access = {};
  access.grfAccessPermissions = GENERIC_ALL;
  access.grfAccessMode = GRANT_ACCESS;
  access.grfInheritance = NO_INHERITANCE;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  access.Trustee.ptstrName = static_cast<LPWSTR>(administrators.get());
  base::win::ScopedLocalAcl new_dacl;
  if (::SetEntriesInAclW(1, &access, old_dacl, new_dacl.receive()) !=
      ERROR_SUCCESS) {
    LOG(ERROR) << "FixEventACL: failed to SetEntriesInAcl";
    return false;
  }
  if (::SetSecurityInfo(event, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION,
                        nullptr, nullptr, new_dacl.get(),
                        nullptr) != ERROR_SUCCESS) {
    LOG(ERROR) << "FixEventACL: failed to SetSecurityInfo";
    return false;
  }
  return true;
}

}  // namespace installer
