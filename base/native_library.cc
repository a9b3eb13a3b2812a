#include "base/native_library.h"

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/metrics/histogram.h"

namespace base {

namespace {

// Flags of the safe search: the library's own folder, then the system's
// default folders. Not declared for Windows 7 without its update.
const DWORD kLoadLibrarySearchDllLoadDir = 0x00000100;
const DWORD kLoadLibrarySearchDefaultDirs = 0x00001000;

void LogLibraryLoadOutcome(NativeLoadOutcome outcome) {
  static HistogramBase* const histogram = LinearHistogram::FactoryGet(
      "LibraryLoader.LoadNativeLibraryWindows", 1, NATIVE_LOAD_OUTCOME_BOUNDARY,
      NATIVE_LOAD_OUTCOME_BOUNDARY + 1,
      HistogramBase::kUmaTargetedHistogramFlag);
  histogram->Add(outcome);
}

// Safe search needs the update that brought AddDllDirectory.
bool AreSearchFlagsAvailable() {
  HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  return kernel32 && ::GetProcAddress(kernel32, "AddDllDirectory");
}

}  // namespace

NativeLibrary LoadNativeLibrary(const FilePath& library_path,
                                NativeLibraryLoadError* error) {
  const bool are_search_flags_available = AreSearchFlagsAvailable();
  if (are_search_flags_available) {
    HMODULE module = ::LoadLibraryExW(
        library_path.value().c_str(), nullptr,
        kLoadLibrarySearchDllLoadDir | kLoadLibrarySearchDefaultDirs);
    if (module) {
      LogLibraryLoadOutcome(SAFE_SEARCH_LOADED);
      return module;
    }
    if (error)
      error->code = ::GetLastError();
  }

  // Without safe search, the library's dependencies are found in its folder
  // only while that folder is the current one. A bare file name has "." as
  // its folder: nothing to switch to.
  bool restore_directory = false;
  FilePath current_directory;
  if (GetCurrentDirectory(&current_directory)) {
    FilePath plugin_path = library_path.DirName();
    if (!plugin_path.empty() && plugin_path.value() != L".")
      restore_directory = SetCurrentDirectory(plugin_path);
  }

  HMODULE module = ::LoadLibraryW(library_path.value().c_str());
  if (!module && error)
    error->code = ::GetLastError();

  // Nothing better to do when the old folder cannot be made current again:
  // the load is over either way.
  if (restore_directory)
    (void)SetCurrentDirectory(current_directory);

  if (are_search_flags_available) {
    LogLibraryLoadOutcome(module ? SAFE_SEARCH_FAILED_PLAIN_LOADED
                                 : BOTH_LOADS_FAILED);
  } else {
    LogLibraryLoadOutcome(module ? NO_SAFE_SEARCH_PLAIN_LOADED
                                 : NO_SAFE_SEARCH_PLAIN_FAILED);
  }
  return module;
}

void UnloadNativeLibrary(NativeLibrary library) {
  ::FreeLibrary(library);
}

void* GetFunctionPointerFromNativeLibrary(NativeLibrary library,
                                          const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(library, name));
}

}  // namespace base
