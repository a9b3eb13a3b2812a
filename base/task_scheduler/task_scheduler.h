#ifndef BASE_TASK_SCHEDULER_TASK_SCHEDULER_H_
#define BASE_TASK_SCHEDULER_TASK_SCHEDULER_H_

#include <stdint.h>

#include <memory>
#include <vector>

#include "base/callback.h"
#include "base/location.h"
#include "base/memory/scoped_refptr.h"
#include "base/sequenced_task_runner.h"
#include "base/single_thread_task_runner.h"
#include "base/strings/string_piece.h"
#include "base/task_runner.h"
#include "base/task_scheduler/scheduler_worker_pool_params.h"
#include "base/task_scheduler/single_thread_task_runner_thread_mode.h"
#include "base/task_scheduler/task_traits.h"
#include "base/time/time.h"

namespace base {

class HistogramBase;

// Runs tasks posted with TaskTraits on pools of worker threads, or on
// single-thread workers. There is one per process; the free posting
// functions of base/task_scheduler/post_task.h reach it through
// GetInstance().
class TaskScheduler {
 public:
  struct InitParams {
    enum class SharedWorkerPoolEnvironment : int32_t {
      DEFAULT = 0,
      // Pool workers live in the multi-threaded COM apartment.
      COM_MTA = 1,
    };

    InitParams(
        const SchedulerWorkerPoolParams& background_worker_pool_params,
        const SchedulerWorkerPoolParams& background_blocking_worker_pool_params,
        const SchedulerWorkerPoolParams& foreground_worker_pool_params,
        const SchedulerWorkerPoolParams& foreground_blocking_worker_pool_params,
        SharedWorkerPoolEnvironment shared_worker_pool_environment =
            SharedWorkerPoolEnvironment::DEFAULT);
    InitParams(const InitParams& other);
    ~InitParams();

    SchedulerWorkerPoolParams background_worker_pool_params;
    SchedulerWorkerPoolParams background_blocking_worker_pool_params;
    SchedulerWorkerPoolParams foreground_worker_pool_params;
    SchedulerWorkerPoolParams foreground_blocking_worker_pool_params;
    SharedWorkerPoolEnvironment shared_worker_pool_environment;
  };

  // Destroying a started scheduler joins its threads first (see Join).
  virtual ~TaskScheduler() = default;

  // Starts the service thread and the worker pools. Called once.
  virtual void Start(const InitParams& init_params) = 0;

  virtual void PostDelayedTaskWithTraits(const Location& from_here,
                                         const TaskTraits& traits,
                                         OnceClosure task,
                                         TimeDelta delay) = 0;
  virtual scoped_refptr<TaskRunner> CreateTaskRunnerWithTraits(
      const TaskTraits& traits) = 0;
  virtual scoped_refptr<SequencedTaskRunner>
  CreateSequencedTaskRunnerWithTraits(const TaskTraits& traits) = 0;
  virtual scoped_refptr<SingleThreadTaskRunner>
  CreateSingleThreadTaskRunnerWithTraits(
      const TaskTraits& traits,
      SingleThreadTaskRunnerThreadMode thread_mode) = 0;
  // A runner whose thread lives in a single-threaded COM apartment and
  // dispatches window messages between tasks.
  virtual scoped_refptr<SingleThreadTaskRunner>
  CreateCOMSTATaskRunnerWithTraits(
      const TaskTraits& traits,
      SingleThreadTaskRunnerThreadMode thread_mode) = 0;

  // Two histograms per pool, in pool order.
  virtual std::vector<const HistogramBase*> GetHistograms() const = 0;

  // Returns once every BLOCK_SHUTDOWN task has run; later posts are refused
  // by shutdown behaviour.
  virtual void Shutdown() = 0;

  // Blocks until no undelayed task is pending or shutdown has completed.
  virtual void Flush() = 0;
  virtual void FlushAsync(OnceClosure flush_callback) = 0;

  // Stops every thread of the scheduler.
  virtual void Join() = 0;

  // The capacity given to Start for the pool that runs tasks with |traits|.
  virtual int32_t GetMaxConcurrentTasksWithTraits(
      const TaskTraits& traits) const = 0;

  // Makes a scheduler labelled |name| (histogram names carry the label) the
  // process instance, destroying the previous one. It is not started.
  static void Create(StringPiece name);

  // Replaces the process instance (null allowed), destroying the previous
  // one.
  static void SetInstance(std::unique_ptr<TaskScheduler> task_scheduler);

  // The process instance, or null.
  static TaskScheduler* GetInstance();
};

}  // namespace base

#endif  // BASE_TASK_SCHEDULER_TASK_SCHEDULER_H_
