#include "base/win/resource_util.h"

namespace base {
namespace win {

StringPiece GetHostResource(int id, const wchar_t* type) {
  HMODULE module = ::GetModuleHandleW(nullptr);
  HRSRC info = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
  if (!info)
    return StringPiece();
  const DWORD size = ::SizeofResource(module, info);
  HGLOBAL handle = ::LoadResource(module, info);
  const char* data =
      handle ? static_cast<const char*>(::LockResource(handle)) : nullptr;
  if (!data || size == 0)
    return StringPiece();
  return StringPiece(data, size);
}

}  // namespace win
}  // namespace base
