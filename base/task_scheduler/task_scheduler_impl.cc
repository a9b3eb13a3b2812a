#include "base/task_scheduler/task_scheduler_impl.h"

#include <limits>
#include <utility>

#include "base/check.h"
#include "base/message_loop/message_loop.h"
#include "base/metrics/field_trial_params.h"
#include "base/task_scheduler/sequence.h"
#include "base/task_scheduler/task.h"

namespace base {
namespace internal {

namespace {

constexpr char kFieldTrialName[] = "BrowserScheduler";
constexpr char kAllTasksUserBlockingParam[] = "AllTasksUserBlocking";

}  // namespace

TaskSchedulerImpl::TaskSchedulerImpl(
    StringPiece histogram_label, std::unique_ptr<const TickClock> tick_clock)
    : service_thread_("TaskSchedulerServiceThread"),
      task_tracker_(std::make_unique<TaskTracker>(
          histogram_label, std::numeric_limits<int32_t>::max())),
      delayed_task_manager_(std::move(tick_clock)),
      single_thread_task_runner_manager_(task_tracker_.get(),
                                         &delayed_task_manager_) {
  for (size_t index = 0; index < ENVIRONMENT_COUNT; ++index) {
    const char* const suffix = kEnvironmentParams[index].name_suffix;
    std::string label = histogram_label.as_string();
    label += ".";
    label += suffix;
    worker_pools_[index] = std::make_unique<SchedulerWorkerPoolImpl>(
        label, suffix, kEnvironmentParams[index].priority_hint,
        task_tracker_.get(), &delayed_task_manager_);
  }
}

TaskSchedulerImpl::~TaskSchedulerImpl() {
  // Worker threads and the service thread hold raw pointers into the pools,
  // the tracker and the managers, and so do the tasks waiting for them:
  // nothing may be freed while one of those threads still runs. Joining is
  // idempotent, so a scheduler that was already joined costs nothing here.
  Join();
  for (size_t index = ENVIRONMENT_COUNT; index > 0; --index)
    worker_pools_[index - 1].reset();
}

void TaskSchedulerImpl::Start(const InitParams& init_params) {
  // Only the exact lower-case text switches the override on.
  if (GetFieldTrialParamValue(kFieldTrialName, kAllTasksUserBlockingParam) ==
      "true") {
    all_tasks_user_blocking_.store(true);
  }

  Thread::Options service_thread_options;
  service_thread_options.message_loop_type = MessageLoop::TYPE_DEFAULT;
  service_thread_options.timer_slack = 1;
  CHECK(service_thread_.StartWithOptions(std::move(service_thread_options)));

  scoped_refptr<TaskRunner> service_thread_task_runner =
      service_thread_.task_runner();
  delayed_task_manager_.Start(service_thread_task_runner);
  single_thread_task_runner_manager_.Start();

  const SchedulerWorkerPoolImpl::WorkerEnvironment worker_environment =
      init_params.shared_worker_pool_environment ==
              InitParams::SharedWorkerPoolEnvironment::COM_MTA
          ? SchedulerWorkerPoolImpl::WorkerEnvironment::COM_MTA
          : SchedulerWorkerPoolImpl::WorkerEnvironment::NONE;
  const SchedulerWorkerPoolParams* const pool_params[ENVIRONMENT_COUNT] = {
      &init_params.background_worker_pool_params,
      &init_params.background_blocking_worker_pool_params,
      &init_params.foreground_worker_pool_params,
      &init_params.foreground_blocking_worker_pool_params,
  };
  for (size_t index = 0; index < ENVIRONMENT_COUNT; ++index) {
    worker_pools_[index]->Start(*pool_params[index], service_thread_task_runner,
                                worker_environment);
  }
}

void TaskSchedulerImpl::PostDelayedTaskWithTraits(const Location& from_here,
                                                  const TaskTraits& traits,
                                                  OnceClosure task,
                                                  TimeDelta delay) {
  const TaskTraits effective_traits = SetUserBlockingPriorityIfNeeded(traits);
  // A sequence of its own: the task runs in parallel with any other.
  GetWorkerPoolForTraits(effective_traits)
      ->PostTaskWithSequence(
          Task(from_here, std::move(task), effective_traits, delay),
          MakeRefCounted<Sequence>());
}

scoped_refptr<TaskRunner> TaskSchedulerImpl::CreateTaskRunnerWithTraits(
    const TaskTraits& traits) {
  const TaskTraits effective_traits = SetUserBlockingPriorityIfNeeded(traits);
  return GetWorkerPoolForTraits(effective_traits)
      ->CreateTaskRunnerWithTraits(effective_traits);
}

scoped_refptr<SequencedTaskRunner>
TaskSchedulerImpl::CreateSequencedTaskRunnerWithTraits(
    const TaskTraits& traits) {
  const TaskTraits effective_traits = SetUserBlockingPriorityIfNeeded(traits);
  return GetWorkerPoolForTraits(effective_traits)
      ->CreateSequencedTaskRunnerWithTraits(effective_traits);
}

scoped_refptr<SingleThreadTaskRunner>
TaskSchedulerImpl::CreateSingleThreadTaskRunnerWithTraits(
    const TaskTraits& traits, SingleThreadTaskRunnerThreadMode thread_mode) {
  return single_thread_task_runner_manager_
      .CreateSingleThreadTaskRunnerWithTraits(
          SetUserBlockingPriorityIfNeeded(traits), thread_mode);
}

scoped_refptr<SingleThreadTaskRunner>
TaskSchedulerImpl::CreateCOMSTATaskRunnerWithTraits(
    const TaskTraits& traits, SingleThreadTaskRunnerThreadMode thread_mode) {
  return single_thread_task_runner_manager_.CreateCOMSTATaskRunnerWithTraits(
      SetUserBlockingPriorityIfNeeded(traits), thread_mode);
}

std::vector<const HistogramBase*> TaskSchedulerImpl::GetHistograms() const {
  std::vector<const HistogramBase*> histograms;
  for (const auto& worker_pool : worker_pools_)
    worker_pool->GetHistograms(&histograms);
  return histograms;
}

void TaskSchedulerImpl::Shutdown() {
  task_tracker_->Shutdown();
}

void TaskSchedulerImpl::Flush() {
  task_tracker_->Flush();
}

void TaskSchedulerImpl::FlushAsync(OnceClosure flush_callback) {
  task_tracker_->FlushAsync(std::move(flush_callback));
}

void TaskSchedulerImpl::Join() {
  service_thread_.Stop();
  single_thread_task_runner_manager_.Join();
  for (const auto& worker_pool : worker_pools_)
    worker_pool->DisallowWorkerCleanup();
  for (const auto& worker_pool : worker_pools_)
    worker_pool->Join();
}

int32_t TaskSchedulerImpl::GetMaxConcurrentTasksWithTraits(
    const TaskTraits& traits) const {
  // The user-blocking override does not apply: the question is about the
  // pool these traits name.
  return GetWorkerPoolForTraits(traits)->GetMaxConcurrentTasks();
}

TaskTraits TaskSchedulerImpl::SetUserBlockingPriorityIfNeeded(
    const TaskTraits& traits) const {
  if (!all_tasks_user_blocking_.load())
    return traits;
  return traits.WithPriority(TaskPriority::USER_BLOCKING);
}

SchedulerWorkerPoolImpl* TaskSchedulerImpl::GetWorkerPoolForTraits(
    const TaskTraits& traits) const {
  return worker_pools_[GetEnvironmentIndexForTraits(traits)].get();
}

}  // namespace internal
}  // namespace base
