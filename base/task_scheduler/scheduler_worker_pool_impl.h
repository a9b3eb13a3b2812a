#ifndef BASE_TASK_SCHEDULER_SCHEDULER_WORKER_POOL_IMPL_H_
#define BASE_TASK_SCHEDULER_SCHEDULER_WORKER_POOL_IMPL_H_

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <string>
#include <vector>

#include "base/macros.h"
#include "base/memory/scoped_refptr.h"
#include "base/strings/string_piece.h"
#include "base/synchronization/condition_variable.h"
#include "base/synchronization/lock.h"
#include "base/task_runner.h"
#include "base/task_scheduler/priority_queue.h"
#include "base/task_scheduler/scheduler_worker.h"
#include "base/task_scheduler/scheduler_worker_params.h"
#include "base/task_scheduler/scheduler_worker_pool.h"
#include "base/task_scheduler/scheduler_worker_pool_params.h"
#include "base/task_scheduler/scheduler_worker_stack.h"
#include "base/task_scheduler/sequence.h"
#include "base/threading/platform_thread.h"
#include "base/time/time.h"

namespace base {

class HistogramBase;

namespace internal {

class DelayedTaskManager;
class TaskTracker;

// A pool of workers made on demand up to a capacity, which blocking calls
// of running tasks raise. Idle workers wait on a stack and detach after the
// suggested reclaim time, except the one on top of the stack.
class SchedulerWorkerPoolImpl : public SchedulerWorkerPool {
 public:
  enum class WorkerEnvironment : int32_t {
    NONE = 0,
    // Workers live in the multi-threaded COM apartment.
    COM_MTA = 1,
  };

  // No worker is ever made beyond this many.
  static constexpr size_t kMaxNumberOfWorkers = 256;
  // A may-block scope open this long raises the capacity.
  static constexpr TimeDelta kMayBlockThreshold =
      TimeDelta::FromMilliseconds(10);
  // How often the capacity is reconsidered while may-block workers wait.
  static constexpr TimeDelta kBlockedWorkersPollPeriod =
      TimeDelta::FromMilliseconds(50);

  // |histogram_label| names the histograms, |pool_label| the worker threads
  // ("TaskScheduler" + |pool_label| + "Worker").
  SchedulerWorkerPoolImpl(StringPiece histogram_label,
                          StringPiece pool_label,
                          ThreadPriority priority_hint,
                          TaskTracker* task_tracker,
                          DelayedTaskManager* delayed_task_manager);
  ~SchedulerWorkerPoolImpl() override;

  // Makes the first workers; tasks posted before are run from then on.
  void Start(const SchedulerWorkerPoolParams& params,
             scoped_refptr<TaskRunner> service_thread_task_runner,
             WorkerEnvironment worker_environment);

  // CanScheduleSequenceObserver:
  void OnCanScheduleSequence(scoped_refptr<Sequence> sequence) override;

  // SchedulerWorkerPool:
  void Join() override;

  // Appends the detach-duration then the tasks-between-waits histogram.
  void GetHistograms(std::vector<const HistogramBase*>* histograms) const;

  // The capacity given to Start().
  int32_t GetMaxConcurrentTasks() const;

  // Keeps every worker from detaching from now on. Called before Join().
  void DisallowWorkerCleanup();

  const HistogramBase* num_tasks_before_detach_histogram() const {
    return num_tasks_before_detach_histogram_;
  }
  const HistogramBase* num_tasks_between_waits_histogram() const {
    return num_tasks_between_waits_histogram_;
  }
  const HistogramBase* detach_duration_histogram() const {
    return detach_duration_histogram_;
  }

  size_t NumberOfWorkersForTesting() const;
  size_t NumberOfIdleWorkersForTesting() const;
  size_t GetWorkerCapacityForTesting() const;
  // Runs the capacity adjustment now (as the service thread would).
  void AdjustWorkerCapacityForTesting();
  // Blocks until at least |n| workers are idle at once.
  void WaitForWorkersIdleForTesting(size_t n);
  // Blocks until at least |n| workers have detached since construction.
  void WaitForWorkersDetachedForTesting(size_t n);

 private:
  class SchedulerWorkerDelegateImpl;

  // All *LockRequired() functions run under |lock_|.
  void WakeUpOneWorkerLockRequired();
  void MaintainAtLeastOneIdleWorkerLockRequired();
  scoped_refptr<SchedulerWorker>
  CreateRegisterAndStartSchedulerWorkerLockRequired();
  void AddToIdleWorkersStackLockRequired(SchedulerWorker* worker);
  void RemoveFromIdleWorkersStackLockRequired(SchedulerWorker* worker);
  size_t NumberOfExcessWorkersLockRequired() const;
  bool ShouldPeriodicallyAdjustWorkerCapacityLockRequired() const;
  void PostAdjustWorkerCapacityTaskIfNeededLockRequired();
  void PostAdjustWorkerCapacityTaskLockRequired();
  void AdjustWorkerCapacity();
  void AdjustWorkerCapacityTaskFunction();

  static SchedulerWorkerDelegateImpl* DelegateOf(SchedulerWorker* worker);

  const std::string pool_label_;
  const ThreadPriority priority_hint_;

  PriorityQueue shared_priority_queue_;

  // Set by Start(), constant after.
  TimeDelta suggested_reclaim_time_;
  SchedulerBackwardCompatibility backward_compatibility_ =
      SchedulerBackwardCompatibility::DISABLED;

  mutable Lock lock_;
  // Guarded by |lock_| from here to |polling_worker_capacity_|.
  std::vector<scoped_refptr<SchedulerWorker>> workers_;
  // Detached workers whose threads may still be on their way out (they still
  // use this pool): Join waits for them. Those whose threads have left are
  // let go at the next detach.
  std::vector<scoped_refptr<SchedulerWorker>> workers_cleaned_up_;
  size_t worker_capacity_ = 0;
  size_t initial_worker_capacity_ = 0;
  int32_t num_pending_may_block_workers_ = 0;
  WorkerEnvironment worker_environment_ = WorkerEnvironment::NONE;
  SchedulerWorkerStack idle_workers_stack_;
  int32_t num_wake_ups_before_start_ = 0;
  std::vector<TimeTicks> cleanup_timestamps_;
  bool polling_worker_capacity_ = false;
  size_t num_workers_detached_ = 0;
  // Signalled when a worker becomes idle or detaches (tests wait on it).
  ConditionVariable workers_changed_cv_;

  std::atomic<bool> worker_cleanup_disallowed_{false};

  HistogramBase* const detach_duration_histogram_;
  HistogramBase* const num_tasks_before_detach_histogram_;
  HistogramBase* const num_tasks_between_waits_histogram_;

  scoped_refptr<TaskRunner> service_thread_task_runner_;

  DISALLOW_COPY_AND_ASSIGN(SchedulerWorkerPoolImpl);
};

}  // namespace internal
}  // namespace base

#endif  // BASE_TASK_SCHEDULER_SCHEDULER_WORKER_POOL_IMPL_H_
