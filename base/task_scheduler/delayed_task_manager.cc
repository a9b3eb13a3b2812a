#include "base/task_scheduler/delayed_task_manager.h"

#include <algorithm>

#include "base/bind.h"
#include "base/check.h"
#include "base/location.h"

namespace base {
namespace internal {

namespace {

// Runs on the service thread when the task is due. Bound into a once
// closure, so the task is handed on at most once.
void PostTaskNow(DelayedTaskManager::PostTaskNowCallback post_task_now_callback,
                 Task task) {
  std::move(post_task_now_callback).Run(std::move(task));
}

}  // namespace

DelayedTaskManager::DelayedTaskManager(
    std::unique_ptr<const TickClock> tick_clock)
    : tick_clock_(std::move(tick_clock)) {
  DCHECK(tick_clock_);
}

DelayedTaskManager::~DelayedTaskManager() = default;

void DelayedTaskManager::Start(
    scoped_refptr<TaskRunner> service_thread_task_runner) {
  DCHECK(service_thread_task_runner);

  decltype(tasks_added_before_start_) tasks_added_before_start;
  {
    AutoLock auto_lock(lock_);
    DCHECK(!started_.load(std::memory_order_relaxed));
    service_thread_task_runner_ = std::move(service_thread_task_runner);
    tasks_added_before_start = std::move(tasks_added_before_start_);
    tasks_added_before_start_.clear();
    // Release: a thread that sees the flag also sees the runner.
    started_.store(true, std::memory_order_release);
  }

  // The time spent waiting for Start counts against each task's delay.
  const TimeTicks now = tick_clock_->NowTicks();
  for (auto& task_and_callback : tasks_added_before_start) {
    const TimeDelta delay =
        std::max(TimeDelta(), task_and_callback.first.delayed_run_time - now);
    AddDelayedTaskNow(std::move(task_and_callback.first), delay,
                      std::move(task_and_callback.second));
  }
}

void DelayedTaskManager::AddDelayedTask(
    Task task, PostTaskNowCallback post_task_now_callback) {
  CHECK(task.task);
  const TimeDelta delay = task.delay;

  // Once started, the runner never changes: no lock needed.
  if (started_.load(std::memory_order_acquire)) {
    AddDelayedTaskNow(std::move(task), delay,
                      std::move(post_task_now_callback));
    return;
  }

  AutoLock auto_lock(lock_);
  if (started_.load(std::memory_order_relaxed)) {
    AddDelayedTaskNow(std::move(task), delay,
                      std::move(post_task_now_callback));
  } else {
    tasks_added_before_start_.emplace_back(std::move(task),
                                           std::move(post_task_now_callback));
  }
}

void DelayedTaskManager::AddDelayedTaskNow(
    Task task, TimeDelta delay, PostTaskNowCallback post_task_now_callback) {
  DCHECK(task.task);
  DCHECK(service_thread_task_runner_);
  service_thread_task_runner_->PostDelayedTask(
      Location::CreateFromHere("AddDelayedTaskNow",
                               "base/task_scheduler/delayed_task_manager.cc",
                               89),
      BindOnce(&PostTaskNow, std::move(post_task_now_callback),
               std::move(task)),
      delay);
}

}  // namespace internal
}  // namespace base
