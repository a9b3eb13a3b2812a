#ifndef BASE_TASK_SCHEDULER_TASK_SCHEDULER_IMPL_H_
#define BASE_TASK_SCHEDULER_TASK_SCHEDULER_IMPL_H_

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "base/macros.h"
#include "base/strings/string_piece.h"
#include "base/task_scheduler/delayed_task_manager.h"
#include "base/task_scheduler/environment_config.h"
#include "base/task_scheduler/scheduler_single_thread_task_runner_manager.h"
#include "base/task_scheduler/scheduler_worker_pool_impl.h"
#include "base/task_scheduler/task_scheduler.h"
#include "base/task_scheduler/task_tracker.h"
#include "base/threading/thread.h"
#include "base/time/tick_clock.h"

namespace base {
namespace internal {

class TaskSchedulerImpl : public TaskScheduler {
 public:
  // |histogram_label| prefixes the pools' histogram labels and names the
  // task tracker's histograms. |tick_clock| times tasks that were delayed
  // before Start().
  explicit TaskSchedulerImpl(StringPiece histogram_label,
                             std::unique_ptr<const TickClock> tick_clock =
                                 std::make_unique<DefaultTickClock>());
  ~TaskSchedulerImpl() override;

  // TaskScheduler:
  void Start(const InitParams& init_params) override;
  void PostDelayedTaskWithTraits(const Location& from_here,
                                 const TaskTraits& traits,
                                 OnceClosure task,
                                 TimeDelta delay) override;
  scoped_refptr<TaskRunner> CreateTaskRunnerWithTraits(
      const TaskTraits& traits) override;
  scoped_refptr<SequencedTaskRunner> CreateSequencedTaskRunnerWithTraits(
      const TaskTraits& traits) override;
  scoped_refptr<SingleThreadTaskRunner> CreateSingleThreadTaskRunnerWithTraits(
      const TaskTraits& traits,
      SingleThreadTaskRunnerThreadMode thread_mode) override;
  scoped_refptr<SingleThreadTaskRunner> CreateCOMSTATaskRunnerWithTraits(
      const TaskTraits& traits,
      SingleThreadTaskRunnerThreadMode thread_mode) override;
  std::vector<const HistogramBase*> GetHistograms() const override;
  void Shutdown() override;
  void Flush() override;
  void FlushAsync(OnceClosure flush_callback) override;
  void Join() override;
  int32_t GetMaxConcurrentTasksWithTraits(
      const TaskTraits& traits) const override;

  // The traits a task posted with |traits| runs under.
  TaskTraits SetUserBlockingPriorityIfNeeded(const TaskTraits& traits) const;

  // The pool that runs tasks with exactly |traits|.
  SchedulerWorkerPoolImpl* GetWorkerPoolForTraits(
      const TaskTraits& traits) const;

  TaskTracker* task_tracker() { return task_tracker_.get(); }

 private:
  Thread service_thread_;
  const std::unique_ptr<TaskTracker> task_tracker_;
  DelayedTaskManager delayed_task_manager_;
  SchedulerSingleThreadTaskRunnerManager single_thread_task_runner_manager_;
  // Written once by Start() before any pool starts; read on every post.
  std::atomic<bool> all_tasks_user_blocking_{false};
  std::unique_ptr<SchedulerWorkerPoolImpl> worker_pools_[ENVIRONMENT_COUNT];

  DISALLOW_COPY_AND_ASSIGN(TaskSchedulerImpl);
};

}  // namespace internal
}  // namespace base

#endif  // BASE_TASK_SCHEDULER_TASK_SCHEDULER_IMPL_H_
