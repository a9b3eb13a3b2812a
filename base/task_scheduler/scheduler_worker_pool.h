#ifndef BASE_TASK_SCHEDULER_SCHEDULER_WORKER_POOL_H_
#define BASE_TASK_SCHEDULER_SCHEDULER_WORKER_POOL_H_

#include "base/macros.h"
#include "base/memory/scoped_refptr.h"
#include "base/sequenced_task_runner.h"
#include "base/task_runner.h"
#include "base/task_scheduler/task_tracker.h"
#include "base/task_scheduler/sequence.h"
#include "base/task_scheduler/task.h"
#include "base/task_scheduler/task_traits.h"

namespace base {
namespace internal {

class DelayedTaskManager;

// A set of workers that run the sequences posted to it.
class SchedulerWorkerPool : public CanScheduleSequenceObserver {
 public:
  ~SchedulerWorkerPool() override;

  // Waits until every worker has ended. Workers must not detach meanwhile.
  virtual void Join() = 0;

  // A runner whose every task may run in parallel with any other.
  scoped_refptr<TaskRunner> CreateTaskRunnerWithTraits(
      const TaskTraits& traits);

  // A runner whose tasks run one at a time, in posting order.
  scoped_refptr<SequencedTaskRunner> CreateSequencedTaskRunnerWithTraits(
      const TaskTraits& traits);

  // Posts |task| into |sequence| (through the delayed task manager when it
  // is delayed). False when the task tracker refuses it.
  bool PostTaskWithSequence(Task task, scoped_refptr<Sequence> sequence);

  // Pushes |task| into |sequence| and schedules the sequence when it was
  // empty.
  void PostTaskWithSequenceNow(Task task, scoped_refptr<Sequence> sequence);

  // The pool whose worker runs the current thread, or null.
  static SchedulerWorkerPool* GetCurrentWorkerPool();

  // Whether any pool exists in the process.
  static bool IsAnyPoolAlive();

 protected:
  SchedulerWorkerPool(TaskTracker* task_tracker,
                      DelayedTaskManager* delayed_task_manager);

  // Marks the current thread as one of this pool's workers.
  void BindToCurrentThread();
  void UnbindFromCurrentThread();

  TaskTracker* const task_tracker_;
  DelayedTaskManager* const delayed_task_manager_;

 private:
  DISALLOW_COPY_AND_ASSIGN(SchedulerWorkerPool);
};

}  // namespace internal
}  // namespace base

#endif  // BASE_TASK_SCHEDULER_SCHEDULER_WORKER_POOL_H_
