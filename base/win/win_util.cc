#include "base/win/win_util.h"

#include <objbase.h>
#include <string.h>
#include <wchar.h>

namespace base {
namespace win {

namespace {

// {9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3}
constexpr GUID kAppUserModelFormatId = {
    0x9F4C2855,
    0x9F79,
    0x4B39,
    {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}};

// Puts |clsid| into |value| as VT_CLSID in memory of the COM task allocator,
// as the property system's own initialiser does.
HRESULT InitPropVariantFromCLSID(const CLSID& clsid, PROPVARIANT* value) {
  CLSID* copy = static_cast<CLSID*>(CoTaskMemAlloc(sizeof(CLSID)));
  if (!copy)
    return E_OUTOFMEMORY;
  *copy = clsid;
  PropVariantInit(value);
  value->vt = VT_CLSID;
  value->puuid = copy;
  return S_OK;
}

// Writes |value| under |key| and commits it; clears |value| in every case.
bool SetPropVariantValueForPropertyStore(IPropertyStore* property_store,
                                         const PROPERTYKEY& property_key,
                                         PROPVARIANT* value) {
  HRESULT result = property_store->SetValue(property_key, *value);
  if (result == S_OK)
    result = property_store->Commit();
  if (value->vt != VT_EMPTY)
    PropVariantClear(value);
  return SUCCEEDED(result);
}

}  // namespace

const PROPERTYKEY PKEY_AppUserModel_ID = {kAppUserModelFormatId, 5};
const PROPERTYKEY PKEY_AppUserModel_IsDualMode = {kAppUserModelFormatId, 11};
const PROPERTYKEY PKEY_AppUserModel_ToastActivatorCLSID = {
    kAppUserModelFormatId, 26};

bool SetBooleanValueForPropertyStore(IPropertyStore* property_store,
                                     const PROPERTYKEY& property_key,
                                     bool property_bool_value) {
  PROPVARIANT value;
  PropVariantInit(&value);
  value.vt = VT_BOOL;
  value.boolVal = property_bool_value ? VARIANT_TRUE : VARIANT_FALSE;
  return SetPropVariantValueForPropertyStore(property_store, property_key,
                                             &value);
}

bool SetClsidForPropertyStore(IPropertyStore* property_store,
                              const PROPERTYKEY& property_key,
                              const CLSID& property_clsid_value) {
  PROPVARIANT value;
  PropVariantInit(&value);
  if (FAILED(InitPropVariantFromCLSID(property_clsid_value, &value)))
    return false;
  return SetPropVariantValueForPropertyStore(property_store, property_key,
                                             &value);
}

bool SetAppIdForPropertyStore(IPropertyStore* property_store,
                              const wchar_t* app_id) {
  if (!app_id)
    return false;
  const size_t bytes = (wcslen(app_id) + 1) * sizeof(wchar_t);
  wchar_t* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
  if (!copy)
    return false;
  memcpy(copy, app_id, bytes);
  PROPVARIANT value;
  PropVariantInit(&value);
  value.vt = VT_LPWSTR;
  value.pwszVal = copy;
  return SetPropVariantValueForPropertyStore(property_store,
                                             PKEY_AppUserModel_ID, &value);
}

}  // namespace win
}  // namespace base
