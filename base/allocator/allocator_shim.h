#ifndef BASE_ALLOCATOR_ALLOCATOR_SHIM_H_
#define BASE_ALLOCATOR_ALLOCATOR_SHIM_H_

#include <stddef.h>

namespace base {
namespace allocator {

// A table of allocation functions. Each takes the table itself first and an
// opaque context last, so that a table placed in front can forward to
// |next|. The default table fills the first six entries.
struct AllocatorDispatch {
  using AllocFn = void*(const AllocatorDispatch* self,
                        size_t size,
                        void* context);
  using AllocZeroInitializedFn = void*(const AllocatorDispatch* self,
                                       size_t n,
                                       size_t size,
                                       void* context);
  using AllocAlignedFn = void*(const AllocatorDispatch* self,
                               size_t alignment,
                               size_t size,
                               void* context);
  using ReallocFn = void*(const AllocatorDispatch* self,
                          void* address,
                          size_t size,
                          void* context);
  using FreeFn = void(const AllocatorDispatch* self,
                      void* address,
                      void* context);
  using GetSizeEstimateFn = size_t(const AllocatorDispatch* self,
                                   void* address,
                                   void* context);
  using BatchMallocFn = unsigned(const AllocatorDispatch* self,
                                 size_t size,
                                 void** results,
                                 unsigned num_requested,
                                 void* context);
  using BatchFreeFn = void(const AllocatorDispatch* self,
                           void** to_be_freed,
                           unsigned num_to_be_freed,
                           void* context);
  using FreeDefiniteSizeFn = void(const AllocatorDispatch* self,
                                  void* address,
                                  size_t size,
                                  void* context);

  AllocFn* const alloc_function;
  AllocZeroInitializedFn* const alloc_zero_initialized_function;
  AllocAlignedFn* const alloc_aligned_function;
  ReallocFn* const realloc_function;
  FreeFn* const free_function;
  GetSizeEstimateFn* const get_size_estimate_function;
  BatchMallocFn* const batch_malloc_function;
  BatchFreeFn* const batch_free_function;
  FreeDefiniteSizeFn* const free_definite_size_function;

  const AllocatorDispatch* next;

  // The table that sends everything to the library's private heap.
  static const AllocatorDispatch default_dispatch;
};

// The first table of the chain: the default table, fixed for the life of
// the process.
const AllocatorDispatch* GetChainHead();

// The library's allocation entry points. Each calls the chain head's entry
// for its operation with a null context. These, not the C runtime's
// malloc/free, are what the global operator new and delete use: the runtime
// keeps its own heap for its own blocks.
void* ShimMalloc(size_t size);
void* ShimCalloc(size_t n, size_t size);
void* ShimRealloc(void* address, size_t size);
void ShimFree(void* address);
size_t ShimGetSizeEstimate(void* address);

// The operator new loop: retries through the installed new handler and, with
// none installed, fails with std::bad_alloc.
void* ShimCppNew(size_t size);
// The same, answering null where ShimCppNew would fail.
void* ShimCppNewNoThrow(size_t size);
void ShimCppDelete(void* address);

// A failed malloc does not call the new handler.
int ShimQueryNewMode();

}  // namespace allocator
}  // namespace base

#endif  // BASE_ALLOCATOR_ALLOCATOR_SHIM_H_
