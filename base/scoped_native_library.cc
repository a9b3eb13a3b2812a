#include "base/scoped_native_library.h"

namespace base {

ScopedNativeLibrary::ScopedNativeLibrary() : library_(nullptr) {}

ScopedNativeLibrary::ScopedNativeLibrary(NativeLibrary library)
    : library_(library) {}

ScopedNativeLibrary::ScopedNativeLibrary(const FilePath& library_path)
    : library_(LoadNativeLibrary(library_path, nullptr)) {}

ScopedNativeLibrary::~ScopedNativeLibrary() {
  if (library_)
    UnloadNativeLibrary(library_);
}

void* ScopedNativeLibrary::GetFunctionPointer(const char* function_name) const {
  if (!library_)
    return nullptr;
  return GetFunctionPointerFromNativeLibrary(library_, function_name);
}

void ScopedNativeLibrary::Reset(NativeLibrary library) {
  if (library_ && library_ != library)
    UnloadNativeLibrary(library_);
  library_ = library;
}

NativeLibrary ScopedNativeLibrary::Release() {
  NativeLibrary result = library_;
  library_ = nullptr;
  return result;
}

}  // namespace base
