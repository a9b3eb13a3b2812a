#include "base/timer/timer.h"

#include <utility>

#include "base/bind.h"
#include "base/check.h"
#include "base/threading/sequenced_task_runner_handle.h"
#include "base/time/tick_clock.h"

namespace base {

// The task a timer posts. It belongs to the posted closure; the timer only
// points to it while it is the one to wait for. Abandoning clears both
// pointers, so a task that outlives its timer, or was superseded, does
// nothing.
class BaseTimerTaskInternal {
 public:
  explicit BaseTimerTaskInternal(Timer* timer) : timer_(timer) {}

  // Never ran: its queue is being destroyed. The timer can no longer fire,
  // so it is stopped.
  ~BaseTimerTaskInternal() {
    if (timer_) {
      Timer* timer = timer_;
      timer->AbandonScheduledTask();
      timer->Stop();
    }
  }

  void Run() {
    if (!timer_)
      return;
    Timer* timer = timer_;
    timer->scheduled_task_ = nullptr;
    timer_ = nullptr;
    timer->RunScheduledTask();
    // |timer| may be gone now.
  }

  void Abandon() { timer_ = nullptr; }

 private:
  Timer* timer_;

  DISALLOW_COPY_AND_ASSIGN(BaseTimerTaskInternal);
};

Timer::Timer(bool retain_user_task,
             bool is_repeating,
             const TickClock* tick_clock)
    : is_repeating_(is_repeating),
      retain_user_task_(retain_user_task),
      tick_clock_(tick_clock) {}

Timer::~Timer() {
  AbandonScheduledTask();
  Timer::Stop();
}

bool Timer::IsRunning() const {
  return is_running_;
}

TimeDelta Timer::GetCurrentDelay() const {
  return delay_;
}

void Timer::SetTaskRunner(scoped_refptr<SequencedTaskRunner> task_runner) {
  task_runner_ = std::move(task_runner);
}

void Timer::Start(const Location& posted_from,
                  TimeDelta delay,
                  RepeatingClosure user_task) {
  posted_from_ = posted_from;
  delay_ = delay;
  user_task_ = std::move(user_task);
  Reset();
}

void Timer::Stop() {
  is_running_ = false;
  if (!retain_user_task_)
    user_task_ = RepeatingClosure();
}

void Timer::Reset() {
  CHECK(!user_task_.is_null());
  if (!scheduled_task_) {
    PostNewScheduledTask(delay_);
    return;
  }

  if (delay_ > TimeDelta())
    desired_run_time_ = Now() + delay_;
  else
    desired_run_time_ = TimeTicks();

  // A later (or equal) time is left to the posted task, which reposts
  // itself for the remainder when it wakes early.
  if (desired_run_time_ >= scheduled_run_time_) {
    is_running_ = true;
    return;
  }

  AbandonScheduledTask();
  PostNewScheduledTask(delay_);
}

TimeTicks Timer::Now() const {
  return tick_clock_ ? tick_clock_->NowTicks() : TimeTicks::Now();
}

void Timer::PostNewScheduledTask(TimeDelta delay) {
  DCHECK(!scheduled_task_);
  is_running_ = true;
  BaseTimerTaskInternal* task = new BaseTimerTaskInternal(this);
  scheduled_task_ = task;
  scoped_refptr<SequencedTaskRunner> runner = GetTaskRunner();
  OnceClosure closure = BindOnce(&BaseTimerTaskInternal::Run, Owned(task));
  if (delay > TimeDelta()) {
    runner->PostDelayedTask(posted_from_, std::move(closure), delay);
    scheduled_run_time_ = desired_run_time_ = Now() + delay;
  } else {
    runner->PostTask(posted_from_, std::move(closure));
    scheduled_run_time_ = desired_run_time_ = TimeTicks();
  }
}

scoped_refptr<SequencedTaskRunner> Timer::GetTaskRunner() {
  return task_runner_ ? task_runner_ : SequencedTaskRunnerHandle::Get();
}

void Timer::AbandonScheduledTask() {
  if (scheduled_task_) {
    scheduled_task_->Abandon();
    scheduled_task_ = nullptr;
  }
}

void Timer::RunScheduledTask() {
  if (!is_running_)
    return;

  if (desired_run_time_ > scheduled_run_time_) {
    TimeTicks now = Now();
    if (desired_run_time_ > now) {
      PostNewScheduledTask(desired_run_time_ - now);
      return;
    }
  }

  RepeatingClosure task = user_task_;
  if (is_repeating_)
    PostNewScheduledTask(delay_);
  else
    Stop();

  task.Run();
  // |this| may have been deleted by the task.
}

}  // namespace base
