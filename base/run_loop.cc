#include "base/run_loop.h"

#include <utility>

#include "base/bind.h"
#include "base/check.h"
#include "base/lazy_instance.h"
#include "base/location.h"
#include "base/sequenced_task_runner.h"
#include "base/single_thread_task_runner.h"
#include "base/threading/thread_local_storage.h"
#include "base/threading/thread_task_runner_handle.h"

namespace base {

namespace {

LazyInstance<ThreadLocalStorage::Slot>::Leaky g_delegate_slot =
    LAZY_INSTANCE_INITIALIZER;

RunLoop::Delegate* GetCurrentDelegate() {
  return static_cast<RunLoop::Delegate*>(g_delegate_slot.Get().Get());
}

}  // namespace

// RunLoop::Delegate ----------------------------------------------------------

RunLoop::Delegate::Delegate()
    : should_quit_when_idle_callback_(
          BindRepeating(&Delegate::InnermostQuitsWhenIdle, Unretained(this))) {}

RunLoop::Delegate::~Delegate() {
  if (bound_ && GetCurrentDelegate() == this)
    g_delegate_slot.Get().Set(nullptr);
}

bool RunLoop::Delegate::ShouldQuitWhenIdle() {
  return should_quit_when_idle_callback_.Run();
}

// static
bool RunLoop::Delegate::InnermostQuitsWhenIdle(const Delegate* delegate) {
  return !delegate->active_run_loops_.empty() &&
         delegate->active_run_loops_.back()->quit_when_idle_received_;
}

// RunLoop --------------------------------------------------------------------

RunLoop::RunLoop(Type type) : RunLoop(nullptr, type) {}

RunLoop::RunLoop(MessagePumpDispatcher* dispatcher, Type type)
    : delegate_(GetCurrentDelegate()),
      type_(type),
      dispatcher_(dispatcher),
      origin_task_runner_(ThreadTaskRunnerHandle::Get()),
      weak_factory_(this) {
  DCHECK(delegate_);
  weak_self_ = weak_factory_.GetWeakPtr();
}

RunLoop::~RunLoop() {
  // Tasks and closures that other threads posted for this run loop find it
  // gone from here on.
  weak_factory_.InvalidateWeakPtrs();
  origin_task_runner_ = nullptr;
}

// static
void RunLoop::RegisterDelegateForCurrentThread(Delegate* delegate) {
  DCHECK(delegate);
  DCHECK(!delegate->bound_);
  g_delegate_slot.Get().Set(delegate);
  delegate->bound_ = true;
}

void RunLoop::Run() {
  if (!BeforeRun())
    return;

  // A nested run runs application tasks only when asked to.
  const bool application_tasks_allowed =
      delegate_->active_run_loops_.size() == 1 ||
      type_ == kNestableTasksAllowed;
  delegate_->Run(application_tasks_allowed);

  AfterRun();
}

void RunLoop::Quit() {
  if (!origin_task_runner_->RunsTasksInCurrentSequence()) {
    // Through the weak pointer, so that a run loop that dies before the
    // task runs is not touched.
    origin_task_runner_->PostTask(FROM_HERE_WITH_EXPLICIT_FUNCTION("Quit"),
                                  BindOnce(&RunLoop::Quit, weak_self_));
    return;
  }

  quit_called_ = true;
  if (running_ && delegate_->active_run_loops_.back() == this) {
    // This is the innermost run: end it now. An outer one ends when the
    // inner ones above it have returned (see AfterRun).
    delegate_->Quit();
  }
}

void RunLoop::QuitWhenIdle() {
  if (!origin_task_runner_->RunsTasksInCurrentSequence()) {
    origin_task_runner_->PostTask(
        FROM_HERE_WITH_EXPLICIT_FUNCTION("QuitWhenIdle"),
        BindOnce(&RunLoop::QuitWhenIdle, weak_self_));
    return;
  }
  quit_when_idle_received_ = true;
}

RepeatingClosure RunLoop::QuitClosure() {
  return BindRepeating(&RunLoop::ProxyToTaskRunner,
                       scoped_refptr<SequencedTaskRunner>(origin_task_runner_),
                       BindRepeating(&RunLoop::Quit, weak_self_));
}

RepeatingClosure RunLoop::QuitWhenIdleClosure() {
  return BindRepeating(&RunLoop::ProxyToTaskRunner,
                       scoped_refptr<SequencedTaskRunner>(origin_task_runner_),
                       BindRepeating(&RunLoop::QuitWhenIdle, weak_self_));
}

// static
bool RunLoop::IsNestedOnCurrentThread() {
  Delegate* delegate = GetCurrentDelegate();
  return delegate && delegate->active_run_loops_.size() > 1;
}

// static
MessagePumpDispatcher* RunLoop::CurrentMessageDispatcher() {
  Delegate* delegate = GetCurrentDelegate();
  if (!delegate || delegate->active_run_loops_.empty())
    return nullptr;
  return delegate->active_run_loops_.back()->dispatcher_;
}

bool RunLoop::BeforeRun() {
  // A quit before the run makes the run return at once.
  if (quit_called_)
    return false;

  std::vector<RunLoop*>& active_run_loops = delegate_->active_run_loops_;
  active_run_loops.push_back(this);

  // A nested run started from inside a task: the tasks that are ready would
  // otherwise wait for the next wake-up.
  if (active_run_loops.size() > 1 && type_ == kNestableTasksAllowed)
    delegate_->EnsureWorkScheduled();

  running_ = true;
  return true;
}

void RunLoop::AfterRun() {
  running_ = false;

  std::vector<RunLoop*>& active_run_loops = delegate_->active_run_loops_;
  DCHECK(!active_run_loops.empty());
  DCHECK(active_run_loops.back() == this);
  active_run_loops.pop_back();

  // An outer run loop quit while this one ran ends now.
  RunLoop* previous_run_loop =
      active_run_loops.empty() ? nullptr : active_run_loops.back();
  if (previous_run_loop && previous_run_loop->quit_called_)
    delegate_->Quit();
}

// static
void RunLoop::ProxyToTaskRunner(scoped_refptr<SequencedTaskRunner> task_runner,
                                RepeatingClosure closure) {
  if (task_runner->RunsTasksInCurrentSequence()) {
    closure.Run();
    return;
  }
  task_runner->PostTask(FROM_HERE_WITH_EXPLICIT_FUNCTION("ProxyToTaskRunner"),
                        std::move(closure));
}

}  // namespace base
