#ifndef BASE_WIN_REGISTRY_H_
#define BASE_WIN_REGISTRY_H_

#include <windows.h>

#include <string>

#include "base/macros.h"

namespace base {
namespace win {

// Owns one open registry key. Every operation answers with the Win32 error
// code of the registry call (ERROR_SUCCESS, 0, on success) so that callers can
// tell a missing key or value (ERROR_FILE_NOT_FOUND) from other failures. Key
// enumeration, deletion and security changes are left to the registry
// functions themselves, on Handle().
class RegKey {
 public:
  RegKey();
  // Creates the subkey when |access| asks for any kind of write access
  // (KEY_SET_VALUE, KEY_CREATE_SUB_KEY or KEY_CREATE_LINK), opens it
  // otherwise. On failure, or with a null |rootkey|, the object holds no key.
  RegKey(HKEY rootkey, const wchar_t* subkey, REGSAM access);
  ~RegKey();

  // Opens an existing subkey. The held key is replaced only on success: a
  // failed Open leaves the previous key open and held.
  [[nodiscard]] LONG Open(HKEY rootkey, const wchar_t* subkey, REGSAM access);

  // Closes the held key, if any.
  void Close();

  bool Valid() const { return key_ != nullptr; }
  HKEY Handle() const { return key_; }

  // True when the value exists. A null or empty name is the key's default
  // value.
  bool HasValue(const wchar_t* value_name) const;

  [[nodiscard]] LONG DeleteValue(const wchar_t* value_name);

  // Reads a REG_DWORD, or a REG_BINARY of exactly four bytes. Any other type
  // or size gives ERROR_CANTREAD; |out_value| is written only on success.
  [[nodiscard]] LONG ReadValueDW(const wchar_t* name, DWORD* out_value) const;

  // Raw read: RegQueryValueExW with the caller's buffer, size and type.
  [[nodiscard]] LONG ReadValue(const wchar_t* name,
                               void* data,
                               DWORD* dsize,
                               DWORD* dtype) const;

  // Reads a REG_SZ, or a REG_EXPAND_SZ with its environment references
  // expanded. Values are read up to 1024 characters; a longer stored value
  // gives ERROR_MORE_DATA from the query, a longer expansion gives
  // ERROR_MORE_DATA too. Any other type gives ERROR_CANTREAD. |out_value| is
  // written only on success.
  [[nodiscard]] LONG ReadStringValue(const wchar_t* name,
                                     std::wstring* out_value) const;

  // Raw write: RegSetValueExW with |dsize| bytes of |data| as |dtype|.
  [[nodiscard]] LONG WriteValue(const wchar_t* name,
                                const void* data,
                                DWORD dsize,
                                DWORD dtype);

  // Writes |value| as REG_SZ, its terminating NUL included.
  [[nodiscard]] LONG WriteStringValue(const wchar_t* name,
                                      const wchar_t* value);

 private:
  HKEY key_ = nullptr;

  DISALLOW_COPY_AND_ASSIGN(RegKey);
};

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_REGISTRY_H_
