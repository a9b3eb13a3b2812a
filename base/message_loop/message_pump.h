#ifndef BASE_MESSAGE_LOOP_MESSAGE_PUMP_H_
#define BASE_MESSAGE_LOOP_MESSAGE_PUMP_H_

#include "base/macros.h"
#include "base/time/time.h"

namespace base {

// What a message loop sleeps and wakes in. The pump calls its delegate back
// whenever there may be work, sleeps until the next delayed task is due or
// until ScheduleWork wakes it, and returns from Run when asked to quit.
class MessagePump {
 public:
  // Each call returns whether it did work.
  class Delegate {
   public:
    virtual ~Delegate() = default;

    // Runs one ready task, if any.
    virtual bool DoWork() = 0;
    // Runs one due delayed task, if any, and stores in
    // |next_delayed_work_time| when the next one is due (null for none).
    virtual bool DoDelayedWork(TimeTicks* next_delayed_work_time) = 0;
    // Called when there is nothing else to do.
    virtual bool DoIdleWork() = 0;
  };

  MessagePump();
  virtual ~MessagePump();

  // Runs until Quit. Runs nest: Quit ends only the innermost one.
  virtual void Run(Delegate* delegate) = 0;
  virtual void Quit() = 0;
  // Wakes the pump to call DoWork. Callable from any thread.
  virtual void ScheduleWork() = 0;
  // When DoDelayedWork is next due. Called only on the pump's thread.
  virtual void ScheduleDelayedWork(const TimeTicks& delayed_work_time) = 0;
  // No pump here coalesces timers; kept for the interface's sake.
  virtual void SetTimerSlack(int timer_slack);

 private:
  DISALLOW_COPY_AND_ASSIGN(MessagePump);
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_PUMP_H_
