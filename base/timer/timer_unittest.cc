#include "base/timer/timer.h"

#include <memory>
#include <vector>

#include "base/bind.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/test/test_task_runner.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/time/tick_clock.h"
#include "gtest/gtest.h"

namespace base {

namespace {

void Increment(int* count) {
  ++*count;
}

class TimerTest : public testing::Test {
 protected:
  TimerTest() : runner_(new TestTaskRunner) {}

  void RunDueTasks() { runner_->RunDueTasks(); }

  // Holds the posted tasks and is the timers' clock, so that no test waits
  // for real time.
  scoped_refptr<TestTaskRunner> runner_;
};

}  // namespace

TEST_F(TimerTest, OneShotFiresOnceWhenDue) {
  OneShotTimer timer(runner_.get());
  timer.SetTaskRunner(runner_);
  int fired = 0;
  timer.Start(FROM_HERE, TimeDelta::FromMilliseconds(10),
              BindRepeating(&Increment, &fired));
  EXPECT_TRUE(timer.IsRunning());
  EXPECT_EQ(TimeDelta::FromMilliseconds(10), timer.GetCurrentDelay());
  EXPECT_EQ(1u, runner_->posts().size());
  EXPECT_EQ(TimeDelta::FromMilliseconds(10), runner_->posts().back().delay);

  runner_->AdvanceClock(TimeDelta::FromMilliseconds(10));
  RunDueTasks();
  EXPECT_EQ(1, fired);
  EXPECT_FALSE(timer.IsRunning());
  // A one-shot timer lets go of its task once it fired.
  EXPECT_TRUE(timer.user_task().is_null());
}

TEST_F(TimerTest, ZeroDelayPostsImmediateTask) {
  OneShotTimer timer(runner_.get());
  timer.SetTaskRunner(runner_);
  int fired = 0;
  timer.Start(FROM_HERE, TimeDelta(), BindRepeating(&Increment, &fired));
  EXPECT_TRUE(timer.scheduled_run_time_for_testing().is_null());
  EXPECT_TRUE(timer.desired_run_time().is_null());
  EXPECT_EQ(TimeDelta(), runner_->posts().back().delay);
  RunDueTasks();
  EXPECT_EQ(1, fired);
}

TEST_F(TimerTest, ResetToLaterTimeDoesNotRepost) {
  OneShotTimer timer(runner_.get());
  timer.SetTaskRunner(runner_);
  int fired = 0;
  timer.Start(FROM_HERE, TimeDelta::FromMilliseconds(10),
              BindRepeating(&Increment, &fired));
  const TimeTicks first_run_time = timer.scheduled_run_time_for_testing();

  runner_->AdvanceClock(TimeDelta::FromMilliseconds(5));
  timer.Reset();
  EXPECT_EQ(1u, runner_->posts().size());
  EXPECT_EQ(first_run_time, timer.scheduled_run_time_for_testing());
  EXPECT_EQ(first_run_time + TimeDelta::FromMilliseconds(5),
            timer.desired_run_time());

  // The posted task wakes at the old time and waits for the remainder.
  runner_->AdvanceClock(TimeDelta::FromMilliseconds(5));
  RunDueTasks();
  EXPECT_EQ(0, fired);
  EXPECT_EQ(2u, runner_->posts().size());
  EXPECT_EQ(TimeDelta::FromMilliseconds(5), runner_->posts().back().delay);
  EXPECT_TRUE(timer.IsRunning());

  runner_->AdvanceClock(TimeDelta::FromMilliseconds(5));
  RunDueTasks();
  EXPECT_EQ(1, fired);
  EXPECT_FALSE(timer.IsRunning());
}

TEST_F(TimerTest, RestartToEarlierTimeReposts) {
  OneShotTimer timer(runner_.get());
  timer.SetTaskRunner(runner_);
  int fired = 0;
  timer.Start(FROM_HERE, TimeDelta::FromMilliseconds(50),
              BindRepeating(&Increment, &fired));
  timer.Start(FROM_HERE, TimeDelta::FromMilliseconds(10),
              BindRepeating(&Increment, &fired));
  EXPECT_EQ(2u, runner_->posts().size());

  runner_->AdvanceClock(TimeDelta::FromMilliseconds(10));
  RunDueTasks();
  EXPECT_EQ(1, fired);  // The abandoned first task did nothing.
  EXPECT_FALSE(timer.IsRunning());
}

TEST_F(TimerTest, StopBeforeFiringCancels) {
  RepeatingTimer timer(runner_.get());
  timer.SetTaskRunner(runner_);
  int fired = 0;
  timer.Start(FROM_HERE, TimeDelta::FromMilliseconds(1),
              BindRepeating(&Increment, &fired));
  timer.Stop();
  EXPECT_FALSE(timer.IsRunning());
  // A repeating timer keeps its task for a later Reset.
  EXPECT_FALSE(timer.user_task().is_null());
  runner_->AdvanceClock(TimeDelta::FromMilliseconds(1));
  RunDueTasks();
  EXPECT_EQ(0, fired);

  timer.Reset();
  EXPECT_TRUE(timer.IsRunning());
  runner_->AdvanceClock(TimeDelta::FromMilliseconds(1));
  RunDueTasks();
  EXPECT_EQ(1, fired);
}

TEST_F(TimerTest, RepeatingTimerRepeatsUntilStoppedFromItsTask) {
  RepeatingTimer timer(runner_.get());
  timer.SetTaskRunner(runner_);
  int fired = 0;
  timer.Start(FROM_HERE, TimeDelta::FromMilliseconds(1),
              BindRepeating(
                  [](RepeatingTimer* timer, int* fired) {
                    if (++*fired == 3)
                      timer->Stop();
                  },
                  &timer, &fired));
  for (int i = 0; i < 6; ++i) {
    runner_->AdvanceClock(TimeDelta::FromMilliseconds(1));
    RunDueTasks();
  }
  EXPECT_EQ(3, fired);
  EXPECT_FALSE(timer.IsRunning());
}

TEST_F(TimerTest, OneShotTaskMayDeleteItsTimer) {
  OneShotTimer* timer = new OneShotTimer(runner_.get());
  timer->SetTaskRunner(runner_);
  bool fired = false;
  timer->Start(FROM_HERE, TimeDelta(),
               BindRepeating(
                   [](OneShotTimer* timer, bool* fired) {
                     delete timer;
                     *fired = true;
                   },
                   timer, &fired));
  RunDueTasks();
  EXPECT_TRUE(fired);
}

TEST_F(TimerTest, DestroyedTimerNeverFires) {
  int fired = 0;
  {
    OneShotTimer timer(runner_.get());
    timer.SetTaskRunner(runner_);
    timer.Start(FROM_HERE, TimeDelta(), BindRepeating(&Increment, &fired));
  }
  RunDueTasks();
  EXPECT_EQ(0, fired);
}

TEST(TimerLoopTest, LoopDestroyedWithPendingTaskLeavesTimerStopped) {
  OneShotTimer timer;
  int fired = 0;
  {
    MessageLoop loop;
    // Posts to the current thread's runner; due long after the loop is gone.
    timer.Start(FROM_HERE, TimeDelta::FromHours(1),
                BindRepeating(&Increment, &fired));
    EXPECT_TRUE(timer.IsRunning());
  }
  EXPECT_FALSE(timer.IsRunning());
  EXPECT_EQ(0, fired);
}

TEST(TimerLoopTest, FiresOnRealClockAfterShortDelay) {
  MessageLoop loop;
  RunLoop run_loop;
  OneShotTimer timer;
  timer.Start(FROM_HERE, TimeDelta::FromMilliseconds(2),
              run_loop.QuitClosure());
  run_loop.Run();
  EXPECT_FALSE(timer.IsRunning());
}

}  // namespace base
