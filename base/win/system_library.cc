#include "base/win/system_library.h"

#include <string>

namespace base {
namespace win {

namespace {

// Not declared for Windows 7 without its loader update.
const DWORD kLoadLibrarySearchSystem32 = 0x00000800;

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

// The loader update brought AddDllDirectory, SetDefaultDllDirectories and the
// LOAD_LIBRARY_SEARCH_* flags together; kernel32 is always loaded.
FARPROC GetLoaderFunction(const char* name) {
  HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  return kernel32 ? ::GetProcAddress(kernel32, name) : nullptr;
}

bool AreSearchFlagsAvailable() {
  return GetLoaderFunction("AddDllDirectory") != nullptr;
}

}  // namespace

HMODULE LoadSystemLibrary(const wchar_t* name) {
  if (!name || !*name || wcschr(name, L'\\') || wcschr(name, L'/') ||
      wcschr(name, L':')) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (AreSearchFlagsAvailable())
    return ::LoadLibraryExW(name, nullptr, kLoadLibrarySearchSystem32);

  // Without the search flags: the full path, and the DLL's own folder for
  // its dependencies.
  wchar_t folder[MAX_PATH];
  UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    ::SetLastError(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  std::wstring path(folder, length);
  if (path.back() != L'\\')
    path.push_back(L'\\');
  path += name;
  return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

bool RestrictDllSearchToSystemFolder() {
  auto set_default = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      GetLoaderFunction("SetDefaultDllDirectories"));
  return set_default && set_default(kLoadLibrarySearchSystem32);
}

}  // namespace win
}  // namespace base
