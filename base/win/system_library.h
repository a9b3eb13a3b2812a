#ifndef BASE_WIN_SYSTEM_LIBRARY_H_
#define BASE_WIN_SYSTEM_LIBRARY_H_

#include <windows.h>

namespace base {
namespace win {

// Loads the system DLL |name| (a bare file name such as L"userenv.dll") from
// the system folder and nowhere else. An installer runs from a download
// folder, where anyone may have left a DLL that bears a system DLL's name;
// the loader's ordinary search would take that one first. Returns null, with
// the thread's last error set, when |name| holds a folder part or the DLL
// cannot be loaded from the system folder.
HMODULE LoadSystemLibrary(const wchar_t* name);

// Restricts where the loader looks for the DLLs this process loads from now
// on, implicit dependencies of later loads included, to the system folder.
// Returns false where the loader cannot do that (Windows 7 without the update
// that brought SetDefaultDllDirectories); LoadSystemLibrary still loads from
// the system folder there.
bool RestrictDllSearchToSystemFolder();

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_SYSTEM_LIBRARY_H_
