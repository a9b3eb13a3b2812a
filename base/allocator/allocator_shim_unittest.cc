#include "base/allocator/allocator_shim.h"

#include <windows.h>
#include <stdint.h>
#include <string.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "base/allocator/winheap_stubs_win.h"
#include "gtest/gtest.h"

namespace base {
namespace allocator {
namespace {

HANDLE PrivateHeap() {
  return static_cast<HANDLE>(GetPrivateHeap());
}

bool OnPrivateHeap(void* block) {
  return ::HeapValidate(PrivateHeap(), 0, block) != FALSE;
}

TEST(AllocatorShimTest, DefaultChain) {
  const AllocatorDispatch* head = GetChainHead();
  EXPECT_EQ(&AllocatorDispatch::default_dispatch, head);
  EXPECT_EQ(nullptr, head->next);
  EXPECT_EQ(nullptr, head->batch_malloc_function);
  EXPECT_EQ(nullptr, head->batch_free_function);
  EXPECT_EQ(nullptr, head->free_definite_size_function);
  EXPECT_EQ(0, ShimQueryNewMode());
}

TEST(AllocatorShimTest, PrivateHeapIsNotTheProcessHeap) {
  ASSERT_NE(nullptr, PrivateHeap());
  EXPECT_EQ(PrivateHeap(), GetPrivateHeap());
  EXPECT_NE(::GetProcessHeap(), PrivateHeap());
  // The check below tells the heaps apart.
  void* foreign = ::HeapAlloc(::GetProcessHeap(), 0, 100);
  ASSERT_NE(nullptr, foreign);
  EXPECT_FALSE(OnPrivateHeap(foreign));
  ::HeapFree(::GetProcessHeap(), 0, foreign);

  void* block = ShimMalloc(100);
  ASSERT_NE(nullptr, block);
  EXPECT_TRUE(OnPrivateHeap(block));
  EXPECT_EQ(100u, ::HeapSize(PrivateHeap(), 0, block));
  ShimFree(block);
}

TEST(AllocatorShimTest, SizeLimit) {
  EXPECT_EQ(nullptr, ShimMalloc(kMaxWindowsAllocation + 1));
  EXPECT_EQ(nullptr, ShimMalloc(SIZE_MAX));
  // The largest request reaches the heap, which on a 64-bit system grants
  // it (the pages are committed lazily by the system).
  void* largest = ShimMalloc(kMaxWindowsAllocation);
  ASSERT_NE(nullptr, largest);
  EXPECT_EQ(kMaxWindowsAllocation, ::HeapSize(PrivateHeap(), 0, largest));
  ShimFree(largest);
}

TEST(AllocatorShimTest, Calloc) {
  EXPECT_EQ(nullptr, ShimCalloc(SIZE_MAX / 2, 3));
  EXPECT_EQ(nullptr, ShimCalloc(static_cast<size_t>(1) << 32,
                                static_cast<size_t>(1) << 32));
  // Fits 64 bits but not the limit.
  EXPECT_EQ(nullptr, ShimCalloc(kMaxWindowsAllocation, 2));

  // A reused block must come back zeroed.
  void* dirty = ShimMalloc(4096);
  ASSERT_NE(nullptr, dirty);
  memset(dirty, 0xAB, 4096);
  ShimFree(dirty);
  unsigned char* zeroed = static_cast<unsigned char*>(ShimCalloc(512, 8));
  ASSERT_NE(nullptr, zeroed);
  for (size_t i = 0; i < 4096; ++i)
    ASSERT_EQ(0, zeroed[i]) << i;
  ShimFree(zeroed);
}

TEST(AllocatorShimTest, ReallocRules) {
  // Null behaves as malloc, including the limit.
  void* block = ShimRealloc(nullptr, 16);
  ASSERT_NE(nullptr, block);
  EXPECT_TRUE(OnPrivateHeap(block));
  EXPECT_EQ(nullptr, ShimRealloc(nullptr, kMaxWindowsAllocation + 1));

  memcpy(block, "0123456789abcde", 16);
  // Too large: fails and leaves the block as it was.
  EXPECT_EQ(nullptr, ShimRealloc(block, kMaxWindowsAllocation + 1));
  EXPECT_EQ(nullptr, ShimRealloc(block, SIZE_MAX));
  EXPECT_STREQ("0123456789abcde", static_cast<char*>(block));
  EXPECT_EQ(16u, ::HeapSize(PrivateHeap(), 0, block));

  // Growing keeps the contents.
  block = ShimRealloc(block, 100000);
  ASSERT_NE(nullptr, block);
  EXPECT_STREQ("0123456789abcde", static_cast<char*>(block));
  EXPECT_EQ(100000u, ::HeapSize(PrivateHeap(), 0, block));

  // Size 0 frees and answers null.
  EXPECT_EQ(nullptr, ShimRealloc(block, 0));
}

TEST(AllocatorShimTest, FreeNullAndSizeEstimate) {
  ShimFree(nullptr);
  EXPECT_EQ(0u, ShimGetSizeEstimate(nullptr));
  for (size_t size : {1, 8, 13, 100}) {
    void* block = ShimMalloc(size);
    ASSERT_NE(nullptr, block);
    size_t estimate = ShimGetSizeEstimate(block);
    EXPECT_EQ(0u, estimate % 8) << size;
    EXPECT_GE(estimate, size + 8) << size;
    EXPECT_LT(estimate, size + 16) << size;
    ShimFree(block);
  }
}

TEST(AllocatorShimTest, OperatorNewUsesThePrivateHeap) {
  std::unique_ptr<int> single(new int(7));
  EXPECT_TRUE(OnPrivateHeap(single.get()));
  std::unique_ptr<char[]> array(new char[1000]);
  EXPECT_TRUE(OnPrivateHeap(array.get()));
  std::string text(500, 'x');  // Allocated inside the C++ runtime.
  EXPECT_TRUE(OnPrivateHeap(&text[0]));
  std::vector<int> numbers(100);
  EXPECT_TRUE(OnPrivateHeap(numbers.data()));
  int* nothrow = new (std::nothrow) int[4];
  EXPECT_TRUE(OnPrivateHeap(nothrow));
  delete[] nothrow;
}

struct alignas(256) OverAligned {
  char bytes[300];
};

TEST(AllocatorShimTest, AlignedNew) {
  for (int i = 0; i < 20; ++i) {
    std::unique_ptr<OverAligned> single(new OverAligned);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(single.get()) % 256);
    memset(single->bytes, 1, sizeof(single->bytes));
    std::unique_ptr<OverAligned[]> array(new OverAligned[3]);
    EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(array.get()) % 256);
  }
  void* page = operator new(10, std::align_val_t(4096), std::nothrow);
  ASSERT_NE(nullptr, page);
  EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(page) % 4096);
  operator delete(page, std::align_val_t(4096), std::nothrow);
  EXPECT_EQ(
      nullptr, operator new(SIZE_MAX - 8, std::align_val_t(64), std::nothrow));
}

int g_new_handler_calls = 0;

void CountingNewHandler() {
  ++g_new_handler_calls;
  // Cannot free anything; give up so the allocation fails.
  std::set_new_handler(nullptr);
}

TEST(AllocatorShimTest, NothrowNewRetriesThroughTheNewHandler) {
  EXPECT_EQ(nullptr, new (std::nothrow) char[kMaxWindowsAllocation + 1]);

  g_new_handler_calls = 0;
  std::set_new_handler(&CountingNewHandler);
  EXPECT_EQ(nullptr, new (std::nothrow) char[kMaxWindowsAllocation + 1]);
  EXPECT_EQ(1, g_new_handler_calls);
  EXPECT_EQ(nullptr, std::get_new_handler());
}

TEST(AllocatorShimDeathTest, FailingNewEndsTheProcess) {
  // No handler and no exceptions to catch: std::bad_alloc ends the process.
  EXPECT_DEATH(
      {
        char* volatile p = new char[kMaxWindowsAllocation + 1];
        p[0] = 1;
      },
      "");
}

TEST(AllocatorShimDeathTest, AlignedEntryIsNotSupported) {
  const AllocatorDispatch* head = GetChainHead();
  EXPECT_DEATH(head->alloc_aligned_function(head, 16, 16, nullptr), "");
}

}  // namespace
}  // namespace allocator
}  // namespace base
