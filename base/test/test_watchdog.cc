#include "base/test/test_watchdog.h"

#include <windows.h>

#include <stdint.h>
#include <stdio.h>

#include <string>

#include "gtest/gtest.h"

namespace base {
namespace test {

namespace {

// Lives for the rest of the process: the watching thread is never stopped.
class WatchdogState {
 public:
  explicit WatchdogState(DWORD limit_ms) : limit_ms_(limit_ms) {
    ::InitializeCriticalSection(&lock_);
    changed_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE thread = ::CreateThread(nullptr, 0, &WatchdogState::ThreadMain, this,
                                   0, nullptr);
    if (thread)
      ::CloseHandle(thread);
  }

  // |name| empty: no test runs.
  void SetRunningTest(const std::string& name) {
    ::EnterCriticalSection(&lock_);
    running_test_ = name;
    ++generation_;
    ::LeaveCriticalSection(&lock_);
    ::SetEvent(changed_);
  }

 private:
  static DWORD WINAPI ThreadMain(void* param) {
    static_cast<WatchdogState*>(param)->Watch();
    return 0;
  }

  void Watch() {
    for (;;) {
      ::EnterCriticalSection(&lock_);
      const std::string name = running_test_;
      const uint64_t generation = generation_;
      ::LeaveCriticalSection(&lock_);

      const DWORD wait = name.empty() ? INFINITE : limit_ms_;
      if (::WaitForSingleObject(changed_, wait) != WAIT_TIMEOUT)
        continue;
      ::EnterCriticalSection(&lock_);
      const bool same_test = generation == generation_;
      ::LeaveCriticalSection(&lock_);
      if (!same_test)
        continue;

      fflush(stdout);
      fprintf(stderr,
              "\n[  WATCHDOG ] %s still running after %lu s: a wait in it "
              "never returned. Ending the test executable.\n",
              name.c_str(), limit_ms_ / 1000);
      fflush(stderr);
      ::TerminateProcess(::GetCurrentProcess(), 3);
    }
  }

  const DWORD limit_ms_;
  CRITICAL_SECTION lock_;
  HANDLE changed_ = nullptr;
  std::string running_test_;
  uint64_t generation_ = 0;
};

class WatchdogListener : public testing::EmptyTestEventListener {
 public:
  explicit WatchdogListener(WatchdogState* state) : state_(state) {}

  void OnTestStart(const testing::TestInfo& info) override {
    state_->SetRunningTest(std::string(info.test_suite_name()) + "." +
                           info.name());
  }
  void OnTestEnd(const testing::TestInfo&) override {
    state_->SetRunningTest(std::string());
  }

 private:
  WatchdogState* const state_;
};

}  // namespace

void InstallTestWatchdog(unsigned int limit_seconds) {
  WatchdogState* state = new WatchdogState(limit_seconds * 1000);
  // The listener list owns and deletes the listener; the state stays.
  testing::UnitTest::GetInstance()->listeners().Append(
      new WatchdogListener(state));
}

}  // namespace test
}  // namespace base
