#ifndef BASE_MESSAGE_LOOP_MESSAGE_PUMP_WIN_H_
#define BASE_MESSAGE_LOOP_MESSAGE_PUMP_WIN_H_

#include <windows.h>

#include <stdint.h>

#include <atomic>
#include <list>

#include "base/macros.h"
#include "base/message_loop/message_pump.h"
#include "base/message_loop/message_pump_dispatcher.h"
#include "base/time/time.h"
#include "base/win/message_window.h"
#include "base/win/scoped_handle.h"

namespace base {

// The state shared by the two Windows pumps.
class MessagePumpWin : public MessagePump {
 public:
  MessagePumpWin();
  ~MessagePumpWin() override;

  void Run(Delegate* delegate) override;
  void Quit() override;

  // Failed wake-ups over the pump's life, and when the last one happened.
  int32_t schedule_work_error_count() const {
    return schedule_work_error_count_.load();
  }
  Time last_schedule_work_error_time() const {
    return Time::FromInternalValue(last_schedule_work_error_time_.load());
  }

 protected:
  // One per Run, on that call's stack.
  struct RunState {
    Delegate* delegate;
    // Sees every Windows message of this run; may be null.
    MessagePumpDispatcher* dispatcher;
    bool should_quit;
    // 1 for an outermost run.
    int32_t run_depth;
  };

  // Makes a run state current for the duration of DoRunLoop.
  void RunWithState(Delegate* delegate, MessagePumpDispatcher* dispatcher);
  virtual void DoRunLoop() = 0;

  // Milliseconds until the delayed work is due, rounded up: -1 when none is
  // due, 0 when overdue.
  int GetCurrentDelay() const;

  // Counts a failed wake-up. Called from any thread, so it writes only the
  // pump's own atomics, never a run state (which lives on the pump thread's
  // stack and may be gone by then).
  void NoteScheduleWorkError();

  TimeTicks delayed_work_time_;
  // 1 while a wake-up is on its way; changed only by atomic exchange.
  std::atomic<int32_t> have_work_{0};
  RunState* state_ = nullptr;

 private:
  std::atomic<int32_t> schedule_work_error_count_{0};
  // Time::ToInternalValue of the last failed wake-up; 0 when none failed.
  std::atomic<int64_t> last_schedule_work_error_time_{0};

  DISALLOW_COPY_AND_ASSIGN(MessagePumpWin);
};

// Runs tasks and the thread's Windows messages. Wakes through a private
// message posted to a message-only window and times delayed work with a
// window timer.
class MessagePumpForUI : public MessagePumpWin {
 public:
  // Posted to the pump's window to wake it.
  static constexpr UINT kMsgHaveWork = WM_USER + 1;

  MessagePumpForUI();
  // A pump whose message-only window could not be made.
  struct NoWindowForTesting {};
  explicit MessagePumpForUI(NoWindowForTesting);
  ~MessagePumpForUI() override;

  // The timer interval for a delayed task due in |current_delay_ms| (> 0):
  // window timers fire no sooner than USER_TIMER_MINIMUM.
  static UINT GetTimerDelay(int current_delay_ms);

  // Like Run, with |dispatcher| seeing every Windows message of this run.
  void RunWithDispatcher(Delegate* delegate, MessagePumpDispatcher* dispatcher);

  void ScheduleWork() override;
  void ScheduleDelayedWork(const TimeTicks& delayed_work_time) override;

  HWND message_hwnd_for_testing() const { return message_window_.hwnd(); }

 private:
  void DoRunLoop() override;
  bool MessageCallback(UINT message,
                       WPARAM wparam,
                       LPARAM lparam,
                       LRESULT* result);
  void WaitForWork();
  void HandleWorkMessage();
  void HandleTimerMessage();
  void RescheduleTimer();
  bool ProcessNextWindowsMessage();
  bool ProcessMessageHelper(const MSG& msg);
  bool ProcessPumpReplacementMessage();

  win::MessageWindow message_window_;

  DISALLOW_COPY_AND_ASSIGN(MessagePumpForUI);
};

// Runs tasks and the completions of an I/O completion port.
class MessagePumpForIO : public MessagePumpWin {
 public:
  // Begins with the OVERLAPPED record that overlapped I/O is started with.
  struct IOContext {
    IOContext();
    OVERLAPPED overlapped;
  };

  // Receives the completions of the handles registered with it.
  class IOHandler {
   public:
    virtual ~IOHandler() = default;
    // |error| is the system error of a failed operation, 0 on success.
    virtual void OnIOCompleted(IOContext* context,
                               DWORD bytes_transfered,
                               DWORD error) = 0;
  };

  MessagePumpForIO();
  ~MessagePumpForIO() override;

  void ScheduleWork() override;
  void ScheduleDelayedWork(const TimeTicks& delayed_work_time) override;

  // Associates |file_handle| with the port; its completions go to |handler|.
  bool RegisterIOHandler(HANDLE file_handle, IOHandler* handler);

  // Waits up to |timeout| milliseconds (INFINITE allowed) for one completion
  // and delivers it. With a |filter|, completions of other handlers are kept
  // and delivered, in arrival order, by later calls. Returns whether anything
  // arrived.
  bool WaitForIOCompletion(DWORD timeout, IOHandler* filter);

 private:
  struct IOItem {
    IOHandler* handler;
    IOContext* context;
    DWORD bytes_transfered;
    DWORD error;
  };

  void DoRunLoop() override;
  void WaitForWork();
  bool MatchCompletedIOItem(IOHandler* filter, IOItem* item);
  bool GetIOItem(DWORD timeout, IOItem* item);
  bool ProcessInternalIOItem(const IOItem& item);

  win::ScopedHandle port_;
  std::list<IOItem> completed_io_;

  DISALLOW_COPY_AND_ASSIGN(MessagePumpForIO);
};

}  // namespace base

#endif  // BASE_MESSAGE_LOOP_MESSAGE_PUMP_WIN_H_
