#include "base/timer/timer.h"

#include <memory>
#include <vector>

#include "base/bind.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/time/tick_clock.h"
#include "gtest/gtest.h"

namespace base {

namespace {

// A clock the test moves by hand.
class ManualTickClock : public TickClock {
 public:
  TimeTicks NowTicks() const override { return now_; }
  void Advance(TimeDelta delta) { now_ += delta; }

 private:
  TimeTicks now_ = TimeTicks::FromInternalValue(1000000);
};

// Holds posted tasks and runs them when the manual clock says they are due,
// so that no test waits for real time. Counts the posts.
class ManualTaskRunner : public SequencedTaskRunner {
 public:
  explicit ManualTaskRunner(const ManualTickClock* clock) : clock_(clock) {}

  bool PostDelayedTask(const Location& from_here,
                       OnceClosure task,
                       TimeDelta delay) override {
    ++posts;
    last_delay = delay;
    pending_.push_back({clock_->NowTicks() + delay, std::move(task)});
    return true;
  }
  bool PostNonNestableDelayedTask(const Location& from_here,
                                  OnceClosure task,
                                  TimeDelta delay) override {
    return PostDelayedTask(from_here, std::move(task), delay);
  }
  bool RunsTasksInCurrentSequence() const override { return true; }

  // Runs due tasks, earliest first (posting order among equals), including
  // those they post, until none is due.
  void RunDueTasks() {
    for (;;) {
      auto due = pending_.end();
      for (auto it = pending_.begin(); it != pending_.end(); ++it) {
        if (it->run_time <= clock_->NowTicks() &&
            (due == pending_.end() || it->run_time < due->run_time)) {
          due = it;
        }
      }
      if (due == pending_.end())
        return;
      OnceClosure task = std::move(due->task);
      pending_.erase(due);
      std::move(task).Run();
    }
  }

  size_t pending_count() const { return pending_.size(); }

  int posts = 0;
  TimeDelta last_delay;

 private:
  struct Pending {
    TimeTicks run_time;
    OnceClosure task;
  };

  ~ManualTaskRunner() override = default;

  const ManualTickClock* const clock_;
  std::vector<Pending> pending_;
};

void Increment(int* count) {
  ++*count;
}

class TimerTest : public testing::Test {
 protected:
  TimerTest() : runner_(new ManualTaskRunner(&clock_)) {}

  void RunDueTasks() { runner_->RunDueTasks(); }

  ManualTickClock clock_;
  scoped_refptr<ManualTaskRunner> runner_;
};

}  // namespace

TEST_F(TimerTest, OneShotFiresOnceWhenDue) {
  OneShotTimer timer(&clock_);
  timer.SetTaskRunner(runner_);
  int fired = 0;
  timer.Start(FROM_HERE, TimeDelta::FromMilliseconds(10),
              BindRepeating(&Increment, &fired));
  EXPECT_TRUE(timer.IsRunning());
  EXPECT_EQ(TimeDelta::FromMilliseconds(10), timer.GetCurrentDelay());
  EXPECT_EQ(1, runner_->posts);
  EXPECT_EQ(TimeDelta::FromMilliseconds(10), runner_->last_delay);

  clock_.Advance(TimeDelta::FromMilliseconds(10));
  RunDueTasks();
  EXPECT_EQ(1, fired);
  EXPECT_FALSE(timer.IsRunning());
  // A one-shot timer lets go of its task once it fired.
  EXPECT_TRUE(timer.user_task().is_null());
}

TEST_F(TimerTest, ZeroDelayPostsImmediateTask) {
  OneShotTimer timer(&clock_);
  timer.SetTaskRunner(runner_);
  int fired = 0;
  timer.Start(FROM_HERE, TimeDelta(), BindRepeating(&Increment, &fired));
  EXPECT_TRUE(timer.scheduled_run_time_for_testing().is_null());
  EXPECT_TRUE(timer.desired_run_time().is_null());
  EXPECT_EQ(TimeDelta(), runner_->last_delay);
  RunDueTasks();
  EXPECT_EQ(1, fired);
}

TEST_F(TimerTest, ResetToLaterTimeDoesNotRepost) {
  OneShotTimer timer(&clock_);
  timer.SetTaskRunner(runner_);
  int fired = 0;
  timer.Start(FROM_HERE, TimeDelta::FromMilliseconds(10),
              BindRepeating(&Increment, &fired));
  const TimeTicks first_run_time = timer.scheduled_run_time_for_testing();

  clock_.Advance(TimeDelta::FromMilliseconds(5));
  timer.Reset();
  EXPECT_EQ(1, runner_->posts);
  EXPECT_EQ(first_run_time, timer.scheduled_run_time_for_testing());
  EXPECT_EQ(first_run_time + TimeDelta::FromMilliseconds(5),
            timer.desired_run_time());

  // The posted task wakes at the old time and waits for the remainder.
  clock_.Advance(TimeDelta::FromMilliseconds(5));
  RunDueTasks();
  EXPECT_EQ(0, fired);
  EXPECT_EQ(2, runner_->posts);
  EXPECT_EQ(TimeDelta::FromMilliseconds(5), runner_->last_delay);
  EXPECT_TRUE(timer.IsRunning());

  clock_.Advance(TimeDelta::FromMilliseconds(5));
  RunDueTasks();
  EXPECT_EQ(1, fired);
  EXPECT_FALSE(timer.IsRunning());
}

TEST_F(TimerTest, RestartToEarlierTimeReposts) {
  OneShotTimer timer(&clock_);
  timer.SetTaskRunner(runner_);
  int fired = 0;
  timer.Start(FROM_HERE, TimeDelta::FromMilliseconds(50),
              BindRepeating(&Increment, &fired));
  timer.Start(FROM_HERE, TimeDelta::FromMilliseconds(10),
              BindRepeating(&Increment, &fired));
  EXPECT_EQ(2, runner_->posts);

  clock_.Advance(TimeDelta::FromMilliseconds(10));
  RunDueTasks();
  EXPECT_EQ(1, fired);  // The abandoned first task did nothing.
  EXPECT_FALSE(timer.IsRunning());
}

TEST_F(TimerTest, StopBeforeFiringCancels) {
  RepeatingTimer timer(&clock_);
  timer.SetTaskRunner(runner_);
  int fired = 0;
  timer.Start(FROM_HERE, TimeDelta::FromMilliseconds(1),
              BindRepeating(&Increment, &fired));
  timer.Stop();
  EXPECT_FALSE(timer.IsRunning());
  // A repeating timer keeps its task for a later Reset.
  EXPECT_FALSE(timer.user_task().is_null());
  clock_.Advance(TimeDelta::FromMilliseconds(1));
  RunDueTasks();
  EXPECT_EQ(0, fired);

  timer.Reset();
  EXPECT_TRUE(timer.IsRunning());
  clock_.Advance(TimeDelta::FromMilliseconds(1));
  RunDueTasks();
  EXPECT_EQ(1, fired);
}

TEST_F(TimerTest, RepeatingTimerRepeatsUntilStoppedFromItsTask) {
  RepeatingTimer timer(&clock_);
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
    clock_.Advance(TimeDelta::FromMilliseconds(1));
    RunDueTasks();
  }
  EXPECT_EQ(3, fired);
  EXPECT_FALSE(timer.IsRunning());
}

TEST_F(TimerTest, OneShotTaskMayDeleteItsTimer) {
  OneShotTimer* timer = new OneShotTimer(&clock_);
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
    OneShotTimer timer(&clock_);
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
