#include "base/task_scheduler/scheduler_worker.h"

#include <utility>

#include "base/check.h"
#include "base/task_scheduler/task_tracker.h"
#include "base/win/scoped_com_initializer.h"

namespace base {
namespace internal {

// The platform thread's delegate, owned by the worker: Join deletes it after
// the thread has ended, and a worker that is never joined deletes it when it
// is destroyed itself (possibly on this very thread, as it lets go).
class SchedulerWorker::Thread : public PlatformThread::Delegate {
 public:
  explicit Thread(scoped_refptr<SchedulerWorker> outer)
      : outer_(std::move(outer)) {}
  ~Thread() override = default;

  void ThreadMain() override {
    // The worker owns this object. Once the reference below is released, the
    // worker may be gone, and this object with it: nothing after that may
    // touch a member.
    scoped_refptr<SchedulerWorker> outer = std::move(outer_);
    std::unique_ptr<win::ScopedCOMInitializer> com_initializer;
    outer->delegate_->OnMainEntry(outer.get());
    // A worker starts out waiting: it is given work by a wake-up.
    outer->delegate_->WaitForWork(&wake_up_event_);
    if (outer->backward_compatibility_ ==
        SchedulerBackwardCompatibility::INIT_COM_STA) {
      com_initializer = std::make_unique<win::ScopedCOMInitializer>();
    }
    outer->RunWorker(this);
    outer->delegate_->OnMainExit(outer.get());
    outer->thread_left_.store(true);
    // The thread object stays with the worker, so that a later Join still
    // waits for this thread to end. When this was the last reference, the
    // worker's destructor detaches the thread and deletes this object.
    outer = nullptr;
  }

  WaitableEvent* wake_up_event() { return &wake_up_event_; }
  PlatformThreadHandle* handle() { return &handle_; }
  ThreadPriority current_priority() const { return current_priority_; }
  void set_current_priority(ThreadPriority priority) {
    current_priority_ = priority;
  }

 private:
  PlatformThreadHandle handle_;
  scoped_refptr<SchedulerWorker> outer_;
  WaitableEvent wake_up_event_{WaitableEvent::ResetPolicy::MANUAL,
                               WaitableEvent::InitialState::NOT_SIGNALED};
  ThreadPriority current_priority_ = ThreadPriority::NORMAL;

  DISALLOW_COPY_AND_ASSIGN(Thread);
};

void SchedulerWorker::Delegate::WaitForWork(WaitableEvent* wake_up_event) {
  const TimeDelta sleep_time = GetSleepTimeout();
  if (sleep_time.is_max())
    wake_up_event->Wait();
  else
    wake_up_event->TimedWait(sleep_time);
  wake_up_event->Reset();
}

SchedulerWorker::SchedulerWorker(
    ThreadPriority priority_hint,
    std::unique_ptr<Delegate> delegate,
    TaskTracker* task_tracker,
    SchedulerBackwardCompatibility backward_compatibility)
    : priority_hint_(priority_hint),
      delegate_(std::move(delegate)),
      task_tracker_(task_tracker),
      backward_compatibility_(backward_compatibility) {
  DCHECK(delegate_);
  DCHECK(task_tracker_);
}

SchedulerWorker::~SchedulerWorker() {
  // Nobody joined the thread: it ends by itself (this may run on it, as it
  // lets go of its last reference), so its handle is only closed.
  if (thread_) {
    if (!join_called_.load() && !thread_->handle()->is_null())
      PlatformThread::Detach(*thread_->handle());
    delete thread_;
  }
}

bool SchedulerWorker::Start() {
  AutoLock auto_lock(thread_lock_);
  DCHECK(!thread_);
  if (should_exit_.load())
    return true;
  Thread* thread = new Thread(this);
  const ThreadPriority priority = GetDesiredThreadPriority();
  thread->set_current_priority(priority);
  thread_ = thread;
  if (!PlatformThread::CreateWithPriority(0, thread, thread->handle(),
                                          priority)) {
    thread_ = nullptr;
    delete thread;
    return false;
  }
  return true;
}

void SchedulerWorker::WakeUp() {
  AutoLock auto_lock(thread_lock_);
  if (thread_)
    thread_->wake_up_event()->Signal();
}

void SchedulerWorker::Cleanup() {
  AutoLock auto_lock(thread_lock_);
  should_exit_.store(true);
  if (thread_)
    thread_->wake_up_event()->Signal();
}

void SchedulerWorker::Join() {
  join_called_.store(true);
  Thread* thread = nullptr;
  {
    AutoLock auto_lock(thread_lock_);
    if (!thread_)
      return;
    thread_->wake_up_event()->Signal();
    thread = thread_;
    thread_ = nullptr;
  }
  PlatformThread::Join(*thread->handle());
  delete thread;
}

bool SchedulerWorker::ShouldExit() const {
  return should_exit_.load() || join_called_.load() ||
         task_tracker_->IsShutdownComplete();
}

ThreadPriority SchedulerWorker::GetDesiredThreadPriority() const {
  // A background thread could starve the work that shutdown waits for.
  if (priority_hint_ < ThreadPriority::NORMAL &&
      task_tracker_->HasShutdownStarted()) {
    return ThreadPriority::NORMAL;
  }
  return priority_hint_;
}

void SchedulerWorker::RunWorker(Thread* thread) {
  WaitableEvent* const wake_up_event = thread->wake_up_event();
  while (!ShouldExit()) {
    const ThreadPriority desired_priority = GetDesiredThreadPriority();
    if (desired_priority != thread->current_priority()) {
      PlatformThread::SetCurrentThreadPriority(desired_priority);
      thread->set_current_priority(desired_priority);
    }

    scoped_refptr<Sequence> sequence = delegate_->GetWork(this);
    if (!sequence) {
      delegate_->WaitForWork(wake_up_event);
      continue;
    }

    sequence =
        task_tracker_->RunAndPopNextTask(std::move(sequence), delegate_.get());
    delegate_->DidRunTask();
    if (sequence)
      delegate_->ReEnqueueSequence(std::move(sequence));

    // A wake-up that came while the task ran is not needed: work is asked
    // for again before sleeping.
    wake_up_event->Reset();
  }
}

}  // namespace internal
}  // namespace base
