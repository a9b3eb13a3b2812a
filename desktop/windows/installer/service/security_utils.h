#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_SECURITY_UTILS_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_SECURITY_UTILS_H_

#include <windows.h>
#include <aclapi.h>
#include <stdint.h>

#include <memory>

#include "base/macros.h"
#include "base/strings/string16.h"
#include "base/win/scoped_generic.h"

namespace installer {

// An object's DACL as it was before GrantAccess changed it, so that the
// change can be undone.
class SavedSecurityDescriptor {
 public:
  // Takes |descriptor| (LocalAlloc'd, may be null) over; |dacl| points
  // into it.
  SavedSecurityDescriptor(const base::string16& object_name,
                          SE_OBJECT_TYPE object_type,
                          PACL dacl,
                          PSECURITY_DESCRIPTOR descriptor);
  ~SavedSecurityDescriptor();

  const base::string16& object_name() const { return object_name_; }
  SE_OBJECT_TYPE object_type() const { return object_type_; }
  PACL dacl() const { return dacl_; }
  PSECURITY_DESCRIPTOR descriptor() const { return descriptor_.get(); }

 private:
  base::string16 object_name_;
  SE_OBJECT_TYPE object_type_;
  PACL dacl_;  // points into |descriptor_|
  base::win::ScopedLocalSecurityDescriptor descriptor_;

  DISALLOW_COPY_AND_ASSIGN(SavedSecurityDescriptor);
};

// The installer's questions about rights, and the access grants it makes.
// Object names are file and folder paths, or registry keys with their root
// prefix ("MACHINE\Software\...").
class SecurityUtils {
 public:
  virtual ~SecurityUtils() = default;

  // With |include_linked_token|, an administrator whose token is filtered
  // by UAC still counts.
  virtual bool IsUserAdmin(bool include_linked_token) = 0;
  virtual bool HasAccess(const base::string16& object_name,
                         SE_OBJECT_TYPE object_type,
                         uint32_t desired_access) = 0;
  virtual bool NeedsElevation(bool all_users, bool folder_writable) = 0;
  virtual bool SetPrivilege(const base::string16& privilege, bool enable) = 0;
  // Grants the current user |access| and lifts the same bits from entries
  // that deny them to the user. Unless |do_not_save|, |*saved| receives what
  // RestoreSecurity needs to undo it.
  virtual bool GrantAccess(const base::string16& object_name,
                           SE_OBJECT_TYPE object_type,
                           uint32_t access,
                           bool do_not_save,
                           std::unique_ptr<SavedSecurityDescriptor>* saved) = 0;
  // Puts the saved DACL back and destroys the record; false without one.
  virtual bool RestoreSecurity(
      std::unique_ptr<SavedSecurityDescriptor>* saved) = 0;
};

// Puts the saved DACL back on the object |handle| is open to (it needs
// WRITE_DAC) and destroys the record; false without one. The handle, not the
// record's name, says which object: a name may lead somewhere else by now.
bool RestoreSecurityThroughHandle(
    HANDLE handle, std::unique_ptr<SavedSecurityDescriptor>* saved);

class SecurityUtilsImpl : public SecurityUtils {
 public:
  // The process-wide instance (or the one a test installed); never deleted
  // by callers.
  static SecurityUtils* GetInstance();

  // Makes GetInstance() answer |utils| until called again with null; tests
  // use it to be a standard user or a user without write access.
  static void SetInstanceForTesting(SecurityUtils* utils);

  SecurityUtilsImpl();
  ~SecurityUtilsImpl() override;

  bool IsUserAdmin(bool include_linked_token) override;
  bool HasAccess(const base::string16& object_name,
                 SE_OBJECT_TYPE object_type,
                 uint32_t desired_access) override;
  bool NeedsElevation(bool all_users, bool folder_writable) override;
  bool SetPrivilege(const base::string16& privilege, bool enable) override;
  bool GrantAccess(const base::string16& object_name,
                   SE_OBJECT_TYPE object_type,
                   uint32_t access,
                   bool do_not_save,
                   std::unique_ptr<SavedSecurityDescriptor>* saved) override;
  bool RestoreSecurity(
      std::unique_ptr<SavedSecurityDescriptor>* saved) override;

 protected:
  // IsUserAdmin's questions about the process token, apart so that tests can
  // be a standard user or an administrator whose token UAC filtered. With
  // |linked|, the question is about the token linked to the process token
  // (the full token of a filtered administrator).
  virtual bool GetElevationType(TOKEN_ELEVATION_TYPE* type);
  virtual bool IsAdministratorsMember(bool linked);

 private:
  bool TakeOwnership(const base::string16& object_name,
                     SE_OBJECT_TYPE object_type);

  DISALLOW_COPY_AND_ASSIGN(SecurityUtilsImpl);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_SECURITY_UTILS_H_
