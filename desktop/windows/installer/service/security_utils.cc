#include "desktop/windows/installer/service/security_utils.h"

// Placeholders until the security utilities land.
namespace installer {
namespace {
SecurityUtils* g_testing_instance = nullptr;
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

SavedSecurityDescriptor::~SavedSecurityDescriptor() {
  if (descriptor_)
    LocalFree(descriptor_);
}

SecurityUtils* SecurityUtilsImpl::GetInstance() {
  if (g_testing_instance)
    return g_testing_instance;
  static SecurityUtilsImpl* instance = new SecurityUtilsImpl();
  return instance;
}

void SecurityUtilsImpl::SetInstanceForTesting(SecurityUtils* utils) {
  g_testing_instance = utils;
}

SecurityUtilsImpl::SecurityUtilsImpl() = default;
SecurityUtilsImpl::~SecurityUtilsImpl() = default;

bool SecurityUtilsImpl::IsUserAdmin(bool) {
  return false;
}
bool SecurityUtilsImpl::HasAccess(const base::string16&,
                                  SE_OBJECT_TYPE,
                                  uint32_t) {
  return false;
}
bool SecurityUtilsImpl::NeedsElevation(bool all_users, bool folder_writable) {
  return all_users || !folder_writable;
}
bool SecurityUtilsImpl::SetPrivilege(const base::string16&, bool) {
  return false;
}
bool SecurityUtilsImpl::GrantAccess(
    const base::string16&,
    SE_OBJECT_TYPE,
    uint32_t,
    bool,
    std::unique_ptr<SavedSecurityDescriptor>* saved) {
  saved->reset();
  return false;
}
bool SecurityUtilsImpl::RestoreSecurity(
    std::unique_ptr<SavedSecurityDescriptor>* saved) {
  bool had = saved && *saved;
  if (saved)
    saved->reset();
  return had && false;
}

}  // namespace installer
