#include <string.h>

#include "base/allocator/allocator_shim.h"
#include "base/allocator/winheap_stubs_win.h"
#include "base/check.h"

namespace base {
namespace allocator {

namespace {

void* DefaultWinHeapMallocImpl(const AllocatorDispatch*,
                               size_t size,
                               void* context) {
  return WinHeapMalloc(size);
}

void* DefaultWinHeapCallocImpl(const AllocatorDispatch* self,
                               size_t n,
                               size_t elem_size,
                               void* context) {
  size_t size;
  if (__builtin_mul_overflow(n, elem_size, &size))
    return nullptr;
  void* result = DefaultWinHeapMallocImpl(self, size, context);
  if (result)
    memset(result, 0, size);
  return result;
}

void* DefaultWinHeapMemalignImpl(const AllocatorDispatch*,
                                 size_t alignment,
                                 size_t size,
                                 void* context) {
  // The heap has no aligned entry; nothing in the library may ask for one.
  NOTREACHED();
}

void* DefaultWinHeapReallocImpl(const AllocatorDispatch*,
                                void* address,
                                size_t size,
                                void* context) {
  return WinHeapRealloc(address, size);
}

void DefaultWinHeapFreeImpl(const AllocatorDispatch*,
                            void* address,
                            void* context) {
  WinHeapFree(address);
}

size_t DefaultWinHeapGetSizeEstimateImpl(const AllocatorDispatch*,
                                         void* address,
                                         void* context) {
  return WinHeapGetSizeEstimate(address);
}

}  // namespace

// Constant-initialised: in place before any code of the process runs.
const AllocatorDispatch AllocatorDispatch::default_dispatch = {
    &DefaultWinHeapMallocImpl,
    &DefaultWinHeapCallocImpl,
    &DefaultWinHeapMemalignImpl,
    &DefaultWinHeapReallocImpl,
    &DefaultWinHeapFreeImpl,
    &DefaultWinHeapGetSizeEstimateImpl,
    nullptr, /* batch_malloc_function */
    nullptr, /* batch_free_function */
    nullptr, /* free_definite_size_function */
    nullptr, /* next */
};

}  // namespace allocator
}  // namespace base
