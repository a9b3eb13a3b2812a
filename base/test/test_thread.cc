#include "base/test/test_thread.h"

#include <stdio.h>

#include <utility>

#include "gtest/gtest.h"

namespace base {

constexpr DWORD TestThread::kJoinTimeoutMs;

TestThread::TestThread(std::function<void()> body) : body_(std::move(body)) {
  handle_ =
      ::CreateThread(nullptr, 0, &TestThread::ThreadMain, this, 0, &thread_id_);
  if (!handle_) {
    ADD_FAILURE() << "TestThread: CreateThread failed, error "
                  << ::GetLastError();
  }
}

TestThread::~TestThread() {
  Join();
}

void TestThread::Join() {
  if (!handle_)
    return;
  const DWORD result = ::WaitForSingleObject(handle_, kJoinTimeoutMs);
  if (result != WAIT_OBJECT_0) {
    ADD_FAILURE() << "TestThread: the thread did not end within "
                  << kJoinTimeoutMs << " ms (wait result " << result << ")";
    fprintf(stderr,
            "TestThread: the thread did not end; ending the test "
            "process\n");
    fflush(stderr);
    ::TerminateProcess(::GetCurrentProcess(), 1);
  }
  ::CloseHandle(handle_);
  handle_ = nullptr;
}

// static
DWORD WINAPI TestThread::ThreadMain(void* param) {
  static_cast<TestThread*>(param)->body_();
  return 0;
}

void RunOnThreadAndJoin(std::function<void()> body) {
  TestThread thread(std::move(body));
  thread.Join();
}

}  // namespace base
