#include "base/allocator/allocator_shim.h"

#include <stdint.h>

#include <bits/functexcept.h>
#include <new>

#include "base/check.h"

namespace base {
namespace allocator {

namespace {

// Constant-initialised, so allocations made before static constructors (by
// the C++ runtime, the test framework or other initialisers) already go
// through the chain.
const AllocatorDispatch* const g_chain_head =
    &AllocatorDispatch::default_dispatch;

// Aligned blocks keep the address of the underlying allocation just below
// the aligned address.
void* AlignedAlloc(size_t size, size_t alignment, bool may_throw) {
  CHECK(alignment != 0 && (alignment & (alignment - 1)) == 0);
  size_t total;
  if (__builtin_add_overflow(size, alignment + sizeof(void*), &total)) {
    if (may_throw)
      std::__throw_bad_alloc();
    return nullptr;
  }
  void* raw = may_throw ? ShimCppNew(total) : ShimCppNewNoThrow(total);
  if (!raw)
    return nullptr;
  uintptr_t aligned =
      (reinterpret_cast<uintptr_t>(raw) + sizeof(void*) + alignment - 1) &
      ~(static_cast<uintptr_t>(alignment) - 1);
  reinterpret_cast<void**>(aligned)[-1] = raw;
  return reinterpret_cast<void*>(aligned);
}

void AlignedFree(void* address) {
  if (address)
    ShimCppDelete(reinterpret_cast<void**>(address)[-1]);
}

}  // namespace

const AllocatorDispatch* GetChainHead() {
  return g_chain_head;
}

void* ShimMalloc(size_t size) {
  const AllocatorDispatch* const chain_head = GetChainHead();
  return chain_head->alloc_function(chain_head, size, nullptr);
}

void* ShimCalloc(size_t n, size_t size) {
  const AllocatorDispatch* const chain_head = GetChainHead();
  return chain_head->alloc_zero_initialized_function(chain_head, n, size,
                                                     nullptr);
}

void* ShimRealloc(void* address, size_t size) {
  const AllocatorDispatch* const chain_head = GetChainHead();
  return chain_head->realloc_function(chain_head, address, size, nullptr);
}

void ShimFree(void* address) {
  const AllocatorDispatch* const chain_head = GetChainHead();
  chain_head->free_function(chain_head, address, nullptr);
}

size_t ShimGetSizeEstimate(void* address) {
  const AllocatorDispatch* const chain_head = GetChainHead();
  return chain_head->get_size_estimate_function(chain_head, address, nullptr);
}

void* ShimCppNewNoThrow(size_t size) {
  for (;;) {
    void* ptr = ShimMalloc(size);
    if (ptr)
      return ptr;
    std::new_handler handler = std::get_new_handler();
    if (!handler)
      return nullptr;
    // A handler that cannot free memory throws (or ends the process); with
    // exceptions off in this library that ends the process either way.
    handler();
  }
}

void* ShimCppNew(size_t size) {
  // Null only once the new handlers have given up.
  void* ptr = ShimCppNewNoThrow(size);
  if (!ptr)
    std::__throw_bad_alloc();
  return ptr;
}

void ShimCppDelete(void* address) {
  ShimFree(address);
}

int ShimQueryNewMode() {
  return 0;
}

}  // namespace allocator
}  // namespace base

// The global allocation operators. They are defined in this object file,
// beside the entry points, so that any program that allocates with new pulls
// the whole set out of the static library: a program must never mix the C++
// runtime's operators with these.
using base::allocator::AlignedAlloc;
using base::allocator::AlignedFree;
using base::allocator::ShimCppDelete;
using base::allocator::ShimCppNew;
using base::allocator::ShimCppNewNoThrow;

void* operator new(size_t size) {
  return ShimCppNew(size);
}

void* operator new[](size_t size) {
  return ShimCppNew(size);
}

void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return ShimCppNewNoThrow(size);
}

void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return ShimCppNewNoThrow(size);
}

void operator delete(void* p) noexcept {
  ShimCppDelete(p);
}

void operator delete[](void* p) noexcept {
  ShimCppDelete(p);
}

void operator delete(void* p, const std::nothrow_t&) noexcept {
  ShimCppDelete(p);
}

void operator delete[](void* p, const std::nothrow_t&) noexcept {
  ShimCppDelete(p);
}

void operator delete(void* p, size_t) noexcept {
  ShimCppDelete(p);
}

void operator delete[](void* p, size_t) noexcept {
  ShimCppDelete(p);
}

void* operator new(size_t size, std::align_val_t alignment) {
  return AlignedAlloc(size, static_cast<size_t>(alignment), true);
}

void* operator new[](size_t size, std::align_val_t alignment) {
  return AlignedAlloc(size, static_cast<size_t>(alignment), true);
}

void* operator new(size_t size,
                   std::align_val_t alignment,
                   const std::nothrow_t&) noexcept {
  return AlignedAlloc(size, static_cast<size_t>(alignment), false);
}

void* operator new[](size_t size,
                     std::align_val_t alignment,
                     const std::nothrow_t&) noexcept {
  return AlignedAlloc(size, static_cast<size_t>(alignment), false);
}

void operator delete(void* p, std::align_val_t) noexcept {
  AlignedFree(p);
}

void operator delete[](void* p, std::align_val_t) noexcept {
  AlignedFree(p);
}

void operator delete(void* p, size_t, std::align_val_t) noexcept {
  AlignedFree(p);
}

void operator delete[](void* p, size_t, std::align_val_t) noexcept {
  AlignedFree(p);
}

void operator delete(void* p,
                     std::align_val_t,
                     const std::nothrow_t&) noexcept {
  AlignedFree(p);
}

void operator delete[](void* p,
                       std::align_val_t,
                       const std::nothrow_t&) noexcept {
  AlignedFree(p);
}
