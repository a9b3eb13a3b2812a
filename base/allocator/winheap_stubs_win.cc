#include "base/allocator/winheap_stubs_win.h"

#include <windows.h>

#include <atomic>

#include "base/check.h"

namespace base {
namespace allocator {

namespace {

// Constant-initialised, so usable by allocations made before any static
// constructor has run.
std::atomic<HANDLE> g_private_heap{nullptr};

HANDLE CreatePrivateHeap() {
  // No options, no initial size, no maximum: the heap grows as needed.
  HANDLE created = ::HeapCreate(0, 0, 0);
  // Nothing can run without memory.
  CHECK(created);
  HANDLE expected = nullptr;
  if (!g_private_heap.compare_exchange_strong(expected, created,
                                              std::memory_order_acq_rel)) {
    // Another thread got there first; use its heap.
    ::HeapDestroy(created);
    return expected;
  }
  return created;
}

inline HANDLE Heap() {
  HANDLE heap = g_private_heap.load(std::memory_order_acquire);
  return heap ? heap : CreatePrivateHeap();
}

}  // namespace

void* GetPrivateHeap() {
  return Heap();
}

void* WinHeapMalloc(size_t size) {
  if (size > kMaxWindowsAllocation)
    return nullptr;
  return ::HeapAlloc(Heap(), 0, size);
}

void WinHeapFree(void* ptr) {
  if (!ptr)
    return;
  ::HeapFree(Heap(), 0, ptr);
}

void* WinHeapRealloc(void* ptr, size_t size) {
  if (!ptr)
    return WinHeapMalloc(size);
  if (size == 0) {
    WinHeapFree(ptr);
    return nullptr;
  }
  // Too large: fail and leave the block as it was.
  if (size > kMaxWindowsAllocation)
    return nullptr;
  return ::HeapReAlloc(Heap(), 0, ptr, size);
}

size_t WinHeapGetSizeEstimate(void* ptr) {
  if (!ptr)
    return 0;
  SIZE_T size = ::HeapSize(Heap(), 0, ptr);
  // Account for the heap's block header, then its 8-byte granularity.
  size += 8;
  return (size + 7) & ~static_cast<size_t>(7);
}

}  // namespace allocator
}  // namespace base
