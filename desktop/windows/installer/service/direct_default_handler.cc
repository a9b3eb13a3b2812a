#include "desktop/windows/installer/service/direct_default_handler.h"

// Placeholder so that code written against the header links; replaced by
// the real implementation before this branch lands.

namespace installer {

bool ShouldHandleProprietaryUris() {
  return false;
}
bool IsProtocolName(const base::string16& name) {
  return !name.empty() && name[0] != L'.';
}
bool IsFileExtensionName(const base::string16& name) {
  return !name.empty() && name[0] == L'.';
}
bool IsBeforeBuild16299Update248() {
  return true;
}
IUnknown* GetInternalAssociationRegistration() {
  return nullptr;
}
IUnknown* FindAssociationHandler(const base::string16&,
                                 const base::string16&) {
  return nullptr;
}
IUnknown* GetExtensionAssociationRegistration() {
  return nullptr;
}
bool CanSetDefaultBrowserDirectly() {
  return false;
}
bool SetAsDefaultHandlerDirectly(const base::string16&,
                                 const base::string16&,
                                 const base::string16&,
                                 const base::string16&) {
  return false;
}

}  // namespace installer
