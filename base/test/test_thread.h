#ifndef BASE_TEST_TEST_THREAD_H_
#define BASE_TEST_TEST_THREAD_H_

#include <windows.h>

#include <functional>

#include "base/macros.h"

namespace base {

// Runs a function on a bare system thread of its own (no message loop, no
// base::Thread, no thread name), for tests of the pieces those are built
// from. The thread starts in the constructor; Join(), or the destructor,
// waits for it to end.
//
// The wait is bounded: a thread that has not ended within kJoinTimeoutMs
// fails the test with "TestThread: the thread did not end" and ends the test
// process, since the thread may still use what the test is about to destroy.
class TestThread {
 public:
  // Long enough never to matter on a healthy run, even under Wine on a busy
  // machine; it only turns a lost wake-up into a failure instead of a hang.
  static constexpr DWORD kJoinTimeoutMs = 60000;

  explicit TestThread(std::function<void()> body);
  ~TestThread();

  // Waits for the body to end. Returns at once if it was joined before.
  void Join();

  HANDLE handle() const { return handle_; }
  DWORD thread_id() const { return thread_id_; }

 private:
  static DWORD WINAPI ThreadMain(void* param);

  std::function<void()> body_;
  HANDLE handle_ = nullptr;
  DWORD thread_id_ = 0;

  DISALLOW_COPY_AND_ASSIGN(TestThread);
};

// Runs |body| on a new thread and returns once that thread has fully ended,
// its thread-local storage callbacks included.
void RunOnThreadAndJoin(std::function<void()> body);

}  // namespace base

#endif  // BASE_TEST_TEST_THREAD_H_
