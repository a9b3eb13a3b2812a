#ifndef BASE_TEST_TEST_TASK_RUNNER_H_
#define BASE_TEST_TEST_TASK_RUNNER_H_

#include <stddef.h>

#include <vector>

#include "base/callback.h"
#include "base/location.h"
#include "base/macros.h"
#include "base/single_thread_task_runner.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/platform_thread.h"
#include "base/time/tick_clock.h"
#include "base/time/time.h"

namespace base {

// A task runner for tests that holds what is posted to it, from any thread,
// until the test runs it, on the test's own thread, against a clock that
// moves only when the test moves it. It records every accepted post, so a
// test can look at delays, origins and posting threads. It can also stand in
// where only a runner's identity matters, or refuse every post.
//
// Tasks run in due-time order, posting order among equal due times.
class TestTaskRunner : public SingleThreadTaskRunner, public TickClock {
 public:
  // What the runner keeps of each accepted post.
  struct Post {
    Location from_here;
    TimeDelta delay;
    TimeTicks due;
    PlatformThreadId poster;
  };

  // The bound of WaitForPost: generous for a healthy run under Wine, short
  // enough that a lost post fails the test instead of hanging it.
  static constexpr int kWaitForPostSeconds = 30;

  TestTaskRunner();

  // TaskRunner:
  bool PostDelayedTask(const Location& from_here,
                       OnceClosure task,
                       TimeDelta delay) override;
  bool PostNonNestableDelayedTask(const Location& from_here,
                                  OnceClosure task,
                                  TimeDelta delay) override;
  bool RunsTasksInCurrentSequence() const override;

  // TickClock: starts at an arbitrary non-zero time.
  TimeTicks NowTicks() const override;

  // Posts fail (return false and destroy the task) while |refuse| is true.
  void set_refuse_tasks(bool refuse);
  // What RunsTasksInCurrentSequence answers; true by default.
  void set_runs_tasks_in_current_sequence(bool runs);

  // Every accepted post so far, oldest first, run or not.
  std::vector<Post> posts() const;
  // Tasks posted and neither run nor dropped yet.
  size_t pending_count() const;

  // Waits for the next post (one not yet waited for). Fails the test with
  // "TestTaskRunner: no task was posted" and returns false when none comes
  // within kWaitForPostSeconds.
  bool WaitForPost();

  // Moves the clock without running anything.
  void AdvanceClock(TimeDelta delta);
  // Runs the tasks due by now, and those they post that are due, until none
  // is due.
  void RunDueTasks();
  // Moves the clock forward, running every task that falls due on the way at
  // its own due time.
  void FastForwardBy(TimeDelta delta);
  void RunUntilIdle() { FastForwardBy(TimeDelta()); }
  // Runs the tasks pending now, whatever their due time, in posting order
  // (not those they post); returns how many ran.
  size_t RunPending();
  // Destroys the pending tasks without running them.
  void ClearPendingTasks();

 private:
  struct Pending {
    TimeTicks due;
    uint64_t sequence;
    OnceClosure task;
  };

  ~TestTaskRunner() override;

  // Takes the earliest pending task due at or before |limit|, if any; sets
  // |due| to its due time.
  bool TakeNextDue(TimeTicks limit, OnceClosure* task, TimeTicks* due);

  mutable Lock lock_;
  std::vector<Pending> pending_;
  std::vector<Post> posts_;
  TimeTicks now_;
  uint64_t next_sequence_ = 0;
  bool refuse_tasks_ = false;
  bool runs_tasks_in_current_sequence_ = true;
  WaitableEvent posted_{WaitableEvent::ResetPolicy::AUTOMATIC,
                        WaitableEvent::InitialState::NOT_SIGNALED};

  DISALLOW_COPY_AND_ASSIGN(TestTaskRunner);
};

}  // namespace base

#endif  // BASE_TEST_TEST_TASK_RUNNER_H_
