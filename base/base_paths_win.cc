#include "base/base_paths.h"

#include <windows.h>
#include <shlobj.h>

#include "base/files/file_path.h"
#include "base/path_service.h"
#include "base/win/scoped_generic.h"
#include "base/win/windows_version.h"

// The image base of the module this code is linked into.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace base {

namespace {

// {A3918781-E5F2-4890-B3D9-A7E54332328C}
const GUID kFolderIdApplicationShortcuts = {
    0xa3918781,
    0xe5f2,
    0x4890,
    {0xb3, 0xd9, 0xa7, 0xe5, 0x43, 0x32, 0x32, 0x8c}};

bool GetShellFolder(int csidl, FilePath* result) {
  wchar_t system_buffer[MAX_PATH];
  system_buffer[0] = 0;
  if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT,
                                system_buffer))) {
    return false;
  }
  *result = FilePath(system_buffer);
  return true;
}

bool GetModulePath(HMODULE module, FilePath* result) {
  wchar_t system_buffer[MAX_PATH];
  system_buffer[0] = 0;
  if (::GetModuleFileNameW(module, system_buffer, MAX_PATH) == 0)
    return false;
  *result = FilePath(system_buffer);
  return true;
}

typedef HRESULT(WINAPI* SHGetKnownFolderPathFunction)(REFKNOWNFOLDERID,
                                                      DWORD,
                                                      HANDLE,
                                                      PWSTR*);

bool GetKnownFolder(const GUID& folder_id, FilePath* result) {
  HMODULE shell32 = ::GetModuleHandleW(L"shell32.dll");
  if (!shell32)
    return false;
  SHGetKnownFolderPathFunction get_known_folder_path =
      reinterpret_cast<SHGetKnownFolderPathFunction>(
          ::GetProcAddress(shell32, "SHGetKnownFolderPath"));
  if (!get_known_folder_path)
    return false;
  win::ScopedCoMem<wchar_t> path;
  HRESULT hr = get_known_folder_path(folder_id, 0, nullptr, path.receive());
  bool ok = SUCCEEDED(hr) && path.is_valid();
  if (ok)
    *result = FilePath(path.get());
  return ok;
}

}  // namespace

bool PathProviderWin(int key, FilePath* result) {
  FilePath cur;
  switch (key) {
    case FILE_EXE:
      if (!GetModulePath(nullptr, &cur))
        return false;
      break;
    case FILE_MODULE:
      if (!GetModulePath(reinterpret_cast<HMODULE>(&__ImageBase), &cur))
        return false;
      break;
    case DIR_SOURCE_ROOT:
      // Test executables sit two folders below the root of the tree.
      if (!PathService::Get(DIR_EXE, &cur))
        return false;
      cur = cur.DirName().DirName();
      break;
    case DIR_USER_DESKTOP:
      if (!GetShellFolder(CSIDL_DESKTOPDIRECTORY, &cur))
        return false;
      break;
    case DIR_WINDOWS: {
      wchar_t system_buffer[MAX_PATH];
      if (!::GetWindowsDirectoryW(system_buffer, MAX_PATH))
        return false;
      cur = FilePath(system_buffer);
      break;
    }
    case DIR_SYSTEM: {
      wchar_t system_buffer[MAX_PATH];
      if (!::GetSystemDirectoryW(system_buffer, MAX_PATH))
        return false;
      cur = FilePath(system_buffer);
      break;
    }
    case DIR_PROGRAM_FILESX86:
      if (win::OSInfo::GetInstance()->architecture() != win::ARCH_X86) {
        if (!GetShellFolder(CSIDL_PROGRAM_FILESX86, &cur))
          return false;
        break;
      }
      // On a 32-bit system there is only one program-files folder.
      if (!GetShellFolder(CSIDL_PROGRAM_FILES, &cur))
        return false;
      break;
    case DIR_PROGRAM_FILES:
    case DIR_PROGRAM_FILES6432:
      if (!GetShellFolder(CSIDL_PROGRAM_FILES, &cur))
        return false;
      break;
    case DIR_IE_INTERNET_CACHE:
      if (!GetShellFolder(CSIDL_INTERNET_CACHE, &cur))
        return false;
      break;
    case DIR_COMMON_START_MENU:
      if (!GetShellFolder(CSIDL_COMMON_PROGRAMS, &cur))
        return false;
      break;
    case DIR_START_MENU:
      if (!GetShellFolder(CSIDL_PROGRAMS, &cur))
        return false;
      break;
    case DIR_APP_DATA:
      if (!GetShellFolder(CSIDL_APPDATA, &cur))
        return false;
      break;
    case DIR_LOCAL_APP_DATA:
      if (!GetShellFolder(CSIDL_LOCAL_APPDATA, &cur))
        return false;
      break;
    case DIR_COMMON_APP_DATA:
      if (!GetShellFolder(CSIDL_COMMON_APPDATA, &cur))
        return false;
      break;
    case DIR_APP_SHORTCUTS:
      // The folder exists from Windows 8 on.
      if (win::GetVersion() < win::WIN8)
        return false;
      if (!GetKnownFolder(kFolderIdApplicationShortcuts, &cur))
        return false;
      break;
    case DIR_COMMON_DESKTOP:
      if (!GetShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY, &cur))
        return false;
      break;
    case DIR_USER_QUICK_LAUNCH:
      if (!PathService::Get(DIR_APP_DATA, &cur))
        return false;
      cur = cur.Append(L"Microsoft")
                .Append(L"Internet Explorer")
                .Append(L"Quick Launch");
      break;
    case DIR_TASKBAR_PINS:
      if (!PathService::Get(DIR_USER_QUICK_LAUNCH, &cur))
        return false;
      cur = cur.Append(L"User Pinned").Append(L"TaskBar");
      break;
    case DIR_IMPLICIT_APP_SHORTCUTS:
      if (!PathService::Get(DIR_USER_QUICK_LAUNCH, &cur))
        return false;
      cur = cur.Append(L"User Pinned").Append(L"ImplicitAppShortcuts");
      break;
    case DIR_WINDOWS_FONTS:
      if (!GetShellFolder(CSIDL_FONTS, &cur))
        return false;
      break;
    default:
      return false;
  }
  *result = cur;
  return true;
}

}  // namespace base
