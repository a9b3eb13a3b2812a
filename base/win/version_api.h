#ifndef BASE_WIN_VERSION_API_H_
#define BASE_WIN_VERSION_API_H_

#include <windows.h>

namespace base {
namespace win {

// The functions of version.dll that read a file's version resource.
struct VersionApi {
  DWORD(WINAPI* get_file_version_info_size)(LPCWSTR, LPDWORD) = nullptr;
  BOOL(WINAPI* get_file_version_info)(LPCWSTR, DWORD, DWORD, LPVOID) = nullptr;
  BOOL(WINAPI* ver_query_value)(LPCVOID, LPCWSTR, LPVOID*, PUINT) = nullptr;
};

// version.dll is not one of the libraries every process already has: it is
// bound at run time from the system folder, never from beside the program
// (where a download folder could hold a planted copy), once per process.
// Null when it or one of its functions cannot be had; the first answer
// stands for the process's life.
const VersionApi* GetVersionApi();

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_VERSION_API_H_
