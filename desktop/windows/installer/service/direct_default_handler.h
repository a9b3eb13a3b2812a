#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_DIRECT_DEFAULT_HANDLER_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_DIRECT_DEFAULT_HANDLER_H_

#include <unknwn.h>

#include "base/strings/string16.h"

namespace installer {

// Windows 8 and later ignore default-handler choices written to the
// registry. These functions reach the shell's association registration
// objects to make the choice directly where the running build allows it.
// They need COM initialised on the calling thread; every failure gives null
// or false and is left to the caller, which falls back to other ways.

// Whether the browser also registers for the system's vendor URI schemes:
// never before Windows 10 build 15063, else when the browser's feature
// "handle-proprietary-uris" or the installer experiment of the same purpose
// is on.
bool ShouldHandleProprietaryUris();

// "http" is a protocol name, ".htm" a file extension name.
bool IsProtocolName(const base::string16& name);
bool IsFileExtensionName(const base::string16& name);

// True before Windows 10 build 16299 with update revision 248. Earlier builds
// take the choice through the internal association registration; later ones
// through the handler objects of the shell.
bool IsBeforeBuild16299Update248();

// The internal association registration interface of the running build, or
// null. The caller owns the reference.
IUnknown* GetInternalAssociationRegistration();

// The internal interface of the handler of |protocol| whose display name
// contains |application_name|, or null. The caller owns the reference.
IUnknown* FindAssociationHandler(const base::string16& protocol,
                                 const base::string16& application_name);

// The extension association registration object, or null. The caller owns
// the reference.
IUnknown* GetExtensionAssociationRegistration();

// Whether the objects that SetAsDefaultHandlerDirectly needs on the running
// build are there.
bool CanSetDefaultBrowserDirectly();

// Makes the application the handler of |name| (a protocol, or an extension
// with its dot). Before build 16299 update 248 the application is named by
// |app_registry_name|; later, a protocol's handler is found by
// |display_name| and an extension is set for |internal_product_name|.
bool SetAsDefaultHandlerDirectly(const base::string16& app_registry_name,
                                 const base::string16& display_name,
                                 const base::string16& internal_product_name,
                                 const base::string16& name);

namespace internal {

// The calls on the unpublished interfaces, apart so that they can be tried
// on objects other than the system's; true on a success code.
bool SetThroughInternalRegistration(IUnknown* registration,
                                    const base::string16& app_registry_name,
                                    const base::string16& name);
bool SetThroughHandler(IUnknown* handler);
bool SetThroughExtensionRegistration(IUnknown* registration,
                                     const base::string16& product_name,
                                     const base::string16& extension);

}  // namespace internal

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_DIRECT_DEFAULT_HANDLER_H_
