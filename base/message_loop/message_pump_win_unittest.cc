#include "base/message_loop/message_pump_win.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/message_loop/message_pump_default.h"
#include "base/synchronization/waitable_event.h"
#include "base/test/histogram_counts.h"
#include "base/test/test_thread.h"
#include "base/time/time.h"
#include "base/win/message_window.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// A pump delegate whose three callbacks are test hooks; each hook returns
// whether it did work.
class TestDelegate : public MessagePump::Delegate {
 public:
  bool DoWork() override {
    ++work_calls;
    return on_work ? on_work() : false;
  }
  bool DoDelayedWork(TimeTicks* next_delayed_work_time) override {
    ++delayed_work_calls;
    return on_delayed_work ? on_delayed_work(next_delayed_work_time) : false;
  }
  bool DoIdleWork() override {
    ++idle_calls;
    return on_idle ? on_idle() : false;
  }

  int total_calls() const {
    return work_calls + delayed_work_calls + idle_calls;
  }

  std::function<bool()> on_work;
  std::function<bool(TimeTicks*)> on_delayed_work;
  std::function<bool()> on_idle;
  int work_calls = 0;
  int delayed_work_calls = 0;
  int idle_calls = 0;
};

int CountHaveWorkMessages(HWND hwnd) {
  int count = 0;
  MSG msg;
  while (::PeekMessageW(&msg, hwnd, MessagePumpForUI::kMsgHaveWork,
                        MessagePumpForUI::kMsgHaveWork, PM_REMOVE)) {
    ++count;
  }
  return count;
}

// Takes a WM_QUIT left for an outer loop out of this thread's queue.
bool TakeQuitMessage(WPARAM* exit_code) {
  MSG msg;
  if (!::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
    return false;
  *exit_code = msg.wParam;
  return true;
}

// User-interface pump ---------------------------------------------------------

TEST(MessagePumpForUITest, ManyCrossThreadScheduleWorkCallsPostOneMessage) {
  MessagePumpForUI pump;
  HWND hwnd = pump.message_hwnd_for_testing();
  ASSERT_TRUE(hwnd);
  {
    TestThread poster([&pump] {
      for (int i = 0; i < 1000; ++i)
        pump.ScheduleWork();
    });
  }
  EXPECT_EQ(1, CountHaveWorkMessages(hwnd));

  // The flag stays set until the pump takes its message: still nothing new.
  pump.ScheduleWork();
  EXPECT_EQ(0, CountHaveWorkMessages(hwnd));
}

TEST(MessagePumpForUITest, WorkMessageOutsideRunOnlyClearsTheFlag) {
  MessagePumpForUI pump;
  HWND hwnd = pump.message_hwnd_for_testing();
  pump.ScheduleWork();
  // A foreign loop dispatches the work message; there is no run to call.
  MSG msg;
  ASSERT_TRUE(::PeekMessageW(&msg, hwnd, MessagePumpForUI::kMsgHaveWork,
                             MessagePumpForUI::kMsgHaveWork, PM_REMOVE));
  ::DispatchMessageW(&msg);
  // The flag was cleared, so the next call posts again.
  pump.ScheduleWork();
  EXPECT_EQ(1, CountHaveWorkMessages(hwnd));

  // A timer message dispatched by a foreign loop only kills the timer.
  pump.ScheduleDelayedWork(TimeTicks::Now() + TimeDelta::FromMilliseconds(3));
  ASSERT_GT(::GetMessageW(&msg, hwnd, WM_TIMER, WM_TIMER), 0);
  ::DispatchMessageW(&msg);
  EXPECT_FALSE(::KillTimer(hwnd, reinterpret_cast<UINT_PTR>(&pump)));
  EXPECT_EQ(0, CountHaveWorkMessages(hwnd));
}

TEST(MessagePumpForUITest, ShortDelaySetsTimerAndDueWorkPostsMessage) {
  MessagePumpForUI pump;
  HWND hwnd = pump.message_hwnd_for_testing();
  UINT_PTR timer_id = reinterpret_cast<UINT_PTR>(&pump);

  pump.ScheduleDelayedWork(TimeTicks::Now() + TimeDelta::FromMilliseconds(3));
  EXPECT_EQ(0, CountHaveWorkMessages(hwnd));
  EXPECT_TRUE(::KillTimer(hwnd, timer_id));  // The timer existed.

  pump.ScheduleDelayedWork(TimeTicks::Now() - TimeDelta::FromMilliseconds(1));
  EXPECT_FALSE(::KillTimer(hwnd, timer_id));
  EXPECT_EQ(1, CountHaveWorkMessages(hwnd));
}

TEST(MessagePumpForUITest, TimerIntervalIsAtLeastTheWindowTimerMinimum) {
  static const struct {
    int current_delay_ms;
    UINT timer_delay_ms;
  } kCases[] = {
      {1, USER_TIMER_MINIMUM},
      {3, USER_TIMER_MINIMUM},
      {9, USER_TIMER_MINIMUM},
      {10, 10},
      {11, 11},
      {2147483647, 2147483647u},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(c.timer_delay_ms,
              MessagePumpForUI::GetTimerDelay(c.current_delay_ms))
        << c.current_delay_ms;
  }
}

TEST(MessagePumpForUITest, WindowlessPumpCountsEveryFailedWakeUp) {
  const char kHistogram[] = "MessagePumpForUI.MessageLoopProblem";
  const int failures_before = HistogramSampleCount(kHistogram, 0);
  MessagePumpForUI pump{MessagePumpForUI::NoWindowForTesting()};
  TestDelegate delegate;
  bool poster_queue_empty = false;
  delegate.on_idle = [&] {
    // Two wake-ups from another thread while the pump runs: each fails, and
    // the first one's failure lets the second try again.
    TestThread poster([&] {
      pump.ScheduleWork();
      pump.ScheduleWork();
      MSG msg;
      poster_queue_empty = !::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
    });
    poster.Join();
    pump.Quit();
    return false;
  };
  pump.Run(&delegate);
  EXPECT_TRUE(poster_queue_empty) << "the wake-up went to the poster's queue";
  EXPECT_EQ(2, pump.schedule_work_error_count());

  // Outside any run the failure is still counted.
  pump.ScheduleWork();
  EXPECT_EQ(3, pump.schedule_work_error_count());
  EXPECT_FALSE(pump.last_schedule_work_error_time().is_null());
  EXPECT_EQ(failures_before + 3, HistogramSampleCount(kHistogram, 0));
}

TEST(MessagePumpForUITest, CrossThreadScheduleWorkWakesIdlePump) {
  MessagePumpForUI pump;
  TestDelegate delegate;
  WaitableEvent idle;
  bool woken = false;
  delegate.on_idle = [&] {
    idle.Signal();
    return false;
  };
  delegate.on_work = [&] {
    if (delegate.idle_calls > 0) {
      woken = true;
      pump.Quit();
    }
    return false;
  };
  TestThread waker([&] {
    idle.Wait();
    pump.ScheduleWork();
  });
  pump.Run(&delegate);
  EXPECT_TRUE(woken);
}

TEST(MessagePumpForUITest, TimerRunsDelayedWorkInsideRun) {
  MessagePumpForUI pump;
  TestDelegate delegate;
  TimeTicks due;
  bool ran = false;
  delegate.on_work = [&] {
    if (due.is_null()) {
      due = TimeTicks::Now() + TimeDelta::FromMilliseconds(20);
      pump.ScheduleDelayedWork(due);
    }
    return false;
  };
  delegate.on_delayed_work = [&](TimeTicks* next) {
    if (due.is_null() || TimeTicks::Now() < due) {
      *next = due;
      return false;
    }
    ran = true;
    *next = TimeTicks();
    pump.Quit();
    return true;
  };
  pump.Run(&delegate);
  EXPECT_TRUE(ran);
  EXPECT_GE(TimeTicks::Now(), due);
}

TEST(MessagePumpForUITest, QuitMessageEndsNestedRunAndReachesOuterRun) {
  const char kHistogram[] = "MessagePumpForUI.MessageLoopProblem";
  int quits_before = HistogramSampleCount(kHistogram, 3);

  MessagePumpForUI pump;
  TestDelegate delegate;
  bool nested_returned = false;
  delegate.on_work = [&] {
    if (delegate.work_calls != 1)
      return false;
    ::PostQuitMessage(7);
    // Nothing but the WM_QUIT can end this nested run.
    pump.Run(&delegate);
    nested_returned = true;
    return true;
  };
  pump.ScheduleWork();
  pump.Run(&delegate);

  EXPECT_TRUE(nested_returned);
  // Each run took it once and left it for the next one out.
  EXPECT_EQ(quits_before + 2, HistogramSampleCount(kHistogram, 3));
  WPARAM exit_code = 0;
  ASSERT_TRUE(TakeQuitMessage(&exit_code));
  EXPECT_EQ(7u, exit_code);
}

class RecordingDispatcher : public MessagePumpDispatcher {
 public:
  uint32_t Dispatch(const MSG& msg) override {
    seen.push_back(msg.message);
    if (msg.message == kHandled)
      return POST_DISPATCH_NONE;
    if (msg.message == kQuitAfterDefault)
      return POST_DISPATCH_QUIT_LOOP | POST_DISPATCH_PERFORM_DEFAULT;
    return POST_DISPATCH_PERFORM_DEFAULT;
  }

  static constexpr UINT kHandled = WM_USER + 100;
  static constexpr UINT kQuitAfterDefault = WM_USER + 101;
  std::vector<UINT> seen;
};

constexpr UINT RecordingDispatcher::kHandled;
constexpr UINT RecordingDispatcher::kQuitAfterDefault;

TEST(MessagePumpForUITest, DispatcherDecidesOnTranslateAndDispatch) {
  std::vector<UINT> window_saw;
  win::MessageWindow window;
  ASSERT_TRUE(window.Create(BindRepeating(
      [](std::vector<UINT>* saw, UINT message, WPARAM, LPARAM, LRESULT*) {
        if (message >= WM_USER)
          saw->push_back(message);
        return false;
      },
      Unretained(&window_saw))));

  MessagePumpForUI pump;
  TestDelegate delegate;
  RecordingDispatcher dispatcher;
  ::PostMessageW(window.hwnd(), RecordingDispatcher::kHandled, 0, 0);
  ::PostMessageW(window.hwnd(), RecordingDispatcher::kQuitAfterDefault, 0, 0);
  pump.RunWithDispatcher(&delegate, &dispatcher);

  ASSERT_EQ(2u, dispatcher.seen.size());
  EXPECT_EQ(RecordingDispatcher::kHandled, dispatcher.seen[0]);
  // The handled message never reached the window; the other one did.
  ASSERT_EQ(1u, window_saw.size());
  EXPECT_EQ(RecordingDispatcher::kQuitAfterDefault, window_saw[0]);
}

TEST(MessageWindowTest, CallbackResultWinsOverDefaultProcedure) {
  win::MessageWindow window;
  ASSERT_TRUE(window.Create(
      BindRepeating([](UINT message, WPARAM wparam, LPARAM, LRESULT* result) {
        if (message != WM_USER + 5)
          return false;
        *result = static_cast<LRESULT>(wparam * 2);
        return true;
      })));
  EXPECT_EQ(42, ::SendMessageW(window.hwnd(), WM_USER + 5, 21, 0));
  EXPECT_EQ(0, ::SendMessageW(window.hwnd(), WM_USER + 6, 21, 0));
}

// I/O pump --------------------------------------------------------------------

struct Arrival {
  MessagePumpForIO::IOHandler* handler;
  MessagePumpForIO::IOContext* context;
  DWORD bytes;
  DWORD error;
};

class RecordingHandler : public MessagePumpForIO::IOHandler {
 public:
  explicit RecordingHandler(std::vector<Arrival>* log) : log_(log) {}
  void OnIOCompleted(MessagePumpForIO::IOContext* context,
                     DWORD bytes_transfered,
                     DWORD error) override {
    log_->push_back({this, context, bytes_transfered, error});
    if (on_completed)
      on_completed();
  }
  std::function<void()> on_completed;

 private:
  std::vector<Arrival>* log_;
};

// Creates a connected pair of overlapped named-pipe ends.
bool CreatePipePair(win::ScopedHandle* server, win::ScopedHandle* client) {
  static int counter = 0;
  std::wstring name = L"\\\\.\\pipe\\kavor_pump_test_" +
                      std::to_wstring(::GetCurrentProcessId()) + L"_" +
                      std::to_wstring(++counter);
  server->Set(::CreateNamedPipeW(
      name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0,
      nullptr));
  if (!server->IsValid())
    return false;
  client->Set(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                            nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                            nullptr));
  return client->IsValid();
}

TEST(MessagePumpForIOTest, NamedPipeCompletionsReachTheirHandlers) {
  MessagePumpForIO pump;
  std::vector<Arrival> log;
  RecordingHandler reader(&log), writer(&log);
  win::ScopedHandle server, client;
  ASSERT_TRUE(CreatePipePair(&server, &client));
  ASSERT_TRUE(pump.RegisterIOHandler(server.Get(), &reader));
  ASSERT_TRUE(pump.RegisterIOHandler(client.Get(), &writer));

  MessagePumpForIO::IOContext read_context, write_context;
  char buffer[16] = {};
  BOOL ok = ::ReadFile(server.Get(), buffer, sizeof(buffer), nullptr,
                       &read_context.overlapped);
  ASSERT_TRUE(ok || ::GetLastError() == ERROR_IO_PENDING);
  ok =
      ::WriteFile(client.Get(), "hello", 5, nullptr, &write_context.overlapped);
  ASSERT_TRUE(ok || ::GetLastError() == ERROR_IO_PENDING);

  while (log.size() < 2)
    ASSERT_TRUE(pump.WaitForIOCompletion(INFINITE, nullptr));

  for (const Arrival& arrival : log) {
    EXPECT_EQ(0u, arrival.error);
    EXPECT_EQ(5u, arrival.bytes);
    if (arrival.handler == &reader)
      EXPECT_EQ(&read_context, arrival.context);
    else
      EXPECT_EQ(&write_context, arrival.context);
  }
  EXPECT_NE(log[0].handler, log[1].handler);
  EXPECT_EQ("hello", std::string(buffer, 5));

  // A read that fails reports its error to the handler.
  MessagePumpForIO::IOContext broken_context;
  ok = ::ReadFile(server.Get(), buffer, sizeof(buffer), nullptr,
                  &broken_context.overlapped);
  ASSERT_TRUE(!ok && ::GetLastError() == ERROR_IO_PENDING);
  client.Close();
  ASSERT_TRUE(pump.WaitForIOCompletion(INFINITE, nullptr));
  ASSERT_EQ(3u, log.size());
  EXPECT_EQ(&reader, log[2].handler);
  EXPECT_EQ(ERROR_BROKEN_PIPE, log[2].error);
  EXPECT_EQ(0u, log[2].bytes);
}

TEST(MessagePumpForIOTest, FilteredWaitParksOtherHandlersInArrivalOrder) {
  MessagePumpForIO pump;
  std::vector<Arrival> log;
  RecordingHandler a(&log), b(&log);
  win::ScopedHandle server_a, client_a, server_b, client_b;
  ASSERT_TRUE(CreatePipePair(&server_a, &client_a));
  ASSERT_TRUE(CreatePipePair(&server_b, &client_b));
  ASSERT_TRUE(pump.RegisterIOHandler(client_a.Get(), &a));
  ASSERT_TRUE(pump.RegisterIOHandler(client_b.Get(), &b));

  // Writes into an empty pipe buffer complete at once, so their packets
  // queue in this order: a1, a2, b1, a3.
  MessagePumpForIO::IOContext a1, a2, a3, b1;
  struct Write {
    HANDLE pipe;
    MessagePumpForIO::IOContext* context;
    DWORD bytes;
  } writes[] = {{client_a.Get(), &a1, 1},
                {client_a.Get(), &a2, 2},
                {client_b.Get(), &b1, 3},
                {client_a.Get(), &a3, 4}};
  for (const Write& write : writes) {
    BOOL ok = ::WriteFile(write.pipe, "abcd", write.bytes, nullptr,
                          &write.context->overlapped);
    ASSERT_TRUE(ok || ::GetLastError() == ERROR_IO_PENDING);
    DWORD written = 0;
    ASSERT_TRUE(::GetOverlappedResult(write.pipe, &write.context->overlapped,
                                      &written, TRUE));
  }

  // Waiting for b parks a1 and a2 on the way.
  while (log.empty())
    ASSERT_TRUE(pump.WaitForIOCompletion(INFINITE, &b));
  ASSERT_EQ(1u, log.size());
  EXPECT_EQ(&b, log[0].handler);
  EXPECT_EQ(&b1, log[0].context);
  EXPECT_EQ(3u, log[0].bytes);

  // Later waits deliver the parked ones first, then the port's.
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(pump.WaitForIOCompletion(INFINITE, nullptr));
  ASSERT_EQ(4u, log.size());
  EXPECT_EQ(&a1, log[1].context);
  EXPECT_EQ(&a2, log[2].context);
  EXPECT_EQ(&a3, log[3].context);
  EXPECT_EQ(4u, log[3].bytes);
  EXPECT_FALSE(pump.WaitForIOCompletion(0, nullptr));
}

TEST(MessagePumpForIOTest, OwnWakeUpNeverReachesAHandler) {
  MessagePumpForIO pump;
  std::vector<Arrival> log;
  RecordingHandler handler(&log);
  win::ScopedHandle server, client;
  ASSERT_TRUE(CreatePipePair(&server, &client));
  ASSERT_TRUE(pump.RegisterIOHandler(client.Get(), &handler));

  {
    TestThread poster([&pump] {
      for (int i = 0; i < 1000; ++i)
        pump.ScheduleWork();
    });
  }
  // One packet for all the calls, taken by the pump itself, even through a
  // filter.
  EXPECT_TRUE(pump.WaitForIOCompletion(0, &handler));
  EXPECT_FALSE(pump.WaitForIOCompletion(0, nullptr));
  EXPECT_TRUE(log.empty());

  // Taking the packet re-armed the flag.
  pump.ScheduleWork();
  EXPECT_TRUE(pump.WaitForIOCompletion(0, nullptr));
  EXPECT_TRUE(log.empty());
}

TEST(MessagePumpForIOTest, RunDeliversCompletionsAndWakesFromOtherThreads) {
  MessagePumpForIO pump;
  std::vector<Arrival> log;
  RecordingHandler handler(&log);
  win::ScopedHandle server, client;
  ASSERT_TRUE(CreatePipePair(&server, &client));
  ASSERT_TRUE(pump.RegisterIOHandler(server.Get(), &handler));

  TestDelegate delegate;
  WaitableEvent idle;
  delegate.on_idle = [&] {
    idle.Signal();
    return false;
  };
  handler.on_completed = [&] { pump.Quit(); };
  MessagePumpForIO::IOContext read_context;
  char buffer[8];
  BOOL ok = ::ReadFile(server.Get(), buffer, sizeof(buffer), nullptr,
                       &read_context.overlapped);
  ASSERT_TRUE(!ok && ::GetLastError() == ERROR_IO_PENDING);
  HANDLE client_handle = client.Get();
  TestThread writer([&] {
    idle.Wait();
    pump.ScheduleWork();  // A wake-up that is not a completion.
    MessagePumpForIO::IOContext write_context;
    DWORD written = 0;
    ::WriteFile(client_handle, "ping", 4, nullptr, &write_context.overlapped);
    ::GetOverlappedResult(client_handle, &write_context.overlapped, &written,
                          TRUE);
  });
  pump.Run(&delegate);
  writer.Join();
  ASSERT_EQ(1u, log.size());
  EXPECT_EQ(4u, log[0].bytes);
  EXPECT_EQ(&read_context, log[0].context);
}

// Idle pumps
// -------------------------------------------------------------------

using PumpFactory = std::function<std::unique_ptr<MessagePump>()>;

// Runs a pump on its own thread until it is idle, leaves it idle for one
// second and reports how many times it called its delegate and how much CPU
// its thread used meanwhile.
void MeasureIdlePump(PumpFactory factory, int* idle_calls, int64_t* cpu_ms) {
  MessagePump* pump = nullptr;
  TestDelegate delegate;
  WaitableEvent idle, pump_made;
  bool quitting = false;
  delegate.on_idle = [&] {
    idle.Signal();
    return false;
  };
  delegate.on_work = [&] {
    if (quitting)
      pump->Quit();
    return false;
  };
  TestThread runner([&] {
    std::unique_ptr<MessagePump> owned = factory();
    pump = owned.get();
    pump_made.Signal();
    owned->Run(&delegate);
  });
  pump_made.Wait();
  idle.Wait();

  auto thread_cpu_100ns = [&runner] {
    FILETIME creation, exit, kernel, user;
    CHECK(::GetThreadTimes(runner.handle(), &creation, &exit, &kernel, &user));
    auto to_int = [](const FILETIME& t) {
      return (static_cast<int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return to_int(kernel) + to_int(user);
  };
  // The delegate is only touched by the pump's thread while it runs; the
  // counts are read once the pump is parked in its wait.
  int calls_at_idle = delegate.total_calls();
  int64_t cpu_at_idle = thread_cpu_100ns();

  // Nothing will ever signal this: it is one idle second to measure over.
  WaitableEvent never;
  never.TimedWait(TimeDelta::FromSeconds(1));

  int64_t cpu_after = thread_cpu_100ns();
  *idle_calls = delegate.total_calls() - calls_at_idle;
  *cpu_ms = (cpu_after - cpu_at_idle) / 10000;

  quitting = true;
  pump->ScheduleWork();
  runner.Join();
}

TEST(MessagePumpIdleTest, IdlePumpsUseNoCpu) {
  struct {
    const char* name;
    PumpFactory factory;
  } pumps[] = {
      {"ui", [] { return std::make_unique<MessagePumpForUI>(); }},
      {"io", [] { return std::make_unique<MessagePumpForIO>(); }},
      {"default", [] { return std::make_unique<MessagePumpDefault>(); }},
  };
  for (auto& pump : pumps) {
    SCOPED_TRACE(pump.name);
    int calls = -1;
    int64_t cpu_ms = -1;
    MeasureIdlePump(pump.factory, &calls, &cpu_ms);
    EXPECT_EQ(0, calls);
    EXPECT_LT(cpu_ms, 100);
  }
}

}  // namespace
}  // namespace base
