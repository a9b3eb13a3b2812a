#include "base/message_loop/message_pump_default.h"

#include <windows.h>

#include <functional>

#include "base/synchronization/waitable_event.h"
#include "base/test/test_thread.h"
#include "base/time/time.h"
#include "gtest/gtest.h"

namespace base {
namespace {

class ScriptedDelegate : public MessagePump::Delegate {
 public:
  bool DoWork() override { return on_work ? on_work() : false; }
  bool DoDelayedWork(TimeTicks* next) override {
    return on_delayed_work ? on_delayed_work(next) : false;
  }
  bool DoIdleWork() override { return on_idle ? on_idle() : false; }

  std::function<bool()> on_work;
  std::function<bool(TimeTicks*)> on_delayed_work;
  std::function<bool()> on_idle;
};

TEST(MessagePumpDefaultTest, QuitInNestedRunLeavesOuterRunRunning) {
  MessagePumpDefault pump;
  ScriptedDelegate delegate;
  int step = 0;
  std::vector<int> trace;
  delegate.on_work = [&] {
    ++step;
    trace.push_back(step);
    if (step == 1) {
      pump.Run(&delegate);  // Nested: steps 2 and 3 run inside.
      trace.push_back(-1);
      return true;
    }
    if (step == 3) {
      pump.Quit();  // Ends the nested run only.
      return true;
    }
    if (step == 4)
      pump.Quit();
    return step < 4;
  };
  pump.Run(&delegate);
  std::vector<int> expected = {1, 2, 3, -1, 4};
  EXPECT_EQ(expected, trace);
}

TEST(MessagePumpDefaultTest, ScheduleWorkFromAnotherThreadWakesIdlePump) {
  MessagePumpDefault pump;
  ScriptedDelegate delegate;
  WaitableEvent idle;
  int idle_calls = 0;
  delegate.on_idle = [&] {
    ++idle_calls;
    idle.Signal();
    return false;
  };
  delegate.on_work = [&] {
    if (idle_calls > 0)
      pump.Quit();
    return false;
  };
  TestThread waker([&idle, &pump] {
    idle.Wait();
    // Many calls cost one wake-up of the automatic-reset event.
    for (int i = 0; i < 100; ++i)
      pump.ScheduleWork();
  });
  pump.Run(&delegate);
  waker.Join();
  EXPECT_EQ(1, idle_calls);
}

TEST(MessagePumpDefaultTest, WaitsUntilDelayedWorkIsDue) {
  MessagePumpDefault pump;
  ScriptedDelegate delegate;
  TimeTicks due;
  int idle_calls = 0;
  delegate.on_work = [&] {
    if (due.is_null()) {
      due = TimeTicks::Now() + TimeDelta::FromMilliseconds(15);
      pump.ScheduleDelayedWork(due);
    }
    return false;
  };
  delegate.on_delayed_work = [&](TimeTicks* next) {
    if (TimeTicks::Now() < due) {
      *next = due;
      return false;
    }
    *next = TimeTicks();
    pump.Quit();
    return true;
  };
  delegate.on_idle = [&] {
    ++idle_calls;
    return false;
  };
  pump.Run(&delegate);
  EXPECT_GE(TimeTicks::Now(), due);
  // The pump slept until the task was due instead of spinning; allow a few
  // early returns of the system timer.
  EXPECT_LE(idle_calls, 5);
}

}  // namespace
}  // namespace base
