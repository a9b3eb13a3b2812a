#ifndef BASE_ALLOCATOR_WINHEAP_STUBS_WIN_H_
#define BASE_ALLOCATOR_WINHEAP_STUBS_WIN_H_

#include <stddef.h>

namespace base {
namespace allocator {

// The largest request passed to the heap; larger ones fail without calling
// it, so that size arithmetic in the heap cannot overflow.
constexpr size_t kMaxWindowsAllocation = 0x7FFFEFFE;

// The library's private heap, created on first use (from any thread, before
// or after static initialisation) and kept until the process ends.
void* GetPrivateHeap();

// The operations of the default dispatch table on the private heap.
void* WinHeapMalloc(size_t size);
void WinHeapFree(void* ptr);
void* WinHeapRealloc(void* ptr, size_t size);
// 0 for null; else the block size plus the heap's 8-byte header, rounded up
// to a multiple of 8.
size_t WinHeapGetSizeEstimate(void* ptr);

}  // namespace allocator
}  // namespace base

#endif  // BASE_ALLOCATOR_WINHEAP_STUBS_WIN_H_
