// Loads a DLL by its bare name, as code that forgets the system folder does,
// and prints the path the loader took it from.
//   kavor_dll_search_probe.exe [restrict] NAME
// With "restrict" the start-up's DLL search restriction comes first.
// Exit code: 0 loaded, 1 not loaded, 2 bad usage.

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "desktop/windows/installer/installer_startup.h"

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv || argc < 2)
    return 2;
  int name_index = 1;
  if (argc == 3 && std::wstring(argv[1]) == L"restrict") {
    installer::RestrictDllSearchPath();
    name_index = 2;
  }
  HMODULE module = ::LoadLibraryW(argv[name_index]);
  if (!module)
    return 1;
  wchar_t path[MAX_PATH] = {};
  DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
  std::string narrow;
  for (DWORD i = 0; i < length; ++i)
    narrow.push_back(static_cast<char>(path[i]));
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), narrow.data(),
              static_cast<DWORD>(narrow.size()), &written, nullptr);
  return 0;
}
