#include "base/message_loop/message_loop.h"

#include <windows.h>

#include <utility>

#include "base/check.h"
#include "base/debug/alias.h"
#include "base/message_loop/incoming_task_queue.h"
#include "base/message_loop/message_pump_default.h"
#include "base/message_loop/message_pump_dispatcher.h"
#include "base/synchronization/lock.h"
#include "base/threading/thread_local_storage.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/trace_event/scoped_trace_event.h"
#include "base/trace_event/trace_log.h"

namespace base {

namespace internal {

// The runner of one message loop. It outlives the loop when others still
// hold it; posts then fail in the incoming queue.
class MessageLoopTaskRunner : public SingleThreadTaskRunner {
 public:
  explicit MessageLoopTaskRunner(scoped_refptr<IncomingTaskQueue> queue)
      : incoming_queue_(std::move(queue)) {}

  bool PostDelayedTask(const Location& from_here,
                       OnceClosure task,
                       TimeDelta delay) override {
    return incoming_queue_->AddToIncomingQueue(from_here, std::move(task),
                                               delay, Nestable::kNestable);
  }

  bool RunsTasksInCurrentSequence() const override {
    AutoLock lock(valid_thread_id_lock_);
    return valid_thread_id_ != kInvalidThreadId &&
           valid_thread_id_ == PlatformThread::CurrentId();
  }

  bool PostNonNestableDelayedTask(const Location& from_here,
                                  OnceClosure task,
                                  TimeDelta delay) override {
    return incoming_queue_->AddToIncomingQueue(from_here, std::move(task),
                                               delay, Nestable::kNonNestable);
  }

  void BindToCurrentThread() {
    AutoLock lock(valid_thread_id_lock_);
    DCHECK_EQ(kInvalidThreadId, valid_thread_id_);
    valid_thread_id_ = PlatformThread::CurrentId();
  }

 private:
  ~MessageLoopTaskRunner() override = default;

  const scoped_refptr<IncomingTaskQueue> incoming_queue_;
  PlatformThreadId valid_thread_id_ = kInvalidThreadId;
  mutable Lock valid_thread_id_lock_;

  DISALLOW_COPY_AND_ASSIGN(MessageLoopTaskRunner);
};

}  // namespace internal

namespace {

constexpr int kMaxDestructionPasses = 100;
constexpr int kMaxObserverFrames = 10;

ThreadLocalStorage::Slot& CurrentLoopSlot() {
  static ThreadLocalStorage::Slot* const slot = new ThreadLocalStorage::Slot();
  return *slot;
}

}  // namespace

// Wraps a destruction observer with the return addresses of the code that
// registered it, kept on the stack during the call, so that a crash inside
// the observer shows where it came from.
class MessageLoop::DestructionObserverRecord {
 public:
  explicit DestructionObserverRecord(DestructionObserver* observer)
      : observer_(observer) {
    frame_count_ = ::RtlCaptureStackBackTrace(
        1, kMaxObserverFrames, const_cast<void**>(frames_), nullptr);
  }

  void WillDestroyCurrentMessageLoop() {
    const void* const* frames = frames_;
    int frame_count = frame_count_;
    debug::Alias(&frames);
    debug::Alias(&frame_count);
    observer_->WillDestroyCurrentMessageLoop();
  }

  DestructionObserver* observer() const { return observer_; }

 private:
  DestructionObserver* const observer_;
  const void* frames_[kMaxObserverFrames] = {};
  int frame_count_ = 0;

  DISALLOW_COPY_AND_ASSIGN(DestructionObserverRecord);
};

MessageLoop::MessageLoop(Type type)
    : MessageLoop(type, MessagePumpFactoryCallback()) {
  BindToCurrentThread();
}

MessageLoop::MessageLoop(Type type, MessagePumpFactoryCallback pump_factory)
    : type_(type), pump_factory_(std::move(pump_factory)) {
  incoming_task_queue_ = new internal::IncomingTaskQueue(this);
  unbound_task_runner_ =
      new internal::MessageLoopTaskRunner(incoming_task_queue_);
  task_runner_ = unbound_task_runner_;
}

MessageLoop::~MessageLoop() {
  if (in_high_res_mode_) {
    in_high_res_mode_ = false;
    Time::ActivateHighResolutionTimer(false);
  }

  // Destroying a task may post more; give up after a fixed number of passes
  // rather than spin on a task that reposts itself from its destructor.
  for (int pass = 0; pass < kMaxDestructionPasses; ++pass) {
    incoming_task_queue_->triage_tasks().Clear();
    incoming_task_queue_->deferred_tasks().Clear();
    incoming_task_queue_->delayed_tasks().Clear();
    if (!incoming_task_queue_->triage_tasks().HasTasks())
      break;
  }

  // Observers may still post; those tasks die with the queue.
  for (auto& record : destruction_observers_)
    record.WillDestroyCurrentMessageLoop();
  std::vector<DestructionObserverRecord*> records;
  for (auto& record : destruction_observers_)
    records.push_back(&record);
  destruction_observers_.Clear();
  for (DestructionObserverRecord* record : records)
    delete record;

  thread_task_runner_handle_.reset();

  incoming_task_queue_->WillDestroyCurrentMessageLoop();
  incoming_task_queue_ = nullptr;
  unbound_task_runner_ = nullptr;
  task_runner_ = nullptr;

  if (CurrentLoopSlot().Get() == this)
    CurrentLoopSlot().Set(nullptr);
}

// static
std::unique_ptr<MessageLoop> MessageLoop::CreateUnbound(
    Type type, MessagePumpFactoryCallback pump_factory) {
  return std::unique_ptr<MessageLoop>(
      new MessageLoop(type, std::move(pump_factory)));
}

// static
std::unique_ptr<MessagePump> MessageLoop::CreateMessagePumpForType(Type type) {
  switch (type) {
    case TYPE_UI:
      return std::unique_ptr<MessagePump>(new MessagePumpForUI());
    case TYPE_IO:
      return std::unique_ptr<MessagePump>(new MessagePumpForIO());
    default:
      return std::unique_ptr<MessagePump>(new MessagePumpDefault());
  }
}

// static
MessageLoop* MessageLoop::current() {
  return static_cast<MessageLoop*>(CurrentLoopSlot().Get());
}

void MessageLoop::BindToCurrentThread() {
  DCHECK(!pump_);
  if (!pump_factory_.is_null())
    pump_ = std::move(pump_factory_).Run();
  else
    pump_ = CreateMessagePumpForType(type_);
  CHECK(pump_);

  DCHECK(!current());
  CurrentLoopSlot().Set(this);

  incoming_task_queue_->StartScheduling();
  unbound_task_runner_->BindToCurrentThread();
  unbound_task_runner_ = nullptr;
  SetThreadTaskRunnerHandle();
  thread_id_ = PlatformThread::CurrentId();

  RunLoop::RegisterDelegateForCurrentThread(this);
}

void MessageLoop::SetThreadTaskRunnerHandle() {
  // Only one handle can exist on a thread at a time.
  thread_task_runner_handle_.reset();
  thread_task_runner_handle_.reset(new ThreadTaskRunnerHandle(task_runner_));
}

void MessageLoop::AddDestructionObserver(DestructionObserver* observer) {
  DCHECK(observer);
  destruction_observers_.AddObserver(new DestructionObserverRecord(observer));
}

void MessageLoop::RemoveDestructionObserver(DestructionObserver* observer) {
  for (auto& record : destruction_observers_) {
    if (record.observer() == observer) {
      destruction_observers_.RemoveObserver(&record);
      delete &record;
      return;
    }
  }
}

void MessageLoop::SetTimerSlack(int timer_slack) {
  DCHECK(pump_);
  pump_->SetTimerSlack(timer_slack);
}

void MessageLoop::SetNestableTasksAllowed(bool allowed) {
  if (allowed && pump_) {
    // The pump may be asleep in a nested run that had nothing it could do.
    pump_->ScheduleWork();
  }
  task_execution_allowed_ = allowed;
}

MessageLoop::ScopedNestableTaskAllower::ScopedNestableTaskAllower(
    MessageLoop* loop)
    : loop_(loop), old_state_(loop->NestableTasksAllowed()) {
  loop_->SetNestableTasksAllowed(true);
}

MessageLoop::ScopedNestableTaskAllower::~ScopedNestableTaskAllower() {
  loop_->SetNestableTasksAllowed(old_state_);
}

void MessageLoop::ScheduleWork() {
  pump_->ScheduleWork();
}

bool MessageLoop::IsBoundToCurrentThreadForTesting() const {
  return thread_id_ != kInvalidThreadId &&
         thread_id_ == PlatformThread::CurrentId();
}

void MessageLoop::Run(bool application_tasks_allowed) {
  DCHECK_EQ(this, current());
  MessagePumpDispatcher* dispatcher = RunLoop::CurrentMessageDispatcher();
  if (dispatcher && type_ == TYPE_UI) {
    static_cast<MessagePumpForUI*>(pump_.get())
        ->RunWithDispatcher(this, dispatcher);
    return;
  }
  if (application_tasks_allowed && !task_execution_allowed_) {
    // A nested run started from inside a task that may run tasks itself.
    task_execution_allowed_ = true;
    pump_->Run(this);
    task_execution_allowed_ = false;
  } else {
    pump_->Run(this);
  }
}

void MessageLoop::Quit() {
  pump_->Quit();
}

void MessageLoop::EnsureWorkScheduled() {
  if (incoming_task_queue_->triage_tasks().HasTasks())
    pump_->ScheduleWork();
}

bool MessageLoop::DoWork() {
  if (!task_execution_allowed_)
    return false;

  internal::IncomingTaskQueue::ReadAndRemoveOnlyQueue& triage =
      incoming_task_queue_->triage_tasks();
  internal::IncomingTaskQueue::Queue& delayed =
      incoming_task_queue_->delayed_tasks();
  while (triage.HasTasks()) {
    PendingTask pending_task = triage.Pop();
    if (pending_task.task.IsCancelled())
      continue;

    if (!pending_task.delayed_run_time.is_null()) {
      const int32_t sequence_num = pending_task.sequence_num;
      const TimeTicks delayed_run_time = pending_task.delayed_run_time;
      delayed.Push(std::move(pending_task));
      // Only a new earliest task moves the pump's wake-up.
      if (delayed.Peek().sequence_num == sequence_num)
        pump_->ScheduleDelayedWork(delayed_run_time);
    } else if (DeferOrRunPendingTask(std::move(pending_task))) {
      return true;
    }
  }
  return false;
}

bool MessageLoop::DoDelayedWork(TimeTicks* next_delayed_work_time) {
  internal::IncomingTaskQueue::Queue& delayed =
      incoming_task_queue_->delayed_tasks();
  if (!task_execution_allowed_ || !delayed.HasTasks()) {
    recent_time_ = *next_delayed_work_time = TimeTicks();
    return false;
  }

  const TimeTicks next_run_time = delayed.Peek().delayed_run_time;
  if (next_run_time > recent_time_) {
    recent_time_ = TimeTicks::Now();
    if (next_run_time > recent_time_) {
      *next_delayed_work_time = next_run_time;
      return false;
    }
  }

  PendingTask pending_task = delayed.Pop();
  if (delayed.HasTasks())
    *next_delayed_work_time = delayed.Peek().delayed_run_time;
  return DeferOrRunPendingTask(std::move(pending_task));
}

bool MessageLoop::DoIdleWork() {
  if (ProcessNextDelayedNonNestableTask())
    return true;

  if (ShouldQuitWhenIdle())
    pump_->Quit();

  const bool high_res = incoming_task_queue_->HasPendingHighResolutionTasks();
  if (high_res != in_high_res_mode_) {
    in_high_res_mode_ = high_res;
    Time::ActivateHighResolutionTimer(in_high_res_mode_);
  }
  return false;
}

bool MessageLoop::DeferOrRunPendingTask(PendingTask pending_task) {
  if (pending_task.nestable == Nestable::kNestable ||
      !RunLoop::IsNestedOnCurrentThread()) {
    RunTask(&pending_task);
    return true;
  }
  incoming_task_queue_->deferred_tasks().Push(std::move(pending_task));
  return false;
}

bool MessageLoop::ProcessNextDelayedNonNestableTask() {
  if (RunLoop::IsNestedOnCurrentThread())
    return false;

  internal::IncomingTaskQueue::Queue& deferred =
      incoming_task_queue_->deferred_tasks();
  while (deferred.HasTasks()) {
    PendingTask pending_task = deferred.Pop();
    if (!pending_task.task.IsCancelled()) {
      RunTask(&pending_task);
      return true;
    }
  }
  return false;
}

void MessageLoop::RunTask(PendingTask* pending_task) {
  DCHECK(task_execution_allowed_);
  current_pending_task_ = pending_task;
  task_execution_allowed_ = false;

  static const unsigned char* const toplevel_category =
      trace_event::TraceLog::GetCategoryGroupEnabled("toplevel");
  {
    trace_event::ScopedTaskRunTrace trace(
        toplevel_category, "MessageLoop::RunTask", pending_task->posted_from);
    incoming_task_queue_->RunTask(pending_task);
  }

  task_execution_allowed_ = true;
  current_pending_task_ = nullptr;
}

// static
MessageLoopForUI* MessageLoopForUI::current() {
  MessageLoop* loop = MessageLoop::current();
  DCHECK(loop && loop->IsType(TYPE_UI));
  return static_cast<MessageLoopForUI*>(loop);
}

// static
bool MessageLoopForUI::IsCurrent() {
  MessageLoop* loop = MessageLoop::current();
  return loop && loop->IsType(TYPE_UI);
}

// static
MessageLoopForIO* MessageLoopForIO::current() {
  MessageLoop* loop = MessageLoop::current();
  DCHECK(loop && loop->IsType(TYPE_IO));
  return static_cast<MessageLoopForIO*>(loop);
}

// static
bool MessageLoopForIO::IsCurrent() {
  MessageLoop* loop = MessageLoop::current();
  return loop && loop->IsType(TYPE_IO);
}

bool MessageLoopForIO::RegisterIOHandler(HANDLE file_handle,
                                         IOHandler* handler) {
  return io_pump()->RegisterIOHandler(file_handle, handler);
}

bool MessageLoopForIO::WaitForIOCompletion(DWORD timeout, IOHandler* filter) {
  return io_pump()->WaitForIOCompletion(timeout, filter);
}

MessagePumpForIO* MessageLoopForIO::io_pump() const {
  DCHECK(IsType(TYPE_IO));
  return static_cast<MessagePumpForIO*>(pump_.get());
}

}  // namespace base
