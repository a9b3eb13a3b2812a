#include "base/debug/stack_trace.h"

#include <windows.h>

#include "gtest/gtest.h"

namespace base {
namespace debug {
namespace {

HMODULE ModuleOf(const void* address) {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       static_cast<LPCWSTR>(address), &module);
  return module;
}

__attribute__((noinline)) StackTrace CaptureNested(int depth) {
  if (depth == 0)
    return StackTrace();
  StackTrace trace = CaptureNested(depth - 1);
  // Keeps the recursion a real call chain.
  __asm__ volatile("" : : "r"(&trace) : "memory");
  return trace;
}

__attribute__((noinline)) size_t CountNested(int depth, size_t wanted) {
  if (depth == 0)
    return StackTrace(wanted).count();
  size_t result = CountNested(depth - 1, wanted);
  __asm__ volatile("" : : "r"(&result) : "memory");
  return result;
}

TEST(StackTraceTest, CapturesThisThreadsFramesInnermostFirst) {
  StackTrace trace;
  size_t count = 0;
  const void* const* addresses = trace.Addresses(&count);
  ASSERT_NE(nullptr, addresses);
  EXPECT_EQ(trace.count(), count);
  ASSERT_GE(count, 2u);
  EXPECT_LE(count, StackTrace::kMaxTraces);
  // The innermost frames are in this executable, not in the system.
  EXPECT_EQ(::GetModuleHandleW(nullptr), ModuleOf(addresses[0]));
  EXPECT_EQ(::GetModuleHandleW(nullptr), ModuleOf(addresses[1]));
}

TEST(StackTraceTest, FrameCountIsCapped) {
  EXPECT_EQ(0u, StackTrace(0).count());
  size_t count = 1;
  EXPECT_EQ(nullptr, StackTrace(0).Addresses(&count));
  EXPECT_EQ(0u, count);

  // A test body runs many frames deep, so a small request is met exactly.
  EXPECT_EQ(3u, StackTrace(3).count());
  // Far more frames than the cap are on the stack here.
  EXPECT_EQ(StackTrace::kMaxTraces, CaptureNested(80).count());
  // Asking for more than the cap still gives the cap.
  EXPECT_EQ(StackTrace::kMaxTraces, CountNested(80, 1000));
}

TEST(StackTraceTest, ProgramCounterIsInsideTheCaller) {
  const void* pc = GetProgramCounter();
  EXPECT_EQ(::GetModuleHandleW(nullptr), ModuleOf(pc));
  EXPECT_NE(pc, GetProgramCounter());  // Two call sites, two addresses.
}

}  // namespace
}  // namespace debug
}  // namespace base
