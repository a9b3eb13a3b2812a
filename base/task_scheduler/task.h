#ifndef BASE_TASK_SCHEDULER_TASK_H_
#define BASE_TASK_SCHEDULER_TASK_H_

#include "base/callback.h"
#include "base/location.h"
#include "base/macros.h"
#include "base/memory/scoped_refptr.h"
#include "base/pending_task.h"
#include "base/sequenced_task_runner.h"
#include "base/single_thread_task_runner.h"
#include "base/task_scheduler/task_traits.h"
#include "base/time/time.h"

namespace base {
namespace internal {

// A task posted to the task scheduler: a non-nestable pending task with the
// traits it runs under. Movable, not copyable.
struct Task : public PendingTask {
  // The delayed run time is now + |delay|, or null for a zero delay. A
  // delayed BLOCK_SHUTDOWN task is demoted to SKIP_ON_SHUTDOWN: it must not
  // hold up shutdown while it has not even started waiting its turn.
  Task(const Location& posted_from,
       OnceClosure task,
       const TaskTraits& traits,
       TimeDelta delay);
  Task(Task&& other);
  Task& operator=(Task&& other);
  // Releases the runner references before the closure (members before the
  // base), so a runner outlives nothing the closure could still need.
  ~Task();

  // The effective traits.
  TaskTraits traits;

  // The delay the task was posted with.
  TimeDelta delay;

  // When the task was pushed into its sequence; null before.
  TimeTicks sequenced_time;

  // The runner that posted the task, made current while it runs. At most
  // one of the two is set.
  scoped_refptr<SequencedTaskRunner> sequenced_task_runner_ref;
  scoped_refptr<SingleThreadTaskRunner> single_thread_task_runner_ref;

 private:
  DISALLOW_COPY_AND_ASSIGN(Task);
};

}  // namespace internal
}  // namespace base

#endif  // BASE_TASK_SCHEDULER_TASK_H_
