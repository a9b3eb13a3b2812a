#ifndef BASE_DEBUG_PROFILER_H_
#define BASE_DEBUG_PROFILER_H_

#include <windows.h>

namespace base {
namespace debug {

// True when this module was rewritten by a binary instrumenter, which leaves
// both a ".thunks" and a ".syzygy" section behind. Computed once.
bool IsBinaryInstrumented();

namespace internal {

// The header of the first section of |module|'s image whose name matches
// |name| in at most 8 bytes, or null. |module| must be a loaded image.
const IMAGE_SECTION_HEADER* FindImageSectionByName(HMODULE module,
                                                   const char* name);

}  // namespace internal

}  // namespace debug
}  // namespace base

#endif  // BASE_DEBUG_PROFILER_H_
