#include "base/threading/platform_thread.h"

#include <windows.h>

#include "gtest/gtest.h"

namespace base {
namespace {

DWORD WINAPI StoreCurrentId(void* param) {
  *static_cast<PlatformThreadId*>(param) = PlatformThread::CurrentId();
  return 0;
}

TEST(PlatformThreadTest, CurrentIdIsTheKernelThreadId) {
  EXPECT_NE(0u, PlatformThread::CurrentId());
  EXPECT_EQ(::GetCurrentThreadId(), PlatformThread::CurrentId());

  PlatformThreadId other_id = 0;
  HANDLE thread = ::CreateThread(nullptr, 0, &StoreCurrentId, &other_id, 0,
                                 nullptr);
  ASSERT_TRUE(thread);
  DWORD thread_id = ::GetThreadId(thread);
  ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread, INFINITE));
  ::CloseHandle(thread);
  EXPECT_EQ(thread_id, other_id);
  EXPECT_NE(PlatformThread::CurrentId(), other_id);
}

}  // namespace
}  // namespace base
