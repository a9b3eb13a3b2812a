#include "base/message_loop/message_pump_default.h"

#include "base/check.h"

namespace base {

MessagePumpDefault::MessagePumpDefault()
    : event_(WaitableEvent::ResetPolicy::AUTOMATIC,
             WaitableEvent::InitialState::NOT_SIGNALED) {}

MessagePumpDefault::~MessagePumpDefault() = default;

void MessagePumpDefault::Run(Delegate* delegate) {
  // Saved and restored so that a Quit of a nested run leaves the enclosing
  // one running.
  bool saved_keep_running = keep_running_;
  keep_running_ = true;

  for (;;) {
    bool did_work = delegate->DoWork();
    if (!keep_running_)
      break;

    did_work |= delegate->DoDelayedWork(&delayed_work_time_);
    if (!keep_running_)
      break;

    if (did_work)
      continue;

    did_work = delegate->DoIdleWork();
    if (!keep_running_)
      break;

    if (did_work)
      continue;

    if (delayed_work_time_.is_null())
      event_.Wait();
    else
      event_.TimedWaitUntil(delayed_work_time_);
  }

  keep_running_ = saved_keep_running;
}

void MessagePumpDefault::Quit() {
  keep_running_ = false;
}

void MessagePumpDefault::ScheduleWork() {
  event_.Signal();
}

void MessagePumpDefault::ScheduleDelayedWork(
    const TimeTicks& delayed_work_time) {
  // Only called on the pump's own thread, which is then not waiting.
  delayed_work_time_ = delayed_work_time;
}

}  // namespace base
