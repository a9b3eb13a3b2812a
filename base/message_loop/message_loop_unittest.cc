#include "base/message_loop/message_loop.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/memory/weak_ptr.h"
#include "base/message_loop/message_pump_default.h"
#include "base/run_loop.h"
#include "base/synchronization/waitable_event.h"
#include "base/test/flag_on_destroy.h"
#include "base/test/scoped_fake_ticks.h"
#include "base/test/test_thread.h"
#include "base/threading/thread.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/time/time_win.h"
#include "base/test/bounded_wait.h"
#include "gtest/gtest.h"

namespace base {

namespace {

void Append(std::vector<std::string>* log, const std::string& entry) {
  log->push_back(entry);
}

void RunClosure(RepeatingClosure closure) {
  closure.Run();
}

void RunUntilIdle() {
  RunLoop run_loop;
  run_loop.QuitWhenIdle();
  run_loop.Run();
}

}  // namespace

// Delayed tasks ---------------------------------------------------------------

TEST(MessageLoopTest, DelayedTaskOnUILoopRunsOnlyOnceDue) {
  ScopedFakeTicks fake_ticks;
  MessageLoop loop(MessageLoop::TYPE_UI);
  RunLoop run_loop;
  const TimeDelta kDelay = TimeDelta::FromMilliseconds(5);
  const TimeTicks due = ScopedFakeTicks::Now() + kDelay;
  TimeTicks ran_at;
  std::vector<std::string> log;

  loop.task_runner()->PostDelayedTask(
      FROM_HERE,
      BindOnce(
          [](TimeTicks* ran_at, std::vector<std::string>* log,
             RepeatingClosure quit) {
            *ran_at = ScopedFakeTicks::Now();
            log->push_back("delayed");
            quit.Run();
          },
          &ran_at, &log, run_loop.QuitClosure()),
      kDelay);
  loop.task_runner()->PostTask(
      FROM_HERE, BindOnce(
                     [](std::vector<std::string>* log,
                        ScopedFakeTicks* fake_ticks, TimeDelta delay) {
                       log->push_back("immediate");
                       fake_ticks->Advance(delay);
                     },
                     &log, &fake_ticks, kDelay));
  run_loop.Run();

  ASSERT_EQ((std::vector<std::string>{"immediate", "delayed"}), log);
  EXPECT_GE(ran_at, due);
}

TEST(MessageLoopTest, OverdueDelayedTasksReadTheClockOnce) {
  ScopedFakeTicks fake_ticks;
  MessageLoop loop;
  std::vector<int> reads_seen;
  for (int i = 1; i <= 5; ++i) {
    loop.task_runner()->PostDelayedTask(
        FROM_HERE,
        BindOnce(
            [](std::vector<int>* seen, ScopedFakeTicks* fake_ticks) {
              seen->push_back(fake_ticks->reads());
            },
            &reads_seen, &fake_ticks),
        TimeDelta::FromMilliseconds(i));
  }
  fake_ticks.Advance(TimeDelta::FromSeconds(1));
  RunUntilIdle();

  ASSERT_EQ(5u, reads_seen.size());
  // No clock reading between the first overdue task and the last.
  for (int reads : reads_seen)
    EXPECT_EQ(reads_seen.front(), reads);
}

namespace {

// A default pump that remembers every delayed wake-up it was asked for.
class DelayedWorkRecordingPump : public MessagePumpDefault {
 public:
  explicit DelayedWorkRecordingPump(std::vector<TimeTicks>* requests)
      : requests_(requests) {}

  void ScheduleDelayedWork(const TimeTicks& delayed_work_time) override {
    requests_->push_back(delayed_work_time);
    MessagePumpDefault::ScheduleDelayedWork(delayed_work_time);
  }

 private:
  std::vector<TimeTicks>* const requests_;
};

}  // namespace

TEST(MessageLoopTest, OnlyANewEarliestDelayedTaskMovesThePumpsWakeUp) {
  ScopedFakeTicks fake_ticks;
  std::vector<TimeTicks> requests;
  std::unique_ptr<MessageLoop> loop = MessageLoop::CreateUnbound(
      MessageLoop::TYPE_DEFAULT,
      BindOnce(
          [](std::vector<TimeTicks>* requests) -> std::unique_ptr<MessagePump> {
            return std::make_unique<DelayedWorkRecordingPump>(requests);
          },
          &requests));
  loop->BindToCurrentThread();
  // Long delays, so that the high-resolution timer stays out of it.
  const TimeTicks start = TimeTicks::Now();
  scoped_refptr<SingleThreadTaskRunner> runner = loop->task_runner();

  runner->PostDelayedTask(FROM_HERE, BindOnce([] {}),
                          TimeDelta::FromMilliseconds(100));
  RunUntilIdle();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ(start + TimeDelta::FromMilliseconds(100), requests.back());

  // Later than the earliest one: the pump's wake-up stays where it is.
  runner->PostDelayedTask(FROM_HERE, BindOnce([] {}),
                          TimeDelta::FromMilliseconds(200));
  RunUntilIdle();
  EXPECT_EQ(1u, requests.size());

  // Earlier: the pump must wake sooner.
  runner->PostDelayedTask(FROM_HERE, BindOnce([] {}),
                          TimeDelta::FromMilliseconds(50));
  RunUntilIdle();
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ(start + TimeDelta::FromMilliseconds(50), requests.back());
}

TEST(MessageLoopTest, CancelledTaskIsSkipped) {
  MessageLoop loop;
  struct Target {
    void Run(std::vector<std::string>* log) { log->push_back("cancelled ran"); }
    WeakPtrFactory<Target> weak_factory{this};
  };
  std::vector<std::string> log;
  auto target = std::make_unique<Target>();
  loop.task_runner()->PostTask(
      FROM_HERE,
      BindOnce(&Target::Run, target->weak_factory.GetWeakPtr(), &log));
  loop.task_runner()->PostTask(FROM_HERE, BindOnce(&Append, &log, "next"));
  target.reset();
  RunUntilIdle();
  EXPECT_EQ((std::vector<std::string>{"next"}), log);
}

// Nesting -------------------------------------------------------------------

TEST(MessageLoopTest, NestedRunLoopQuitsFromItsOwnThread) {
  MessageLoop loop;
  std::vector<std::string> log;
  RunLoop outer;
  loop.task_runner()->PostTask(
      FROM_HERE, BindOnce(
                     [](std::vector<std::string>* log, RepeatingClosure quit) {
                       RunLoop nested(RunLoop::kNestableTasksAllowed);
                       ThreadTaskRunnerHandle::Get()->PostTask(
                           FROM_HERE,
                           BindOnce(&RunClosure, nested.QuitClosure()));
                       nested.Run();
                       log->push_back("nested returned");
                       quit.Run();
                     },
                     &log, outer.QuitClosure()));
  outer.Run();
  EXPECT_EQ((std::vector<std::string>{"nested returned"}), log);
}

TEST(MessageLoopTest, NestedRunLoopQuitsFromAnotherThreadWhileWaiting) {
  MessageLoop loop;
  Thread quitter("Quitter");
  ASSERT_TRUE(quitter.Start());
  WaitableEvent nested_idle;
  bool nested_returned = false;
  RunLoop outer;

  loop.task_runner()->PostTask(
      FROM_HERE,
      BindOnce(
          [](Thread* quitter, WaitableEvent* nested_idle, bool* returned,
             RepeatingClosure outer_quit) {
            RunLoop nested(RunLoop::kNestableTasksAllowed);
            // The other thread waits until the nested run has run this task
            // and so is about to sleep, then quits it.
            quitter->task_runner()->PostTask(
                FROM_HERE, BindOnce(
                               [](WaitableEvent* idle, RepeatingClosure quit) {
                                 idle->Wait();
                                 quit.Run();
                               },
                               nested_idle, nested.QuitClosure()));
            ThreadTaskRunnerHandle::Get()->PostTask(
                FROM_HERE,
                BindOnce(&WaitableEvent::Signal, Unretained(nested_idle)));
            // A loop that misses the other thread's wake-up fails here.
            *returned = static_cast<bool>(
                RunWithin(&nested, "the quit from the other thread"));
            outer_quit.Run();
          },
          &quitter, &nested_idle, &nested_returned, outer.QuitClosure()));
  ASSERT_TRUE(RunWithin(&outer, "the nested run to return"));
  EXPECT_TRUE(nested_returned);
  // The quitter's loop drained its queue when it ran the quit; a loop that
  // then stays marked as scheduled never wakes for the stop.
  StopWithin(&quitter, "the quitter thread to stop");
}

TEST(MessageLoopTest, NonNestableTaskPostedDuringNestedRunRunsAfterIt) {
  MessageLoop loop;
  std::vector<std::string> log;
  loop.task_runner()->PostTask(
      FROM_HERE,
      BindOnce(
          [](std::vector<std::string>* log) {
            scoped_refptr<SingleThreadTaskRunner> runner =
                ThreadTaskRunnerHandle::Get();
            RunLoop nested(RunLoop::kNestableTasksAllowed);
            runner->PostTask(
                FROM_HERE,
                BindOnce(
                    [](std::vector<std::string>* log,
                       scoped_refptr<SingleThreadTaskRunner> runner) {
                      runner->PostNonNestableTask(
                          FROM_HERE, BindOnce(&Append, log, "non-nestable"));
                      runner->PostTask(FROM_HERE,
                                       BindOnce(&Append, log, "nestable"));
                    },
                    log, runner));
            nested.QuitWhenIdle();
            nested.Run();
            log->push_back("nested returned");
          },
          &log));
  RunUntilIdle();
  EXPECT_EQ(
      (std::vector<std::string>{"nestable", "nested returned", "non-nestable"}),
      log);
}

namespace {

RunLoop* g_run_loop_to_quit = nullptr;

// Ends a nested run through a Windows timer message rather than a task, so
// that a run that refuses application tasks can still be ended.
void CALLBACK QuitFromTimer(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  if (g_run_loop_to_quit)
    g_run_loop_to_quit->Quit();
}

void MarkRanAndQuitNested(bool* ran) {
  *ran = true;
  if (g_run_loop_to_quit)
    g_run_loop_to_quit->Quit();
}

// From inside a task: posts a task, runs a nested run loop of |type| and
// reports whether the posted task ran inside it. A task that runs inside
// ends the nested run; otherwise a Windows timer does (at once when no task
// is expected to run, after a second as a fallback when one is).
void RunNestedAndCheck(RunLoop::Type type,
                       bool allow_nestable_tasks,
                       bool* ran_inside,
                       bool* ran_at_all) {
  ThreadTaskRunnerHandle::Get()->PostTask(
      FROM_HERE, BindOnce(&MarkRanAndQuitNested, ran_at_all));
  RunLoop nested(type);
  g_run_loop_to_quit = &nested;
  const bool expect_tasks =
      allow_nestable_tasks || type == RunLoop::kNestableTasksAllowed;
  UINT_PTR timer =
      SetTimer(nullptr, 0, expect_tasks ? 1000 : 1, &QuitFromTimer);
  ASSERT_NE(0u, timer);
  if (allow_nestable_tasks) {
    MessageLoop::ScopedNestableTaskAllower allow(MessageLoop::current());
    nested.Run();
  } else {
    nested.Run();
  }
  KillTimer(nullptr, timer);
  g_run_loop_to_quit = nullptr;
  *ran_inside = *ran_at_all;
}

}  // namespace

TEST(MessageLoopTest, NestedRunLoopRunsApplicationTasksOnlyWhenAllowed) {
  const struct {
    RunLoop::Type type;
    bool allower;
    bool runs_inside;
  } kCases[] = {
      {RunLoop::kDefault, false, false},
      {RunLoop::kNestableTasksAllowed, false, true},
      {RunLoop::kDefault, true, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.type << " allower " << c.allower);
    MessageLoop loop(MessageLoop::TYPE_UI);
    bool ran_inside = !c.runs_inside;
    bool ran_at_all = false;
    loop.task_runner()->PostTask(
        FROM_HERE, BindOnce(&RunNestedAndCheck, c.type, c.allower, &ran_inside,
                            &ran_at_all));
    RunUntilIdle();
    EXPECT_EQ(c.runs_inside, ran_inside);
    EXPECT_TRUE(ran_at_all);  // At the latest once the outer run resumed.
    EXPECT_TRUE(loop.NestableTasksAllowed());
  }
}

// Binding and runners -----------------------------------------------------

TEST(MessageLoopTest, RunsTasksInCurrentSequenceOnlyOnBoundThread) {
  std::unique_ptr<MessageLoop> loop = MessageLoop::CreateUnbound(
      MessageLoop::TYPE_DEFAULT, MessageLoop::MessagePumpFactoryCallback());
  scoped_refptr<SingleThreadTaskRunner> runner = loop->task_runner();
  EXPECT_FALSE(runner->RunsTasksInCurrentSequence());
  EXPECT_EQ(nullptr, MessageLoop::current());

  bool ran = false;
  ASSERT_TRUE(runner->PostTask(FROM_HERE,
                               BindOnce([](bool* ran) { *ran = true; }, &ran)));
  loop->BindToCurrentThread();
  EXPECT_EQ(loop.get(), MessageLoop::current());
  EXPECT_TRUE(runner->RunsTasksInCurrentSequence());
  EXPECT_EQ(runner.get(), ThreadTaskRunnerHandle::Get().get());

  bool on_other_thread = true;
  RunOnThreadAndJoin(
      [&] { on_other_thread = runner->RunsTasksInCurrentSequence(); });
  EXPECT_FALSE(on_other_thread);

  // Posted before binding, run once the loop runs.
  RunUntilIdle();
  EXPECT_TRUE(ran);

  loop.reset();
  EXPECT_EQ(nullptr, MessageLoop::current());
  EXPECT_FALSE(ThreadTaskRunnerHandle::IsSet());
  // The runner outlives its loop but refuses tasks.
  EXPECT_FALSE(runner->PostTask(FROM_HERE, BindOnce([] {})));
}

// Destruction -------------------------------------------------------------

namespace {

// Posts a copy of itself from its destructor while |keep_posting| is set.
class Reposter {
 public:
  Reposter(int* accepted_posts, const bool* keep_posting)
      : accepted_posts_(accepted_posts), keep_posting_(keep_posting) {}
  ~Reposter() {
    if (!*keep_posting_)
      return;
    if (ThreadTaskRunnerHandle::Get()->PostTask(
            FROM_HERE,
            BindOnce(&Reposter::Run,
                     Owned(new Reposter(accepted_posts_, keep_posting_))))) {
      ++*accepted_posts_;
    }
  }
  void Run() {}

 private:
  int* const accepted_posts_;
  const bool* const keep_posting_;
};

class RecordingObserver : public MessageLoop::DestructionObserver {
 public:
  explicit RecordingObserver(std::vector<std::string>* log) : log_(log) {}
  void WillDestroyCurrentMessageLoop() override {
    log_->push_back("observer");
    ++calls;
  }
  int calls = 0;

 private:
  std::vector<std::string>* log_;
};

}  // namespace

TEST(MessageLoopTest, DestructionGivesUpOnSelfRepostingTasks) {
  int accepted_posts = 0;
  bool keep_posting = true;
  // Stops the chain once the task-deleting passes are over.
  struct StopObserver : MessageLoop::DestructionObserver {
    bool* keep_posting;
    void WillDestroyCurrentMessageLoop() override { *keep_posting = false; }
  } stop;
  stop.keep_posting = &keep_posting;
  {
    MessageLoop loop;
    loop.task_runner()->PostTask(
        FROM_HERE,
        BindOnce(&Reposter::Run,
                 Owned(new Reposter(&accepted_posts, &keep_posting))));
    loop.AddDestructionObserver(&stop);
  }
  // The first pass finds the task still in the incoming queue and only
  // reloads it; each of the other 99 destroys one task, which posts the next.
  EXPECT_EQ(99, accepted_posts);
}

TEST(MessageLoopTest, DestructionObserversRunAndCanStillPost) {
  std::vector<std::string> log;
  RecordingObserver kept(&log);
  RecordingObserver removed(&log);
  RecordingObserver never_added(&log);
  bool posted = false;
  bool ran = false;
  bool destroyed = false;
  struct Poster : MessageLoop::DestructionObserver {
    bool* posted;
    bool* ran;
    bool* destroyed;
    void WillDestroyCurrentMessageLoop() override {
      *posted = ThreadTaskRunnerHandle::Get()->PostTask(
          FROM_HERE, BindOnce(&FlagOnDestroy::Run,
                              Owned(new FlagOnDestroy(destroyed)), ran));
    }
  } poster;
  poster.posted = &posted;
  poster.ran = &ran;
  poster.destroyed = &destroyed;
  {
    MessageLoop loop;
    loop.AddDestructionObserver(&removed);
    loop.AddDestructionObserver(&kept);
    loop.RemoveDestructionObserver(&never_added);
    loop.RemoveDestructionObserver(&removed);
    loop.AddDestructionObserver(&poster);
  }
  EXPECT_EQ(1, kept.calls);
  EXPECT_EQ(0, removed.calls);
  EXPECT_EQ(0, never_added.calls);
  EXPECT_TRUE(posted);
  EXPECT_FALSE(ran);
  EXPECT_TRUE(destroyed);
}

namespace {

UINT WINAPI CountingTimePeriod(UINT) {
  return 0;  // TIMERR_NOERROR
}

}  // namespace

TEST(MessageLoopTest, HighResolutionTimerModeIsBalanced) {
  using internal::ScopedTimeWinOverrideForTesting;
  internal::TimeSystemCalls calls = internal::RealTimeSystemCalls();
  calls.time_begin_period = &CountingTimePeriod;
  calls.time_end_period = &CountingTimePeriod;
  ScopedFakeTicks fake_ticks;
  ScopedTimeWinOverrideForTesting time_override(calls, &ScopedFakeTicks::Now);
  {
    MessageLoop loop;
    bool ran = false;
    // Under 32 ms: needs the high-resolution timer while it waits.
    loop.task_runner()->PostDelayedTask(
        FROM_HERE, BindOnce([](bool* ran) { *ran = true; }, &ran),
        TimeDelta::FromMilliseconds(2));
    RunUntilIdle();
    EXPECT_FALSE(ran);
    EXPECT_EQ(1u, ScopedTimeWinOverrideForTesting::timer_period_activations());

    fake_ticks.Advance(TimeDelta::FromMilliseconds(2));
    RunUntilIdle();
    EXPECT_TRUE(ran);
    EXPECT_EQ(0u, ScopedTimeWinOverrideForTesting::timer_period_activations());

    // Left on at destruction: the loop turns it off.
    loop.task_runner()->PostDelayedTask(FROM_HERE, BindOnce([] {}),
                                        TimeDelta::FromMilliseconds(2));
    RunUntilIdle();
    EXPECT_EQ(1u, ScopedTimeWinOverrideForTesting::timer_period_activations());
  }
  EXPECT_EQ(0u, ScopedTimeWinOverrideForTesting::timer_period_activations());
}

}  // namespace base
