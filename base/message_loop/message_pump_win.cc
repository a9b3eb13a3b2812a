#include "base/message_loop/message_pump_win.h"

#include <math.h>
#include <string.h>

#include <algorithm>
#include <limits>

#include "base/bind.h"
#include "base/check.h"
#include "base/metrics/histogram.h"
#include "base/metrics/histogram_base.h"
#include "base/trace_event/scoped_trace_event.h"
#include "base/trace_event/trace_log.h"

namespace base {

namespace {

// Samples of the pump-problem histograms.
enum MessageLoopProblem {
  MESSAGE_POST_ERROR = 0,
  COMPLETION_POST_ERROR = 1,
  SET_TIMER_ERROR = 2,
  RECEIVED_WM_QUIT_ERROR = 3,
};

void RecordProblem(const char* histogram_name, MessageLoopProblem problem) {
  HistogramBase* histogram = LinearHistogram::FactoryGet(
      histogram_name, 1, 4, 5, HistogramBase::kUmaTargetedHistogramFlag);
  histogram->Add(problem);
}

void RecordUIProblem(MessageLoopProblem problem) {
  RecordProblem("MessagePumpForUI.MessageLoopProblem", problem);
}

void RecordIOProblem(MessageLoopProblem problem) {
  RecordProblem("MessagePumpForIO.MessageLoopProblem", problem);
}

bool SentMessagesPending() {
  return (HIWORD(::GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0;
}

}  // namespace

// MessagePumpWin -------------------------------------------------------------

MessagePumpWin::MessagePumpWin() = default;

MessagePumpWin::~MessagePumpWin() = default;

void MessagePumpWin::Run(Delegate* delegate) {
  RunWithState(delegate, nullptr);
}

void MessagePumpWin::Quit() {
  DCHECK(state_);
  state_->should_quit = true;
}

void MessagePumpWin::RunWithState(Delegate* delegate,
                                  MessagePumpDispatcher* dispatcher) {
  RunState state;
  state.delegate = delegate;
  state.dispatcher = dispatcher;
  state.should_quit = false;
  state.run_depth = state_ ? state_->run_depth + 1 : 1;

  RunState* previous_state = state_;
  state_ = &state;
  DoRunLoop();
  state_ = previous_state;
}

int MessagePumpWin::GetCurrentDelay() const {
  if (delayed_work_time_.is_null())
    return -1;
  // Rounded up: waking a little early would only find the task not yet due
  // and cost another wait.
  double timeout =
      ceil((delayed_work_time_ - TimeTicks::Now()).InMillisecondsF());
  if (timeout < 0)
    return 0;
  if (timeout > std::numeric_limits<int>::max())
    return std::numeric_limits<int>::max();
  return static_cast<int>(timeout);
}

void MessagePumpWin::NoteScheduleWorkError() {
  schedule_work_error_count_.fetch_add(1);
  last_schedule_work_error_time_.store(Time::Now().ToInternalValue());
}

// MessagePumpForUI -----------------------------------------------------------

constexpr UINT MessagePumpForUI::kMsgHaveWork;

MessagePumpForUI::MessagePumpForUI() {
  message_window_.Create(
      BindRepeating(&MessagePumpForUI::MessageCallback, Unretained(this)));
}

MessagePumpForUI::MessagePumpForUI(NoWindowForTesting) {}

MessagePumpForUI::~MessagePumpForUI() = default;

// static
UINT MessagePumpForUI::GetTimerDelay(int current_delay_ms) {
  return static_cast<UINT>(std::max<int>(current_delay_ms, USER_TIMER_MINIMUM));
}

void MessagePumpForUI::RunWithDispatcher(Delegate* delegate,
                                         MessagePumpDispatcher* dispatcher) {
  RunWithState(delegate, dispatcher);
}

void MessagePumpForUI::ScheduleWork() {
  if (have_work_.exchange(1))
    return;  // A wake-up is already on its way.

  // Without its window, PostMessageW(NULL, ...) would post to the calling
  // thread's queue and report success, and the pump would never wake.
  HWND hwnd = message_window_.hwnd();
  if (hwnd && ::PostMessageW(hwnd, kMsgHaveWork, 0, 0))
    return;

  // The queue is full or there is no window: let the next call try again.
  have_work_.exchange(0);
  RecordUIProblem(MESSAGE_POST_ERROR);
  NoteScheduleWorkError();
}

void MessagePumpForUI::ScheduleDelayedWork(const TimeTicks& delayed_work_time) {
  delayed_work_time_ = delayed_work_time;
  RescheduleTimer();
}

bool MessagePumpForUI::MessageCallback(UINT message,
                                       WPARAM wparam,
                                       LPARAM lparam,
                                       LRESULT* result) {
  switch (message) {
    case kMsgHaveWork:
      HandleWorkMessage();
      break;
    case WM_TIMER:
      HandleTimerMessage();
      break;
  }
  return false;
}

void MessagePumpForUI::DoRunLoop() {
  // Windows messages come first: a flood of tasks must not starve the
  // window, and tasks are still run after every message.
  for (;;) {
    bool more_work_is_plausible = ProcessNextWindowsMessage();
    if (state_->should_quit)
      break;

    more_work_is_plausible |= state_->delegate->DoWork();
    if (state_->should_quit)
      break;

    more_work_is_plausible |=
        state_->delegate->DoDelayedWork(&delayed_work_time_);
    // The timer only matters while nothing runs; once no delayed work is
    // due, a pending WM_TIMER would be a wasted wake-up.
    if (more_work_is_plausible && delayed_work_time_.is_null())
      ::KillTimer(message_window_.hwnd(), reinterpret_cast<UINT_PTR>(this));
    if (state_->should_quit)
      break;

    if (more_work_is_plausible)
      continue;

    more_work_is_plausible = state_->delegate->DoIdleWork();
    if (state_->should_quit)
      break;

    if (more_work_is_plausible)
      continue;

    WaitForWork();
  }
}

void MessagePumpForUI::WaitForWork() {
  // The first wait also ends on input that arrived earlier but was not yet
  // looked at; later ones only on new input, or a queue holding a message
  // nobody takes (e.g. another window's filtered one) would spin.
  DWORD wait_flags = MWMO_INPUTAVAILABLE;
  for (int delay = GetCurrentDelay(); delay != 0; delay = GetCurrentDelay()) {
    DWORD result = ::MsgWaitForMultipleObjectsEx(
        0, nullptr, delay == -1 ? INFINITE : static_cast<DWORD>(delay),
        QS_ALLINPUT, wait_flags);
    if (result == WAIT_OBJECT_0) {
      MSG msg = {};
      if (SentMessagesPending() ||
          ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        return;
      }
      wait_flags = 0;
    }
  }
}

void MessagePumpForUI::HandleWorkMessage() {
  if (!state_) {
    // A foreign loop outside any Run dispatched the message; tasks run once
    // a Run starts, so just allow the next wake-up.
    have_work_.exchange(0);
    return;
  }

  // Let one other message through before running a task, so that a steady
  // stream of tasks cannot starve the thread's windows.
  ProcessPumpReplacementMessage();

  if (state_->delegate->DoWork())
    ScheduleWork();
  state_->delegate->DoDelayedWork(&delayed_work_time_);
  RescheduleTimer();
}

void MessagePumpForUI::HandleTimerMessage() {
  ::KillTimer(message_window_.hwnd(), reinterpret_cast<UINT_PTR>(this));
  if (!state_)
    return;
  state_->delegate->DoDelayedWork(&delayed_work_time_);
  RescheduleTimer();
}

void MessagePumpForUI::RescheduleTimer() {
  if (delayed_work_time_.is_null())
    return;
  int delay_msec = GetCurrentDelay();
  if (delay_msec == 0) {
    // Already due: a posted message is quicker than a timer.
    ScheduleWork();
    return;
  }
  // A timer on a null window would be a thread timer under a new id, whose
  // message never reaches the pump.
  HWND hwnd = message_window_.hwnd();
  UINT_PTR ret = hwnd ? ::SetTimer(hwnd, reinterpret_cast<UINT_PTR>(this),
                                   GetTimerDelay(delay_msec), nullptr)
                      : 0;
  if (!ret)
    RecordUIProblem(SET_TIMER_ERROR);
}

bool MessagePumpForUI::ProcessNextWindowsMessage() {
  // PeekMessageW runs sent messages itself before it looks for posted ones,
  // so pending sent messages count as work even when nothing is returned.
  bool sent_messages_in_queue = SentMessagesPending();
  MSG msg;
  if (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    return ProcessMessageHelper(msg);
  return sent_messages_in_queue;
}

bool MessagePumpForUI::ProcessMessageHelper(const MSG& msg) {
  // How long one Windows message took, when "base" is traced.
  static const unsigned char* const category =
      trace_event::TraceLog::GetCategoryGroupEnabled("base");
  const char* const arg_names[] = {"message"};
  const unsigned char arg_types[] = {TRACE_VALUE_TYPE_UINT};
  const unsigned long long arg_values[] = {msg.message};
  trace_event::TraceEventArgs args;
  args.num_args = 1;
  args.arg_names = arg_names;
  args.arg_types = arg_types;
  args.arg_values = arg_values;
  trace_event::ScopedTraceEvent trace(
      category, "MessagePumpForUI::ProcessMessageHelper", args);

  if (msg.message == WM_QUIT) {
    // Someone other than the loop's owner asked the thread to end; end this
    // run and leave the message for the enclosing ones.
    RecordUIProblem(RECEIVED_WM_QUIT_ERROR);
    state_->should_quit = true;
    ::PostQuitMessage(static_cast<int>(msg.wParam));
    return false;
  }

  if (msg.message == kMsgHaveWork && msg.hwnd == message_window_.hwnd())
    return ProcessPumpReplacementMessage();

  if (state_->dispatcher) {
    uint32_t action = state_->dispatcher->Dispatch(msg);
    if (action & MessagePumpDispatcher::POST_DISPATCH_QUIT_LOOP)
      state_->should_quit = true;
    if (action & MessagePumpDispatcher::POST_DISPATCH_PERFORM_DEFAULT) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  } else {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return true;
}

bool MessagePumpForUI::ProcessPumpReplacementMessage() {
  // The work message just taken stands for a task; run one other message in
  // its place so that posted tasks and window messages take turns.
  MSG msg;
  bool have_message = ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) != FALSE;

  // From here on a post must wake the pump again.
  have_work_.exchange(0);

  if (!have_message)
    return false;

  // The task the work message stood for has not run yet.
  ScheduleWork();
  return ProcessMessageHelper(msg);
}

// MessagePumpForIO -----------------------------------------------------------

MessagePumpForIO::IOContext::IOContext() {
  memset(&overlapped, 0, sizeof(overlapped));
}

MessagePumpForIO::MessagePumpForIO() {
  port_.Set(::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
  CHECK(port_.IsValid());
}

MessagePumpForIO::~MessagePumpForIO() = default;

void MessagePumpForIO::ScheduleWork() {
  if (have_work_.exchange(1))
    return;  // A wake-up is already on its way.

  // The pump's own address as key and overlapped pointer marks the packet
  // as a wake-up; no handler ever sees it.
  if (::PostQueuedCompletionStatus(port_.Get(), 0,
                                   reinterpret_cast<ULONG_PTR>(this),
                                   reinterpret_cast<OVERLAPPED*>(this))) {
    return;
  }

  have_work_.exchange(0);
  RecordIOProblem(COMPLETION_POST_ERROR);
  NoteScheduleWorkError();
}

void MessagePumpForIO::ScheduleDelayedWork(const TimeTicks& delayed_work_time) {
  // Only called on the pump's thread, which computes its wait from it.
  delayed_work_time_ = delayed_work_time;
}

bool MessagePumpForIO::RegisterIOHandler(HANDLE file_handle,
                                         IOHandler* handler) {
  HANDLE port = ::CreateIoCompletionPort(
      file_handle, port_.Get(), reinterpret_cast<ULONG_PTR>(handler), 1);
  return port != nullptr;
}

void MessagePumpForIO::DoRunLoop() {
  for (;;) {
    bool more_work_is_plausible = state_->delegate->DoWork();
    if (state_->should_quit)
      break;

    more_work_is_plausible |= WaitForIOCompletion(0, nullptr);
    if (state_->should_quit)
      break;

    more_work_is_plausible |=
        state_->delegate->DoDelayedWork(&delayed_work_time_);
    if (state_->should_quit)
      break;

    if (more_work_is_plausible)
      continue;

    more_work_is_plausible = state_->delegate->DoIdleWork();
    if (state_->should_quit)
      break;

    if (more_work_is_plausible)
      continue;

    WaitForWork();
  }
}

void MessagePumpForIO::WaitForWork() {
  int timeout = GetCurrentDelay();
  WaitForIOCompletion(timeout < 0 ? INFINITE : static_cast<DWORD>(timeout),
                      nullptr);
}

bool MessagePumpForIO::WaitForIOCompletion(DWORD timeout, IOHandler* filter) {
  IOItem item;
  if (completed_io_.empty() || !MatchCompletedIOItem(filter, &item)) {
    if (!GetIOItem(timeout, &item))
      return false;
    if (ProcessInternalIOItem(item))
      return true;
  }

  if (filter && item.handler != filter) {
    // Kept for a later wait, in arrival order.
    completed_io_.push_back(item);
  } else if (item.handler) {
    item.handler->OnIOCompleted(item.context, item.bytes_transfered,
                                item.error);
  }
  return true;
}

bool MessagePumpForIO::MatchCompletedIOItem(IOHandler* filter, IOItem* item) {
  for (auto it = completed_io_.begin(); it != completed_io_.end(); ++it) {
    if (!filter || it->handler == filter) {
      *item = *it;
      completed_io_.erase(it);
      return true;
    }
  }
  return false;
}

bool MessagePumpForIO::GetIOItem(DWORD timeout, IOItem* item) {
  memset(item, 0, sizeof(*item));
  ULONG_PTR key = 0;
  OVERLAPPED* overlapped = nullptr;
  if (!::GetQueuedCompletionStatus(port_.Get(), &item->bytes_transfered, &key,
                                   &overlapped, timeout)) {
    if (!overlapped)
      return false;  // Nothing arrived.
    // A failed operation: its handler gets the error.
    item->error = ::GetLastError();
    item->bytes_transfered = 0;
  }
  item->handler = reinterpret_cast<IOHandler*>(key);
  item->context = reinterpret_cast<IOContext*>(overlapped);
  return true;
}

bool MessagePumpForIO::ProcessInternalIOItem(const IOItem& item) {
  if (reinterpret_cast<void*>(this) == reinterpret_cast<void*>(item.context) &&
      reinterpret_cast<void*>(this) == reinterpret_cast<void*>(item.handler)) {
    // The pump's own wake-up: the next ScheduleWork must post again.
    have_work_.exchange(0);
    return true;
  }
  return false;
}

}  // namespace base
