#ifndef BASE_MEMORY_ALLOCATION_PROBE_H_
#define BASE_MEMORY_ALLOCATION_PROBE_H_

#include <stddef.h>

#include <new>

namespace base {

// Sizes at or above this are checked with CanAllocate before a reader
// allocates them; smaller ones are left to operator new.
constexpr size_t kAllocationProbeThreshold = 1 << 20;

// Without exceptions a failed operator new ends the process, so a reader
// that sizes an allocation from its input asks here first and fails the read
// instead when the heap cannot give |bytes|. The answer is a snapshot: it
// guards against sizes the heap refuses outright or cannot hold at all, not
// against other threads taking the memory in between.
inline bool CanAllocate(size_t bytes) {
  if (bytes < kAllocationProbeThreshold)
    return true;
  void* probe = ::operator new(bytes, std::nothrow);
  if (!probe)
    return false;
  ::operator delete(probe);
  return true;
}

}  // namespace base

#endif  // BASE_MEMORY_ALLOCATION_PROBE_H_
