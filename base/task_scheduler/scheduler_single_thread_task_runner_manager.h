#ifndef BASE_TASK_SCHEDULER_SCHEDULER_SINGLE_THREAD_TASK_RUNNER_MANAGER_H_
#define BASE_TASK_SCHEDULER_SCHEDULER_SINGLE_THREAD_TASK_RUNNER_MANAGER_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "base/macros.h"
#include "base/memory/scoped_refptr.h"
#include "base/single_thread_task_runner.h"
#include "base/synchronization/lock.h"
#include "base/task_scheduler/environment_config.h"
#include "base/task_scheduler/scheduler_worker.h"
#include "base/task_scheduler/single_thread_task_runner_thread_mode.h"
#include "base/task_scheduler/task_traits.h"

namespace base {
namespace internal {

class DelayedTaskManager;
class TaskTracker;

// Makes the scheduler's single-thread task runners: each runs its tasks on
// one worker thread, dedicated to it or shared by the shared runners of its
// environment. COM runners' threads live in a single-threaded apartment and
// dispatch window messages between tasks.
class SchedulerSingleThreadTaskRunnerManager {
 public:
  SchedulerSingleThreadTaskRunnerManager(
      TaskTracker* task_tracker, DelayedTaskManager* delayed_task_manager);
  ~SchedulerSingleThreadTaskRunnerManager();

  // Starts the workers made so far; later ones start when made.
  void Start();

  scoped_refptr<SingleThreadTaskRunner> CreateSingleThreadTaskRunnerWithTraits(
      const TaskTraits& traits, SingleThreadTaskRunnerThreadMode thread_mode);
  scoped_refptr<SingleThreadTaskRunner> CreateCOMSTATaskRunnerWithTraits(
      const TaskTraits& traits, SingleThreadTaskRunnerThreadMode thread_mode);

  // Joins every worker, then lets the shared workers go.
  void Join();

  size_t NumberOfWorkersForTesting() const;

 private:
  class SchedulerSingleThreadTaskRunner;

  enum class WorkerKind { PLAIN, COM };

  scoped_refptr<SingleThreadTaskRunner> CreateTaskRunnerWithTraitsImpl(
      WorkerKind kind,
      const TaskTraits& traits,
      SingleThreadTaskRunnerThreadMode thread_mode);

  SchedulerWorker* CreateAndRegisterSchedulerWorkerLockRequired(
      WorkerKind kind, const std::string& name, ThreadPriority priority_hint);

  // Lets |worker|'s thread end once it is no longer used.
  void UnregisterSchedulerWorker(SchedulerWorker* worker);

  TaskTracker* const task_tracker_;
  DelayedTaskManager* const delayed_task_manager_;

  mutable Lock lock_;
  // Guarded by |lock_|.
  std::vector<scoped_refptr<SchedulerWorker>> workers_;
  // Unregistered workers whose threads may still be on their way out: Join
  // waits for them too, since they still use the task tracker. Those whose
  // threads have left are let go at the next unregistration.
  std::vector<scoped_refptr<SchedulerWorker>> workers_cleaned_up_;
  int32_t next_worker_id_ = 0;
  SchedulerWorker* shared_scheduler_workers_[ENVIRONMENT_COUNT] = {};
  SchedulerWorker* shared_com_scheduler_workers_[ENVIRONMENT_COUNT] = {};
  bool started_ = false;

  DISALLOW_COPY_AND_ASSIGN(SchedulerSingleThreadTaskRunnerManager);
};

}  // namespace internal
}  // namespace base

#endif  // BASE_TASK_SCHEDULER_SCHEDULER_SINGLE_THREAD_TASK_RUNNER_MANAGER_H_
