#ifndef BASE_WIN_WIN_UTIL_H_
#define BASE_WIN_WIN_UTIL_H_

#include <windows.h>

#include <propsys.h>

namespace base {
namespace win {

// The shell's application-user-model properties of a shortcut or window:
// the application id that groups taskbar buttons, the dual-mode flag and
// the class id of the toast activator.
extern const PROPERTYKEY PKEY_AppUserModel_ID;
extern const PROPERTYKEY PKEY_AppUserModel_IsDualMode;
extern const PROPERTYKEY PKEY_AppUserModel_ToastActivatorCLSID;

// Each writes one value into |property_store| and commits it. A store that
// answers S_FALSE to the write (nothing changed) is not asked to commit and
// still counts as success.
bool SetBooleanValueForPropertyStore(IPropertyStore* property_store,
                                     const PROPERTYKEY& property_key,
                                     bool property_bool_value);
bool SetClsidForPropertyStore(IPropertyStore* property_store,
                              const PROPERTYKEY& property_key,
                              const CLSID& property_clsid_value);
// |app_id| is NUL-terminated; null fails.
bool SetAppIdForPropertyStore(IPropertyStore* property_store,
                              const wchar_t* app_id);

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_WIN_UTIL_H_
