#ifndef BASE_SCOPED_NATIVE_LIBRARY_H_
#define BASE_SCOPED_NATIVE_LIBRARY_H_

#include "base/macros.h"
#include "base/native_library.h"

namespace base {

class FilePath;

// Owns a loaded library and unloads it when it goes away.
class ScopedNativeLibrary {
 public:
  ScopedNativeLibrary();
  // Takes ownership of an already loaded |library|.
  explicit ScopedNativeLibrary(NativeLibrary library);
  // Loads the library at |library_path|.
  explicit ScopedNativeLibrary(const FilePath& library_path);
  ~ScopedNativeLibrary();

  bool is_valid() const { return !!library_; }
  NativeLibrary get() const { return library_; }

  // Null when nothing is loaded; else the exported function or null.
  void* GetFunctionPointer(const char* function_name) const;

  // Unloads what is held and takes |library| instead.
  void Reset(NativeLibrary library);

  // Gives the library up without unloading it.
  NativeLibrary Release();

 private:
  NativeLibrary library_;

  DISALLOW_COPY_AND_ASSIGN(ScopedNativeLibrary);
};

}  // namespace base

#endif  // BASE_SCOPED_NATIVE_LIBRARY_H_
