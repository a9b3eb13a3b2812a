#include "base/win/registry.h"

#include <wchar.h>

namespace base {
namespace win {

namespace {

// Any of these rights means the caller intends to write, so a missing key is
// created rather than reported.
constexpr REGSAM kWriteAccessMask =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK;

// Stored strings are read into a fixed buffer of this many characters, and
// expanded into another of the same size.
constexpr DWORD kMaxStringChars = 1024;

}  // namespace

RegKey::RegKey() = default;

RegKey::RegKey(HKEY rootkey, const wchar_t* subkey, REGSAM access) {
  if (!rootkey)
    return;
  if (access & kWriteAccessMask) {
    HKEY key = nullptr;
    LONG result =
        RegCreateKeyExW(rootkey, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        access, nullptr, &key, nullptr);
    if (result == ERROR_SUCCESS) {
      Close();
      key_ = key;
    }
  } else {
    // The object holding no key is how this constructor reports failure.
    (void)Open(rootkey, subkey, access);
  }
}

RegKey::~RegKey() {
  Close();
}

LONG RegKey::Open(HKEY rootkey, const wchar_t* subkey, REGSAM access) {
  HKEY key = nullptr;
  LONG result = RegOpenKeyExW(rootkey, subkey, 0, access, &key);
  if (result == ERROR_SUCCESS) {
    Close();
    key_ = key;
  }
  return result;
}

void RegKey::Close() {
  if (key_) {
    RegCloseKey(key_);
    key_ = nullptr;
  }
}

bool RegKey::HasValue(const wchar_t* value_name) const {
  return RegQueryValueExW(key_, value_name, nullptr, nullptr, nullptr,
                          nullptr) == ERROR_SUCCESS;
}

LONG RegKey::DeleteValue(const wchar_t* value_name) {
  return RegDeleteValueW(key_, value_name);
}

LONG RegKey::ReadValueDW(const wchar_t* name, DWORD* out_value) const {
  DWORD type = REG_DWORD;
  DWORD size = sizeof(DWORD);
  DWORD local_value = 0;
  LONG result = ReadValue(name, &local_value, &size, &type);
  if (result != ERROR_SUCCESS)
    return result;
  if ((type != REG_DWORD && type != REG_BINARY) || size != sizeof(DWORD))
    return ERROR_CANTREAD;
  *out_value = local_value;
  return ERROR_SUCCESS;
}

LONG RegKey::ReadValue(const wchar_t* name,
                       void* data,
                       DWORD* dsize,
                       DWORD* dtype) const {
  return RegQueryValueExW(key_, name, nullptr, dtype, static_cast<BYTE*>(data),
                          dsize);
}

LONG RegKey::ReadStringValue(const wchar_t* name,
                             std::wstring* out_value) const {
  // One character more than the query may fill, so that a value stored
  // without its terminator is still bounded.
  wchar_t raw[kMaxStringChars + 1];
  DWORD type = REG_SZ;
  DWORD size = kMaxStringChars * sizeof(wchar_t);
  LONG result = ReadValue(name, raw, &size, &type);
  if (result != ERROR_SUCCESS)
    return result;
  const size_t stored_chars = size / sizeof(wchar_t);
  raw[stored_chars] = L'\0';

  if (type == REG_EXPAND_SZ) {
    wchar_t expanded[kMaxStringChars];
    DWORD needed = ExpandEnvironmentStringsW(raw, expanded, kMaxStringChars);
    if (needed == 0 || needed > kMaxStringChars)
      return ERROR_MORE_DATA;
    out_value->assign(expanded, wcsnlen(expanded, kMaxStringChars));
    return ERROR_SUCCESS;
  }
  if (type == REG_SZ) {
    out_value->assign(raw, wcsnlen(raw, stored_chars));
    return ERROR_SUCCESS;
  }
  return ERROR_CANTREAD;
}

LONG RegKey::WriteValue(const wchar_t* name,
                        const void* data,
                        DWORD dsize,
                        DWORD dtype) {
  return RegSetValueExW(key_, name, 0, dtype, static_cast<const BYTE*>(data),
                        dsize);
}

LONG RegKey::WriteStringValue(const wchar_t* name, const wchar_t* value) {
  const DWORD size = static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t));
  return WriteValue(name, value, size, REG_SZ);
}

}  // namespace win
}  // namespace base
