#ifndef BASE_TIMER_TIMER_H_
#define BASE_TIMER_TIMER_H_

// Timers run a callback once (OneShotTimer) or again and again
// (RepeatingTimer) after a delay, on the sequence that starts them:
//
//   class Saver {
//     void ScheduleSave() {
//       timer_.Start(FROM_HERE, TimeDelta::FromSeconds(10),
//                    BindRepeating(&Saver::Save, Unretained(this)));
//     }
//     OneShotTimer timer_;
//   };
//
// Destroying or stopping the timer cancels the callback. A timer is used on
// one sequence only.

#include "base/callback.h"
#include "base/location.h"
#include "base/macros.h"
#include "base/memory/scoped_refptr.h"
#include "base/sequenced_task_runner.h"
#include "base/time/time.h"

namespace base {

class BaseTimerTaskInternal;
class TickClock;

class Timer {
 public:
  // |tick_clock| (not owned, may be null for TimeTicks::Now) must outlive
  // the timer.
  Timer(bool retain_user_task,
        bool is_repeating,
        const TickClock* tick_clock = nullptr);
  virtual ~Timer();

  virtual bool IsRunning() const;
  virtual TimeDelta GetCurrentDelay() const;

  // Starts, or restarts with the new delay and task.
  virtual void Start(const Location& posted_from,
                     TimeDelta delay,
                     RepeatingClosure user_task);

  // The user task does not run until the timer is started again. May be
  // called from inside the user task.
  virtual void Stop();

  // Restarts the countdown with the current delay and user task. A restart
  // to a later time does not post again: the task already posted notices
  // the later time and waits for the remainder.
  virtual void Reset();

  template <class Receiver>
  void Start(const Location& posted_from,
             TimeDelta delay,
             Receiver* receiver,
             void (Receiver::*method)()) {
    Start(posted_from, delay, BindRepeating(method, Unretained(receiver)));
  }

  // Posts to |task_runner| instead of the starting sequence's runner. Call
  // before Start.
  void SetTaskRunner(scoped_refptr<SequencedTaskRunner> task_runner);

  const RepeatingClosure& user_task() const { return user_task_; }
  TimeTicks desired_run_time() const { return desired_run_time_; }
  TimeTicks scheduled_run_time_for_testing() const {
    return scheduled_run_time_;
  }

 protected:
  TimeTicks Now() const;

  void set_user_task(RepeatingClosure task) { user_task_ = std::move(task); }
  void set_desired_run_time(TimeTicks desired) { desired_run_time_ = desired; }
  void set_is_running(bool running) { is_running_ = running; }

  const Location& posted_from() const { return posted_from_; }
  bool retain_user_task() const { return retain_user_task_; }
  bool is_repeating() const { return is_repeating_; }

 private:
  friend class BaseTimerTaskInternal;

  void PostNewScheduledTask(TimeDelta delay);
  scoped_refptr<SequencedTaskRunner> GetTaskRunner();
  void AbandonScheduledTask();
  // The posted task's body: decides whether the user task is due and runs
  // it. Touches nothing of the timer after the user task ran.
  void RunScheduledTask();

  BaseTimerTaskInternal* scheduled_task_ = nullptr;
  scoped_refptr<SequencedTaskRunner> task_runner_;
  Location posted_from_;
  TimeDelta delay_;
  RepeatingClosure user_task_;
  // When the posted task runs (null for an immediate one).
  TimeTicks scheduled_run_time_;
  // When the user task should run; later than |scheduled_run_time_| after a
  // Reset that moved it back.
  TimeTicks desired_run_time_;
  const bool is_repeating_;
  const bool retain_user_task_;
  const TickClock* const tick_clock_;
  bool is_running_ = false;

  DISALLOW_COPY_AND_ASSIGN(Timer);
};

// Runs its task once; stops itself before running it.
class OneShotTimer : public Timer {
 public:
  explicit OneShotTimer(const TickClock* tick_clock = nullptr)
      : Timer(false, false, tick_clock) {}
};

// Runs its task every |delay| until stopped; keeps the task across Stop, so
// Reset restarts it.
class RepeatingTimer : public Timer {
 public:
  explicit RepeatingTimer(const TickClock* tick_clock = nullptr)
      : Timer(true, true, tick_clock) {}
};

}  // namespace base

#endif  // BASE_TIMER_TIMER_H_
