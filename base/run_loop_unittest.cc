#include "base/run_loop.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <new>
#include <string.h>
#include <vector>

#include "base/bind.h"
#include "base/message_loop/message_loop.h"
#include "base/message_loop/message_pump_dispatcher.h"
#include "base/synchronization/waitable_event.h"
#include "base/test/test_thread.h"
#include "base/threading/thread_task_runner_handle.h"
#include "gtest/gtest.h"

namespace base {
namespace {

void Post(std::function<void()> task) {
  ThreadTaskRunnerHandle::Get()->PostTask(
      FROM_HERE,
      BindOnce([](std::function<void()> task) { task(); }, std::move(task)));
}

TEST(RunLoopTest, QuitBeforeRunReturnsAtOnce) {
  MessageLoop loop;
  bool task_ran = false;
  Post([&] { task_ran = true; });
  RunLoop run_loop;
  run_loop.Quit();
  run_loop.Run();
  EXPECT_FALSE(task_ran);  // The delegate was never run.
  EXPECT_FALSE(run_loop.running());

  // The quit sticks: a second Run returns at once too.
  run_loop.Run();
  EXPECT_FALSE(task_ran);
}

TEST(RunLoopTest, QuitWhenIdleRunsReadyTasksFirst) {
  MessageLoop loop;
  std::vector<int> order;
  Post([&] {
    order.push_back(1);
    Post([&] { order.push_back(3); });  // Posted while running: still ready.
  });
  Post([&] { order.push_back(2); });
  RunLoop run_loop;
  run_loop.QuitWhenIdle();
  run_loop.Run();
  EXPECT_EQ((std::vector<int>{1, 2, 3}), order);
}

TEST(RunLoopTest, QuitWhenIdleFromAnotherThread) {
  MessageLoop loop;
  bool ran = false;
  Post([&] { ran = true; });
  RunLoop run_loop;
  TestThread other([&] { run_loop.QuitWhenIdle(); });
  run_loop.Run();
  EXPECT_TRUE(ran);
}

TEST(RunLoopTest, QuitClosureFromAnotherThreadEndsAWaitingRun) {
  MessageLoop loop;
  RunLoop run_loop;
  WaitableEvent running;
  Post([&] { running.Signal(); });
  RepeatingClosure quit = run_loop.QuitClosure();
  TestThread other([&] {
    running.Wait();
    quit.Run();
  });
  run_loop.Run();
  EXPECT_FALSE(run_loop.running());
}

TEST(RunLoopTest, QuitClosureAfterRunLoopDiedDoesNothing) {
  MessageLoop loop;
  RepeatingClosure quit;
  {
    RunLoop dead;
    quit = dead.QuitClosure();
  }
  quit.Run();  // Same thread: runs at once on a dead weak pointer.
  TestThread other([&] { quit.Run(); });  // Posts a task that finds none.
  other.Join();

  // The next run loop is not quit by either.
  bool ran = false;
  Post([&] { ran = true; });
  RunLoop run_loop;
  run_loop.QuitWhenIdle();
  run_loop.Run();
  EXPECT_TRUE(ran);
}

// A Quit or QuitWhenIdle from another thread posts a task; when the run loop
// dies before it runs, the task must not touch it. A new run loop built in
// the same storage shows whether the stale task reached it.
TEST(RunLoopTest, CrossThreadQuitOfDeadRunLoopTouchesNothing) {
  MessageLoop loop;
  alignas(RunLoop) unsigned char storage[sizeof(RunLoop)];

  for (int variant = 0; variant < 2; ++variant) {
    SCOPED_TRACE(variant);
    RunLoop* doomed = new (storage) RunLoop();
    TestThread other([&] {
      if (variant == 0)
        doomed->Quit();
      else
        doomed->QuitWhenIdle();
    });
    other.Join();  // The task is queued behind nothing.
    doomed->~RunLoop();
    memset(storage, 0xcd, sizeof(storage));

    RunLoop* fresh = new (storage) RunLoop();
    bool later_task_ran = false;
    // Only a task due later ends this run: a stale Quit would end it before
    // that, and a stale QuitWhenIdle while it waits for the delayed task.
    ThreadTaskRunnerHandle::Get()->PostDelayedTask(
        FROM_HERE,
        BindOnce(
            [](bool* ran, RunLoop* run_loop) {
              *ran = true;
              run_loop->Quit();
            },
            &later_task_ran, fresh),
        TimeDelta::FromMilliseconds(10));
    fresh->Run();
    EXPECT_TRUE(later_task_ran);
    fresh->~RunLoop();
  }
}

TEST(RunLoopTest, OuterQuitInsideNestedRunTakesEffectWhenNestedEnds) {
  MessageLoop loop;
  RunLoop outer;
  std::vector<std::string> log;
  Post([&] {
    RunLoop nested(RunLoop::kNestableTasksAllowed);
    Post([&] {
      EXPECT_TRUE(RunLoop::IsNestedOnCurrentThread());
      outer.Quit();  // Not the innermost: the nested run goes on.
      log.push_back("outer quit");
      Post([&] {
        log.push_back("nested still running");
        nested.Quit();
      });
    });
    nested.Run();
    log.push_back("nested returned");
    // The outer run ends as soon as this task returns.
    Post([&] { log.push_back("after nested"); });
  });
  outer.Run();
  EXPECT_FALSE(RunLoop::IsNestedOnCurrentThread());
  EXPECT_EQ((std::vector<std::string>{"outer quit", "nested still running",
                                      "nested returned"}),
            log);
}

TEST(RunLoopTest, NestedQuitsFromAnotherThread) {
  MessageLoop loop;
  RunLoop outer;
  bool nested_returned = false;
  Post([&] {
    // Quits from other threads arrive as tasks, which only a nested run
    // that allows application tasks runs.
    RunLoop nested(RunLoop::kNestableTasksAllowed);
    RepeatingClosure nested_quit = nested.QuitClosure();
    RepeatingClosure outer_quit = outer.QuitClosure();
    TestThread other([nested_quit, outer_quit] {
      nested_quit.Run();
      outer_quit.Run();
    });
    nested.Run();
    nested_returned = true;
  });
  outer.Run();
  EXPECT_TRUE(nested_returned);
}

TEST(RunLoopTest, NestedDefaultRunRunsNoApplicationTasks) {
  MessageLoop loop;
  std::vector<std::string> log;
  RunLoop outer;
  Post([&] {
    Post([&] { log.push_back("app task"); });
    {
      RunLoop nested_default;
      nested_default.QuitWhenIdle();
      nested_default.Run();
      log.push_back("default nested done");
    }
    {
      RunLoop nested_allowing(RunLoop::kNestableTasksAllowed);
      nested_allowing.QuitWhenIdle();
      nested_allowing.Run();
      log.push_back("allowing nested done");
    }
    outer.QuitWhenIdle();
  });
  outer.Run();
  EXPECT_EQ((std::vector<std::string>{"default nested done", "app task",
                                      "allowing nested done"}),
            log);
}

class NullDispatcher : public MessagePumpDispatcher {
 public:
  uint32_t Dispatch(const MSG& msg) override {
    return POST_DISPATCH_PERFORM_DEFAULT;
  }
};

TEST(RunLoopTest, CurrentMessageDispatcherIsTheInnermostRunLoops) {
  EXPECT_EQ(nullptr, RunLoop::CurrentMessageDispatcher());  // No delegate.
  MessageLoop loop(MessageLoop::TYPE_UI);
  NullDispatcher dispatcher;
  RunLoop outer(&dispatcher);
  MessagePumpDispatcher* seen_outer = nullptr;
  MessagePumpDispatcher* seen_nested =
      reinterpret_cast<MessagePumpDispatcher*>(1);
  Post([&] {
    seen_outer = RunLoop::CurrentMessageDispatcher();
    RunLoop nested(RunLoop::kNestableTasksAllowed);
    Post([&] {
      seen_nested = RunLoop::CurrentMessageDispatcher();
      nested.Quit();
    });
    nested.Run();
    outer.Quit();
  });
  outer.Run();
  EXPECT_EQ(&dispatcher, seen_outer);
  EXPECT_EQ(nullptr, seen_nested);
  EXPECT_EQ(nullptr, RunLoop::CurrentMessageDispatcher());
}

TEST(RunLoopDeathTest, RunLoopNeedsTheThreadsTaskRunner) {
  EXPECT_DEATH({ RunLoop run_loop; }, "");
}

}  // namespace
}  // namespace base
