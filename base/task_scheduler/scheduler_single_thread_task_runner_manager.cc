#include "base/task_scheduler/scheduler_single_thread_task_runner_manager.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <memory>
#include <utility>

#include "base/bind.h"
#include "base/check.h"
#include "base/location.h"
#include "base/strings/stringprintf.h"
#include "base/synchronization/waitable_event.h"
#include "base/task_scheduler/delayed_task_manager.h"
#include "base/task_scheduler/sequence.h"
#include "base/task_scheduler/task.h"
#include "base/task_scheduler/task_tracker.h"
#include "base/threading/platform_thread.h"
#include "base/win/scoped_com_initializer.h"

namespace base {
namespace internal {

namespace {

// Runners outlive the manager; they test this before touching it.
std::atomic<bool> g_manager_is_alive{false};

// All input (raw, touch and pointer included), posted and sent messages,
// timers, paint and hot keys.
constexpr DWORD kWakeMask = 0x1CFF;

class SchedulerWorkerDelegate : public SchedulerWorker::Delegate {
 public:
  explicit SchedulerWorkerDelegate(const std::string& thread_name)
      : thread_name_(thread_name), sequence_(MakeRefCounted<Sequence>()) {}
  ~SchedulerWorkerDelegate() override = default;

  void set_worker(SchedulerWorker* worker) { worker_ = worker; }

  // SchedulerWorker::Delegate:
  void OnCanScheduleSequence(scoped_refptr<Sequence> sequence) override {
    ReEnqueueSequence(std::move(sequence));
    worker_->WakeUp();
  }

  void OnMainEntry(SchedulerWorker* worker) override {
    thread_id_.store(PlatformThread::CurrentId());
    thread_entered_.store(true);
    PlatformThread::SetName(thread_name_);
  }

  scoped_refptr<Sequence> GetWork(SchedulerWorker* worker) override {
    AutoLock auto_lock(sequence_lock_);
    if (!has_work_)
      return nullptr;
    has_work_ = false;
    return sequence_;
  }

  void DidRunTask() override {}

  void ReEnqueueSequence(scoped_refptr<Sequence> sequence) override {
    {
      AutoLock auto_lock(sequence_lock_);
      // The worker's only sequence; it is gone once the thread has left.
      if (sequence_)
        has_work_ = true;
    }
    // |sequence| is released here, outside the lock.
  }

  TimeDelta GetSleepTimeout() override { return TimeDelta::Max(); }

  void OnMainExit(SchedulerWorker* worker) override {
    scoped_refptr<Sequence> sequence;
    {
      AutoLock auto_lock(sequence_lock_);
      sequence = std::move(sequence_);
    }
    // The remaining tasks are destroyed here, outside the lock.
  }

  bool RunsTasksInCurrentThread() const {
    return thread_entered_.load() &&
           thread_id_.load() == PlatformThread::CurrentId();
  }

  // The worker's sequence, or null once its thread has left.
  scoped_refptr<Sequence> sequence() {
    AutoLock auto_lock(sequence_lock_);
    return sequence_;
  }

 protected:
  const std::string thread_name_;
  SchedulerWorker* worker_ = nullptr;

 private:
  Lock sequence_lock_;
  scoped_refptr<Sequence> sequence_;  // Guarded by |sequence_lock_|.
  bool has_work_ = false;             // Guarded by |sequence_lock_|.

  std::atomic<bool> thread_entered_{false};
  std::atomic<PlatformThreadId> thread_id_{kInvalidThreadId};

  DISALLOW_COPY_AND_ASSIGN(SchedulerWorkerDelegate);
};

void DispatchWindowMessage(const MSG& message) {
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
}

// Lives in a single-threaded COM apartment: window messages of the thread
// and tasks take turns, so that neither starves the other.
class SchedulerWorkerCOMDelegate : public SchedulerWorkerDelegate {
 public:
  SchedulerWorkerCOMDelegate(const std::string& thread_name,
                             TaskTracker* task_tracker)
      : SchedulerWorkerDelegate(thread_name),
        message_pump_sequence_(MakeRefCounted<Sequence>()),
        task_tracker_(task_tracker) {}

  ~SchedulerWorkerCOMDelegate() override { scoped_com_initializer_.reset(); }

  void OnMainEntry(SchedulerWorker* worker) override {
    SchedulerWorkerDelegate::OnMainEntry(worker);
    scoped_com_initializer_ = std::make_unique<win::ScopedCOMInitializer>();
  }

  scoped_refptr<Sequence> GetWork(SchedulerWorker* worker) override {
    scoped_refptr<Sequence> sequence;
    if (get_work_first_) {
      sequence = SchedulerWorkerDelegate::GetWork(worker);
      if (sequence) {
        get_work_first_ = false;
        return sequence;
      }
    }

    sequence = GetWorkFromWindowsMessageQueue();
    if (sequence) {
      get_work_first_ = true;
      return sequence;
    }

    if (!get_work_first_) {
      // Tasks were not looked at this time round.
      return SchedulerWorkerDelegate::GetWork(worker);
    }
    return nullptr;
  }

  void WaitForWork(WaitableEvent* wake_up_event) override {
    const TimeDelta sleep_time = GetSleepTimeout();
    const DWORD milliseconds_wait =
        sleep_time.is_max() ? INFINITE
                            : static_cast<DWORD>(sleep_time.InMilliseconds());
    HANDLE wake_up_event_handle = wake_up_event->handle();
    const DWORD result = ::MsgWaitForMultipleObjectsEx(
        1, &wake_up_event_handle, milliseconds_wait, kWakeMask, 0);
    // A message that ended the wait leaves the wake-up pending.
    if (result == WAIT_OBJECT_0)
      wake_up_event->Reset();
  }

  void OnMainExit(SchedulerWorker* worker) override {
    // The task sequence is kept: tasks posted from now on stay queued and go
    // with the worker.
    scoped_com_initializer_.reset();
  }

 private:
  scoped_refptr<Sequence> GetWorkFromWindowsMessageQueue() {
    MSG message;
    if (!::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
      return nullptr;
    Task pump_message_task(
        Location("GetWorkFromWindowsMessageQueue",
                 "base/task_scheduler/"
                 "scheduler_single_thread_task_runner_manager",
                 240, nullptr),
        BindOnce(&DispatchWindowMessage, message), TaskTraits().MayBlock(),
        TimeDelta());
    if (!task_tracker_->WillPostTask(pump_message_task))
      return nullptr;
    const bool was_empty =
        message_pump_sequence_->PushTask(std::move(pump_message_task));
    DCHECK(was_empty);
    return message_pump_sequence_;
  }

  bool get_work_first_ = true;
  const scoped_refptr<Sequence> message_pump_sequence_;
  TaskTracker* const task_tracker_;
  std::unique_ptr<win::ScopedCOMInitializer> scoped_com_initializer_;

  DISALLOW_COPY_AND_ASSIGN(SchedulerWorkerCOMDelegate);
};

}  // namespace

class SchedulerSingleThreadTaskRunnerManager::SchedulerSingleThreadTaskRunner
    : public SingleThreadTaskRunner {
 public:
  SchedulerSingleThreadTaskRunner(SchedulerSingleThreadTaskRunnerManager* outer,
                                  const TaskTraits& traits,
                                  SchedulerWorker* worker,
                                  SingleThreadTaskRunnerThreadMode thread_mode)
      : outer_(outer),
        traits_(traits),
        worker_(worker),
        thread_mode_(thread_mode) {
    DCHECK(outer_);
    DCHECK(worker_);
  }

  bool PostDelayedTask(const Location& from_here,
                       OnceClosure closure,
                       TimeDelta delay) override {
    if (!g_manager_is_alive.load())
      return false;
    Task task(from_here, std::move(closure), traits_, delay);
    // The task sees this runner as its thread's runner.
    task.single_thread_task_runner_ref = this;
    if (!outer_->task_tracker_->WillPostTask(task))
      return false;
    if (task.delayed_run_time.is_null()) {
      PostTaskNow(std::move(task));
    } else {
      // The task holds this runner alive until it is handed back.
      outer_->delayed_task_manager_->AddDelayedTask(
          std::move(task),
          BindOnce(&SchedulerSingleThreadTaskRunner::PostTaskNow,
                   Unretained(this)));
    }
    return true;
  }

  bool PostNonNestableDelayedTask(const Location& from_here,
                                  OnceClosure closure,
                                  TimeDelta delay) override {
    // Tasks of the scheduler never run nested.
    return PostDelayedTask(from_here, std::move(closure), delay);
  }

  bool RunsTasksInCurrentSequence() const override {
    if (!g_manager_is_alive.load())
      return false;
    return GetDelegate()->RunsTasksInCurrentThread();
  }

 private:
  ~SchedulerSingleThreadTaskRunner() override {
    // A dedicated thread ends with its last runner; a shared one stays.
    if (g_manager_is_alive.load() &&
        thread_mode_ == SingleThreadTaskRunnerThreadMode::DEDICATED) {
      outer_->UnregisterSchedulerWorker(worker_);
    }
  }

  void PostTaskNow(Task task) {
    scoped_refptr<Sequence> sequence = GetDelegate()->sequence();
    // The thread has left: the task is dropped.
    if (!sequence)
      return;
    if (!sequence->PushTask(std::move(task)))
      return;
    sequence = outer_->task_tracker_->WillScheduleSequence(std::move(sequence),
                                                           GetDelegate());
    if (sequence) {
      GetDelegate()->ReEnqueueSequence(std::move(sequence));
      worker_->WakeUp();
    }
  }

  SchedulerWorkerDelegate* GetDelegate() const {
    return static_cast<SchedulerWorkerDelegate*>(worker_->delegate());
  }

  SchedulerSingleThreadTaskRunnerManager* const outer_;
  const TaskTraits traits_;
  SchedulerWorker* const worker_;
  const SingleThreadTaskRunnerThreadMode thread_mode_;

  DISALLOW_COPY_AND_ASSIGN(SchedulerSingleThreadTaskRunner);
};

SchedulerSingleThreadTaskRunnerManager::SchedulerSingleThreadTaskRunnerManager(
    TaskTracker* task_tracker, DelayedTaskManager* delayed_task_manager)
    : task_tracker_(task_tracker), delayed_task_manager_(delayed_task_manager) {
  DCHECK(task_tracker_);
  DCHECK(delayed_task_manager_);
  g_manager_is_alive.store(true);
}

SchedulerSingleThreadTaskRunnerManager::
    ~SchedulerSingleThreadTaskRunnerManager() {
  g_manager_is_alive.store(false);
}

void SchedulerSingleThreadTaskRunnerManager::Start() {
  std::vector<scoped_refptr<SchedulerWorker>> workers_to_start;
  {
    AutoLock auto_lock(lock_);
    started_ = true;
    workers_to_start = workers_;
  }
  // Workers made before now may already hold tasks.
  for (const scoped_refptr<SchedulerWorker>& worker : workers_to_start) {
    worker->Start();
    worker->WakeUp();
  }
}

scoped_refptr<SingleThreadTaskRunner>
SchedulerSingleThreadTaskRunnerManager::CreateSingleThreadTaskRunnerWithTraits(
    const TaskTraits& traits, SingleThreadTaskRunnerThreadMode thread_mode) {
  return CreateTaskRunnerWithTraitsImpl(WorkerKind::PLAIN, traits, thread_mode);
}

scoped_refptr<SingleThreadTaskRunner>
SchedulerSingleThreadTaskRunnerManager::CreateCOMSTATaskRunnerWithTraits(
    const TaskTraits& traits, SingleThreadTaskRunnerThreadMode thread_mode) {
  return CreateTaskRunnerWithTraitsImpl(WorkerKind::COM, traits, thread_mode);
}

scoped_refptr<SingleThreadTaskRunner>
SchedulerSingleThreadTaskRunnerManager::CreateTaskRunnerWithTraitsImpl(
    WorkerKind kind,
    const TaskTraits& traits,
    SingleThreadTaskRunnerThreadMode thread_mode) {
  const size_t environment_index = GetEnvironmentIndexForTraits(traits);
  const EnvironmentParams& environment = kEnvironmentParams[environment_index];
  SchedulerWorker* worker = nullptr;
  bool new_worker = false;
  bool started = false;
  {
    AutoLock auto_lock(lock_);
    if (thread_mode == SingleThreadTaskRunnerThreadMode::DEDICATED) {
      worker = CreateAndRegisterSchedulerWorkerLockRequired(
          kind, environment.name_suffix, environment.priority_hint);
      new_worker = true;
    } else {
      SchedulerWorker*& shared_worker =
          kind == WorkerKind::COM
              ? shared_com_scheduler_workers_[environment_index]
              : shared_scheduler_workers_[environment_index];
      if (!shared_worker) {
        shared_worker = CreateAndRegisterSchedulerWorkerLockRequired(
            kind, std::string("Shared") + environment.name_suffix,
            environment.priority_hint);
        new_worker = true;
      }
      worker = shared_worker;
    }
    started = started_;
  }
  if (new_worker && started)
    worker->Start();
  return MakeRefCounted<SchedulerSingleThreadTaskRunner>(this, traits, worker,
                                                         thread_mode);
}

SchedulerWorker* SchedulerSingleThreadTaskRunnerManager::
    CreateAndRegisterSchedulerWorkerLockRequired(WorkerKind kind,
                                                 const std::string& name,
                                                 ThreadPriority priority_hint) {
  const int32_t id = next_worker_id_++;
  std::unique_ptr<SchedulerWorkerDelegate> delegate;
  if (kind == WorkerKind::COM) {
    delegate = std::make_unique<SchedulerWorkerCOMDelegate>(
        StringPrintf("TaskSchedulerSingleThreadCOMSTA%s%d", name.c_str(), id),
        task_tracker_);
  } else {
    delegate = std::make_unique<SchedulerWorkerDelegate>(
        StringPrintf("TaskSchedulerSingleThread%s%d", name.c_str(), id));
  }
  SchedulerWorkerDelegate* const delegate_raw = delegate.get();
  workers_.push_back(MakeRefCounted<SchedulerWorker>(
      priority_hint, std::move(delegate), task_tracker_,
      SchedulerBackwardCompatibility::DISABLED));
  delegate_raw->set_worker(workers_.back().get());
  return workers_.back().get();
}

void SchedulerSingleThreadTaskRunnerManager::UnregisterSchedulerWorker(
    SchedulerWorker* worker) {
  scoped_refptr<SchedulerWorker> worker_to_clean_up;
  std::vector<scoped_refptr<SchedulerWorker>> workers_to_release;
  {
    AutoLock auto_lock(lock_);
    // Empty while Join() is under way.
    if (workers_.empty())
      return;
    auto it = std::find_if(workers_.begin(), workers_.end(),
                           [worker](const scoped_refptr<SchedulerWorker>& w) {
                             return w.get() == worker;
                           });
    // Already let go (e.g. while the worker itself is being destroyed).
    if (it == workers_.end())
      return;
    worker_to_clean_up = std::move(*it);
    workers_.erase(it);

    // Workers whose threads are gone are released outside the lock: their
    // leftover tasks may hold runners, whose destruction comes back here.
    auto gone = std::stable_partition(
        workers_cleaned_up_.begin(), workers_cleaned_up_.end(),
        [](const scoped_refptr<SchedulerWorker>& w) {
          return !w->HasThreadLeft();
        });
    workers_to_release.assign(
        std::make_move_iterator(gone),
        std::make_move_iterator(workers_cleaned_up_.end()));
    workers_cleaned_up_.erase(gone, workers_cleaned_up_.end());
    workers_cleaned_up_.push_back(worker_to_clean_up);
  }
  worker_to_clean_up->Cleanup();
}

void SchedulerSingleThreadTaskRunnerManager::Join() {
  std::vector<scoped_refptr<SchedulerWorker>> local_workers;
  {
    AutoLock auto_lock(lock_);
    local_workers = std::move(workers_);
    workers_.clear();
  }
  std::vector<scoped_refptr<SchedulerWorker>> cleaned_up_workers;
  {
    AutoLock auto_lock(lock_);
    cleaned_up_workers = std::move(workers_cleaned_up_);
    workers_cleaned_up_.clear();
  }
  for (const scoped_refptr<SchedulerWorker>& worker : local_workers)
    worker->Join();
  // Threads of dropped dedicated runners may still be finishing a task.
  for (const scoped_refptr<SchedulerWorker>& worker : cleaned_up_workers)
    worker->Join();
  {
    AutoLock auto_lock(lock_);
    DCHECK(workers_.empty());
    workers_ = std::move(local_workers);
  }

  SchedulerWorker* shared_workers[ENVIRONMENT_COUNT * 2] = {};
  {
    AutoLock auto_lock(lock_);
    for (size_t i = 0; i < ENVIRONMENT_COUNT; ++i) {
      shared_workers[2 * i] = shared_scheduler_workers_[i];
      shared_workers[2 * i + 1] = shared_com_scheduler_workers_[i];
      shared_scheduler_workers_[i] = nullptr;
      shared_com_scheduler_workers_[i] = nullptr;
    }
  }
  for (SchedulerWorker* worker : shared_workers) {
    if (worker)
      UnregisterSchedulerWorker(worker);
  }
}

size_t SchedulerSingleThreadTaskRunnerManager::NumberOfWorkersForTesting()
    const {
  AutoLock auto_lock(lock_);
  return workers_.size();
}

}  // namespace internal
}  // namespace base
