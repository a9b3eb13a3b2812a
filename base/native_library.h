#ifndef BASE_NATIVE_LIBRARY_H_
#define BASE_NATIVE_LIBRARY_H_

#include <windows.h>

#include <stdint.h>

namespace base {

class FilePath;

// A loaded library; null when nothing is loaded.
typedef HMODULE NativeLibrary;

// Why a load failed: the Win32 error code.
struct NativeLibraryLoadError {
  NativeLibraryLoadError() : code(0) {}
  uint32_t code;
};

// How a load went; the samples of "LibraryLoader.LoadNativeLibraryWindows".
enum NativeLoadOutcome {
  SAFE_SEARCH_LOADED = 0,
  SAFE_SEARCH_FAILED_PLAIN_LOADED = 1,
  BOTH_LOADS_FAILED = 2,
  NO_SAFE_SEARCH_PLAIN_LOADED = 3,
  NO_SAFE_SEARCH_PLAIN_FAILED = 4,
  NATIVE_LOAD_OUTCOME_BOUNDARY = 5,
};

// Loads the library at |library_path|, looking for its dependencies in its
// own folder. Null on failure, with the error written to |error| when it is
// not null. May change the process's current folder for the duration of
// the call: load libraries from one thread at a time.
NativeLibrary LoadNativeLibrary(const FilePath& library_path,
                                NativeLibraryLoadError* error);

void UnloadNativeLibrary(NativeLibrary library);

// The exported function |name| of |library|, or null.
void* GetFunctionPointerFromNativeLibrary(NativeLibrary library,
                                          const char* name);

}  // namespace base

#endif  // BASE_NATIVE_LIBRARY_H_
