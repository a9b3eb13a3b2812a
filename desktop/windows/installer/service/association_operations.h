#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_ASSOCIATION_OPERATIONS_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_ASSOCIATION_OPERATIONS_H_

#include <windows.h>
#include <shobjidl.h>

#include "base/strings/string16.h"

namespace installer {

// The shell's association services that the browser's default-handler
// registration uses beyond the registry, reached through one replaceable
// object. Every call needs COM initialised on the calling thread; every
// failure gives false.
class AssociationOperations {
 public:
  virtual ~AssociationOperations() = default;

  // IApplicationAssociationRegistration::QueryAppIsDefault: whether
  // |app_registry_name| is the effective default for |query|.
  virtual bool QueryAppIsDefault(const base::string16& query,
                                 ASSOCIATIONTYPE type,
                                 const base::string16& app_registry_name) = 0;
  // IApplicationAssociationRegistration::SetAppAsDefault.
  virtual bool SetAppAsDefault(const base::string16& app_registry_name,
                               const base::string16& query,
                               ASSOCIATIONTYPE type) = 0;

  // Whether the running build lets a program make itself the default
  // browser without asking the user.
  virtual bool CanSetDefaultBrowserDirectly() = 0;
  // Makes the application the handler of |name| without asking the user.
  virtual bool SetAsDefaultHandlerDirectly(
      const base::string16& app_registry_name,
      const base::string16& display_name,
      const base::string16& internal_product_name,
      const base::string16& name) = 0;
  // Whether the browser also registers for the system's vendor URI schemes.
  virtual bool ShouldHandleProprietaryUris() = 0;

  // Lets the user pick the handler of |name| in the Open With dialog, and
  // tells the shell that associations changed once the user did.
  virtual bool ChooseHandlerWithOpenWithDialog(const base::string16& name) = 0;

  // Opens the Settings app on its default-apps page, then on |target| of
  // that page; the result is whether the second step succeeded.
  virtual bool OpenDefaultAppsSettings(const base::string16& target) = 0;
};

// The process-wide instance, or the one a test installed.
AssociationOperations* GetAssociationOperations();

// Makes GetAssociationOperations() answer |operations| until called again
// with null.
void SetAssociationOperationsForTesting(AssociationOperations* operations);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_ASSOCIATION_OPERATIONS_H_
