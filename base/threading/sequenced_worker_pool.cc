#include "base/threading/sequenced_worker_pool.h"

#include <stdint.h>

#include <atomic>
#include <map>
#include <set>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/bind.h"
#include "base/check.h"
#include "base/lazy_instance.h"
#include "base/metrics/histogram.h"
#include "base/metrics/histogram_base.h"
#include "base/strings/stringprintf.h"
#include "base/synchronization/condition_variable.h"
#include "base/synchronization/lock.h"
#include "base/threading/platform_thread.h"
#include "base/threading/sequenced_task_runner_handle.h"
#include "base/threading/simple_thread.h"
#include "base/threading/thread_local_storage.h"
#include "base/trace_event/scoped_trace_event.h"
#include "base/trace_event/trace_event_impl.h"
#include "base/trace_event/trace_log.h"
#include "base/win/scoped_com_initializer.h"

namespace base {

namespace {

// Shared by every pool, so that no token is valid in two pools.
std::atomic<int> g_last_sequence_token_id{0};

int NextSequenceTokenId() {
  return g_last_sequence_token_id.fetch_add(1, std::memory_order_relaxed) + 1;
}

// The current thread's Worker, on worker threads only.
LazyInstance<ThreadLocalStorage::Slot>::Leaky g_worker_slot =
    LAZY_INSTANCE_INITIALIZER;

const char kPostTaskEventName[] = "SequencedWorkerPool::Inner::PostTask";
const char kThreadLoopEventName[] = "SequencedWorkerPool::Inner::ThreadLoop";

struct SequencedTask {
  SequencedTask() = default;
  SequencedTask(SequencedTask&&) = default;
  SequencedTask& operator=(SequencedTask&&) = default;

  int sequence_token_id = 0;
  int trace_id = 0;
  int64_t sequence_task_number = 0;
  SequencedWorkerPool::WorkerShutdown shutdown_behavior =
      SequencedWorkerPool::BLOCK_SHUTDOWN;
  Location posted_from;
  // Mutable so that a task can be moved out of the ordered set just before
  // its entry is erased; the ordering fields never change.
  mutable OnceClosure task;
  TimeTicks time_to_run;
};

struct SequencedTaskLessThan {
  bool operator()(const SequencedTask& lhs, const SequencedTask& rhs) const {
    if (lhs.time_to_run != rhs.time_to_run)
      return lhs.time_to_run < rhs.time_to_run;
    return lhs.sequence_task_number < rhs.sequence_task_number;
  }
};

// Takes the task out of the set entry; the caller erases the entry next.
SequencedTask TakeTask(const SequencedTask& entry) {
  return std::move(const_cast<SequencedTask&>(entry));
}

unsigned long long FlowId(int trace_id, const void* inner) {
  return (static_cast<unsigned long long>(static_cast<uint32_t>(trace_id))
          << 32) |
         static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(inner));
}

void AddFlowEvent(unsigned int flow_flag, unsigned long long id) {
  trace_event::TraceEventArgs args;
  args.phase = TRACE_EVENT_PHASE_INSTANT;
  args.id = id;
  args.bind_id = id;
  args.flags = TRACE_EVENT_FLAG_HAS_ID | flow_flag;
  trace_event::ScopedTraceEvent(trace_event::TaskFlowCategoryState(),
                                kPostTaskEventName, args);
}

}  // namespace

// A SequencedTaskRunner over one token of a pool.
class SequencedWorkerPool::PoolSequencedTaskRunner
    : public SequencedTaskRunner {
 public:
  PoolSequencedTaskRunner(scoped_refptr<SequencedWorkerPool> pool,
                          SequenceToken token,
                          WorkerShutdown shutdown_behavior)
      : pool_(std::move(pool)),
        token_(token),
        shutdown_behavior_(shutdown_behavior) {}

  bool PostDelayedTask(const Location& from_here,
                       OnceClosure task,
                       TimeDelta delay) override {
    if (delay.is_zero()) {
      return pool_->PostSequencedWorkerTaskWithShutdownBehavior(
          token_, from_here, std::move(task), shutdown_behavior_);
    }
    return pool_->PostDelayedSequencedWorkerTask(token_, from_here,
                                                 std::move(task), delay);
  }

  bool RunsTasksInCurrentSequence() const override {
    return pool_->IsRunningSequenceOnCurrentThread(token_);
  }

  bool PostNonNestableDelayedTask(const Location& from_here,
                                  OnceClosure task,
                                  TimeDelta delay) override {
    // Pool tasks never nest.
    return PostDelayedTask(from_here, std::move(task), delay);
  }

 private:
  ~PoolSequencedTaskRunner() override = default;

  const scoped_refptr<SequencedWorkerPool> pool_;
  const SequenceToken token_;
  const WorkerShutdown shutdown_behavior_;

  DISALLOW_COPY_AND_ASSIGN(PoolSequencedTaskRunner);
};

class SequencedWorkerPool::Worker : public SimpleThread {
 public:
  Worker(scoped_refptr<SequencedWorkerPool> worker_pool,
         int thread_number,
         const std::string& thread_name_prefix)
      : SimpleThread(thread_name_prefix +
                     StringPrintf("Worker%d", thread_number)),
        worker_pool_(std::move(worker_pool)) {}
  ~Worker() override = default;

  void Run() override;

  static Worker* GetForCurrentThread() {
    // Asking must not create the slot on threads that never were workers.
    if (!g_worker_slot.IsCreated())
      return nullptr;
    return static_cast<Worker*>(g_worker_slot.Get().Get());
  }

  void set_running_task_info(int token_id, WorkerShutdown shutdown_behavior) {
    task_sequence_token_id_ = token_id;
    task_shutdown_behavior_ = shutdown_behavior;
  }
  int task_sequence_token_id() const { return task_sequence_token_id_; }
  WorkerShutdown task_shutdown_behavior() const {
    return task_shutdown_behavior_;
  }
  void set_is_processing_task(bool processing) {
    is_processing_task_ = processing;
  }
  bool is_processing_task() const { return is_processing_task_; }

  SequencedWorkerPool* worker_pool() const { return worker_pool_.get(); }

 private:
  scoped_refptr<SequencedWorkerPool> worker_pool_;
  int task_sequence_token_id_ = 0;
  WorkerShutdown task_shutdown_behavior_ = BLOCK_SHUTDOWN;
  bool is_processing_task_ = false;

  DISALLOW_COPY_AND_ASSIGN(Worker);
};

class SequencedWorkerPool::Inner {
 public:
  Inner(SequencedWorkerPool* worker_pool,
        size_t max_threads,
        const std::string& thread_name_prefix)
      : worker_pool_(worker_pool),
        has_work_cv_(&lock_),
        can_shutdown_cv_(&lock_),
        max_threads_(max_threads),
        thread_name_prefix_(thread_name_prefix) {}

  ~Inner() {
    // Workers only end once shutdown lets them; the pool cannot die before
    // that while they hold it.
    for (auto& entry : workers_)
      entry.second->Join();
    workers_.clear();
  }

  SequenceToken GetNamedSequenceToken(const std::string& name) {
    AutoLock lock(lock_);
    return SequenceToken(LockedGetNamedTokenID(name));
  }

  bool PostTask(const std::string* optional_token_name,
                SequenceToken token,
                WorkerShutdown shutdown_behavior,
                const Location& from_here,
                OnceClosure task,
                TimeDelta delay);

  bool RunsTasksOnCurrentThread() const {
    AutoLock lock(lock_);
    return workers_.count(PlatformThread::CurrentId()) != 0;
  }

  bool IsRunningSequenceOnCurrentThread(SequenceToken token) const {
    AutoLock lock(lock_);
    auto found = workers_.find(PlatformThread::CurrentId());
    if (found == workers_.end())
      return false;
    return found->second->is_processing_task() &&
           found->second->task_sequence_token_id() == token.id_;
  }

  void Shutdown(int max_new_blocking_tasks_after_shutdown);

  bool IsShutdownInProgress() {
    AutoLock lock(lock_);
    return shutdown_called_;
  }

  size_t NumberOfWorkers() const {
    AutoLock lock(lock_);
    return workers_.size();
  }

  size_t NumberOfWaitingWorkers() const {
    AutoLock lock(lock_);
    return waiting_thread_count_;
  }

  // The body of every worker thread.
  void ThreadLoop(Worker* this_worker);

 private:
  enum GetWorkStatus { GET_WORK_FOUND, GET_WORK_NOT_FOUND, GET_WORK_WAIT };

  int LockedGetNamedTokenID(const std::string& name) {
    auto found = named_sequence_tokens_.find(name);
    if (found != named_sequence_tokens_.end())
      return found->second;
    int id = NextSequenceTokenId();
    named_sequence_tokens_.emplace(name, id);
    return id;
  }

  bool IsSequenceTokenRunnable(int sequence_token_id) const {
    return sequence_token_id == 0 ||
           current_sequences_.count(sequence_token_id) == 0;
  }

  GetWorkStatus GetWork(SequencedTask* task,
                        TimeDelta* wait_time,
                        std::vector<SequencedTask>* delete_these_outside_lock);

  // Under the lock: a number for a new worker when one would help, else 0.
  // A non-zero answer must be followed by FinishStartingAdditionalThread.
  int PrepareToStartAdditionalThreadIfHelpful();
  // Without the lock.
  void FinishStartingAdditionalThread(int thread_number);

  void DidRunWorkerTask(const SequencedTask& task);

  bool CanShutdown() const {
    return !thread_being_created_ && blocking_shutdown_thread_count_ == 0 &&
           blocking_shutdown_pending_task_count_ == 0;
  }

  static void DeleteWithoutLock(std::vector<SequencedTask>* tasks,
                                Worker* this_worker);

  SequencedWorkerPool* const worker_pool_;

  mutable Lock lock_;
  ConditionVariable has_work_cv_;
  ConditionVariable can_shutdown_cv_;

  const size_t max_threads_;
  const std::string thread_name_prefix_;

  std::map<std::string, int> named_sequence_tokens_;
  std::map<PlatformThreadId, std::unique_ptr<Worker>> workers_;
  bool thread_being_created_ = false;
  size_t waiting_thread_count_ = 0;
  size_t blocking_shutdown_thread_count_ = 0;

  std::multiset<SequencedTask, SequencedTaskLessThan> pending_tasks_;
  int64_t next_sequence_task_number_ = 0;
  size_t blocking_shutdown_pending_task_count_ = 0;
  std::unordered_set<int> current_sequences_;
  int next_trace_id_ = 0;

  bool shutdown_called_ = false;
  int max_blocking_tasks_after_shutdown_ = 0;

  DISALLOW_COPY_AND_ASSIGN(Inner);
};

void SequencedWorkerPool::Worker::Run() {
  win::ScopedCOMInitializer com_initializer;
  g_worker_slot.Get().Set(this);

  // The pool outlives the loop: this worker holds a reference until then.
  worker_pool_->inner_->ThreadLoop(this);

  // The last reference may go here; the pool then deletes itself on its
  // constructing sequence, because deleting joins this very thread.
  worker_pool_ = nullptr;
}

bool SequencedWorkerPool::Inner::PostTask(
    const std::string* optional_token_name,
    SequenceToken token,
    WorkerShutdown shutdown_behavior,
    const Location& from_here,
    OnceClosure task,
    TimeDelta delay) {
  DCHECK(!task.is_null());
  // Delayed tasks must not hold shutdown up: they may never come due.
  DCHECK(delay.is_zero() || shutdown_behavior == SKIP_ON_SHUTDOWN);

  SequencedTask sequenced;
  sequenced.sequence_token_id = token.id_;
  sequenced.shutdown_behavior = shutdown_behavior;
  sequenced.posted_from = from_here;
  sequenced.task = std::move(task);
  sequenced.time_to_run = TimeTicks::Now() + delay;

  int create_thread_id = 0;
  {
    AutoLock lock(lock_);
    if (shutdown_called_) {
      bool refused = shutdown_behavior != BLOCK_SHUTDOWN;
      auto found = workers_.find(PlatformThread::CurrentId());
      if (found != workers_.end() && found->second->is_processing_task() &&
          found->second->task_shutdown_behavior() != BLOCK_SHUTDOWN) {
        refused = true;
      }
      if (max_blocking_tasks_after_shutdown_ <= 0)
        refused = true;
      if (refused) {
        // The closure must not die under the lock: its bound state may post.
        AutoUnlock unlock(lock_);
        sequenced.task = OnceClosure();
        return false;
      }
      --max_blocking_tasks_after_shutdown_;
    }

    sequenced.trace_id = next_trace_id_++;
    AddFlowEvent(TRACE_EVENT_FLAG_FLOW_OUT, FlowId(sequenced.trace_id, this));
    sequenced.sequence_task_number = next_sequence_task_number_++;
    if (optional_token_name)
      sequenced.sequence_token_id = LockedGetNamedTokenID(*optional_token_name);

    if (shutdown_behavior == BLOCK_SHUTDOWN)
      ++blocking_shutdown_pending_task_count_;
    pending_tasks_.insert(std::move(sequenced));

    create_thread_id = PrepareToStartAdditionalThreadIfHelpful();
  }

  if (create_thread_id)
    FinishStartingAdditionalThread(create_thread_id);
  else
    has_work_cv_.Signal();
  return true;
}

void SequencedWorkerPool::Inner::Shutdown(
    int max_new_blocking_tasks_after_shutdown) {
  {
    AutoLock lock(lock_);
    if (shutdown_called_)
      return;
    shutdown_called_ = true;
    max_blocking_tasks_after_shutdown_ = max_new_blocking_tasks_after_shutdown;
    has_work_cv_.Signal();
    if (CanShutdown())
      return;
  }

  TimeTicks shutdown_wait_begin = TimeTicks::Now();
  {
    AutoLock lock(lock_);
    while (!CanShutdown())
      can_shutdown_cv_.Wait();
  }
  Histogram::FactoryTimeGetByCString(
      "SequencedWorkerPool.ShutdownDelayTime", TimeDelta::FromMilliseconds(1),
      TimeDelta::FromSeconds(10), 50, HistogramBase::kUmaTargetedHistogramFlag)
      ->AddTime(TimeTicks::Now() - shutdown_wait_begin);
}

void SequencedWorkerPool::Inner::ThreadLoop(Worker* this_worker) {
  static const unsigned char* const toplevel_category =
      trace_event::TraceLog::GetCategoryGroupEnabled("toplevel");

  AutoLock lock(lock_);
  DCHECK(thread_being_created_);
  thread_being_created_ = false;
  workers_[this_worker->tid()] = std::unique_ptr<Worker>(this_worker);

  while (true) {
    SequencedTask task;
    TimeDelta wait_time;
    std::vector<SequencedTask> delete_these_outside_lock;
    GetWorkStatus status =
        GetWork(&task, &wait_time, &delete_these_outside_lock);

    if (status == GET_WORK_FOUND) {
      if (task.sequence_token_id)
        current_sequences_.insert(task.sequence_token_id);
      if (task.shutdown_behavior != CONTINUE_ON_SHUTDOWN)
        ++blocking_shutdown_thread_count_;
      int new_thread_id = PrepareToStartAdditionalThreadIfHelpful();
      {
        AutoUnlock unlock(lock_);
        // Another worker may find work behind this one's.
        has_work_cv_.Signal();
        DeleteWithoutLock(&delete_these_outside_lock, this_worker);
        if (new_thread_id)
          FinishStartingAdditionalThread(new_thread_id);

        this_worker->set_running_task_info(task.sequence_token_id,
                                           task.shutdown_behavior);
        this_worker->set_is_processing_task(true);

        AddFlowEvent(TRACE_EVENT_FLAG_FLOW_IN, FlowId(task.trace_id, this));
        {
          trace_event::ScopedTaskRunTrace trace(
              toplevel_category, kThreadLoopEventName, task.posted_from);
          std::move(task.task).Run();
          // Whatever the closure's bound state owns goes now, still inside
          // the task's sequence.
          task.task = OnceClosure();
        }
        this_worker->set_is_processing_task(false);
      }
      DidRunWorkerTask(task);
      continue;
    }

    if (shutdown_called_ && blocking_shutdown_pending_task_count_ == 0) {
      AutoUnlock unlock(lock_);
      DeleteWithoutLock(&delete_these_outside_lock, this_worker);
      break;
    }

    if (!delete_these_outside_lock.empty()) {
      AutoUnlock unlock(lock_);
      DeleteWithoutLock(&delete_these_outside_lock, this_worker);
      continue;
    }

    ++waiting_thread_count_;
    if (status == GET_WORK_WAIT)
      has_work_cv_.TimedWait(wait_time);
    else
      has_work_cv_.Wait();
    --waiting_thread_count_;
  }

  // Wake the next worker so that it can leave too, and Shutdown().
  has_work_cv_.Signal();
  can_shutdown_cv_.Signal();
}

SequencedWorkerPool::Inner::GetWorkStatus SequencedWorkerPool::Inner::GetWork(
    SequencedTask* task,
    TimeDelta* wait_time,
    std::vector<SequencedTask>* delete_these_outside_lock) {
  const TimeTicks now = TimeTicks::Now();
  auto it = pending_tasks_.begin();
  while (it != pending_tasks_.end()) {
    if (!IsSequenceTokenRunnable(it->sequence_token_id)) {
      ++it;
      continue;
    }
    if (shutdown_called_ && it->shutdown_behavior != BLOCK_SHUTDOWN) {
      delete_these_outside_lock->push_back(TakeTask(*it));
      it = pending_tasks_.erase(it);
      continue;
    }
    if (it->time_to_run > now) {
      *wait_time = it->time_to_run - now;
      return GET_WORK_WAIT;
    }
    *task = TakeTask(*it);
    if (task->shutdown_behavior == BLOCK_SHUTDOWN)
      --blocking_shutdown_pending_task_count_;
    pending_tasks_.erase(it);
    return GET_WORK_FOUND;
  }
  return GET_WORK_NOT_FOUND;
}

int SequencedWorkerPool::Inner::PrepareToStartAdditionalThreadIfHelpful() {
  if (shutdown_called_ || thread_being_created_ ||
      workers_.size() >= max_threads_ || waiting_thread_count_ != 0) {
    return 0;
  }
  for (const SequencedTask& pending : pending_tasks_) {
    if (IsSequenceTokenRunnable(pending.sequence_token_id)) {
      thread_being_created_ = true;
      return static_cast<int>(workers_.size() + 1);
    }
  }
  return 0;
}

void SequencedWorkerPool::Inner::FinishStartingAdditionalThread(
    int thread_number) {
  // The new thread enters itself into |workers_|, which then owns it.
  Worker* worker = new Worker(scoped_refptr<SequencedWorkerPool>(worker_pool_),
                              thread_number, thread_name_prefix_);
  worker->Start();
  if (worker->HasBeenStarted())
    return;
  // No thread: the tasks wait for the next worker, or for one that exists.
  {
    AutoLock lock(lock_);
    thread_being_created_ = false;
  }
  can_shutdown_cv_.Signal();
  delete worker;
}

void SequencedWorkerPool::Inner::DidRunWorkerTask(const SequencedTask& task) {
  if (task.shutdown_behavior != CONTINUE_ON_SHUTDOWN)
    --blocking_shutdown_thread_count_;
  if (task.sequence_token_id)
    current_sequences_.erase(task.sequence_token_id);
  if (shutdown_called_)
    can_shutdown_cv_.Signal();
}

// static
void SequencedWorkerPool::Inner::DeleteWithoutLock(
    std::vector<SequencedTask>* tasks, Worker* this_worker) {
  while (!tasks->empty()) {
    SequencedTask& task = tasks->back();
    this_worker->set_running_task_info(task.sequence_token_id,
                                       task.shutdown_behavior);
    this_worker->set_is_processing_task(true);
    task.task = OnceClosure();
    this_worker->set_is_processing_task(false);
    tasks->pop_back();
  }
}

// static
SequencedWorkerPool::SequenceToken
SequencedWorkerPool::GetSequenceTokenForCurrentThread() {
  Worker* worker = Worker::GetForCurrentThread();
  if (!worker)
    return SequenceToken();
  return SequenceToken(worker->task_sequence_token_id());
}

// static
scoped_refptr<SequencedWorkerPool>
SequencedWorkerPool::GetWorkerPoolForCurrentThread() {
  Worker* worker = Worker::GetForCurrentThread();
  if (!worker)
    return nullptr;
  return scoped_refptr<SequencedWorkerPool>(worker->worker_pool());
}

SequencedWorkerPool::SequencedWorkerPool(size_t max_threads,
                                         const std::string& thread_name_prefix)
    : SequencedWorkerPool(
          max_threads, thread_name_prefix, TaskPriority::USER_VISIBLE) {}

SequencedWorkerPool::SequencedWorkerPool(size_t max_threads,
                                         const std::string& thread_name_prefix,
                                         TaskPriority priority)
    : constructor_task_runner_(SequencedTaskRunnerHandle::Get()),
      inner_(new Inner(this, max_threads, thread_name_prefix)),
      priority_(priority) {}

SequencedWorkerPool::~SequencedWorkerPool() = default;

// static
void SequencedWorkerPool::DeletePool(const SequencedWorkerPool* pool) {
  delete pool;
}

void SequencedWorkerPool::OnDestruct() const {
  if (inner_->RunsTasksOnCurrentThread()) {
    // Deleting joins the workers, this one included.
    constructor_task_runner_->PostTask(
        FROM_HERE,
        BindOnce(&SequencedWorkerPool::DeletePool, Unretained(this)));
    return;
  }
  delete this;
}

SequencedWorkerPool::SequenceToken SequencedWorkerPool::GetSequenceToken() {
  return SequenceToken(NextSequenceTokenId());
}

SequencedWorkerPool::SequenceToken SequencedWorkerPool::GetNamedSequenceToken(
    const std::string& name) {
  return inner_->GetNamedSequenceToken(name);
}

scoped_refptr<SequencedTaskRunner> SequencedWorkerPool::GetSequencedTaskRunner(
    SequenceToken token) {
  return GetSequencedTaskRunnerWithShutdownBehavior(token, BLOCK_SHUTDOWN);
}

scoped_refptr<SequencedTaskRunner>
SequencedWorkerPool::GetSequencedTaskRunnerWithShutdownBehavior(
    SequenceToken token, WorkerShutdown shutdown_behavior) {
  return scoped_refptr<SequencedTaskRunner>(new PoolSequencedTaskRunner(
      scoped_refptr<SequencedWorkerPool>(this), token, shutdown_behavior));
}

bool SequencedWorkerPool::PostWorkerTask(const Location& from_here,
                                         OnceClosure task) {
  return inner_->PostTask(nullptr, SequenceToken(), BLOCK_SHUTDOWN, from_here,
                          std::move(task), TimeDelta());
}

bool SequencedWorkerPool::PostWorkerTaskWithShutdownBehavior(
    const Location& from_here,
    OnceClosure task,
    WorkerShutdown shutdown_behavior) {
  return inner_->PostTask(nullptr, SequenceToken(), shutdown_behavior,
                          from_here, std::move(task), TimeDelta());
}

bool SequencedWorkerPool::PostSequencedWorkerTask(SequenceToken token,
                                                  const Location& from_here,
                                                  OnceClosure task) {
  return inner_->PostTask(nullptr, token, BLOCK_SHUTDOWN, from_here,
                          std::move(task), TimeDelta());
}

bool SequencedWorkerPool::PostNamedSequencedWorkerTask(
    const std::string& token_name,
    const Location& from_here,
    OnceClosure task) {
  return inner_->PostTask(&token_name, SequenceToken(), BLOCK_SHUTDOWN,
                          from_here, std::move(task), TimeDelta());
}

bool SequencedWorkerPool::PostDelayedSequencedWorkerTask(
    SequenceToken token,
    const Location& from_here,
    OnceClosure task,
    TimeDelta delay) {
  WorkerShutdown shutdown_behavior =
      delay.is_zero() ? BLOCK_SHUTDOWN : SKIP_ON_SHUTDOWN;
  return inner_->PostTask(nullptr, token, shutdown_behavior, from_here,
                          std::move(task), delay);
}

bool SequencedWorkerPool::PostSequencedWorkerTaskWithShutdownBehavior(
    SequenceToken token,
    const Location& from_here,
    OnceClosure task,
    WorkerShutdown shutdown_behavior) {
  return inner_->PostTask(nullptr, token, shutdown_behavior, from_here,
                          std::move(task), TimeDelta());
}

bool SequencedWorkerPool::PostDelayedTask(const Location& from_here,
                                          OnceClosure task,
                                          TimeDelta delay) {
  WorkerShutdown shutdown_behavior =
      delay.is_zero() ? BLOCK_SHUTDOWN : SKIP_ON_SHUTDOWN;
  return inner_->PostTask(nullptr, SequenceToken(), shutdown_behavior,
                          from_here, std::move(task), delay);
}

bool SequencedWorkerPool::RunsTasksInCurrentSequence() const {
  return inner_->RunsTasksOnCurrentThread();
}

bool SequencedWorkerPool::IsRunningSequenceOnCurrentThread(
    SequenceToken token) const {
  return inner_->IsRunningSequenceOnCurrentThread(token);
}

void SequencedWorkerPool::Shutdown(int max_new_blocking_tasks_after_shutdown) {
  inner_->Shutdown(max_new_blocking_tasks_after_shutdown);
}

bool SequencedWorkerPool::IsShutdownInProgress() {
  return inner_->IsShutdownInProgress();
}

size_t SequencedWorkerPool::NumberOfWorkersForTesting() const {
  return inner_->NumberOfWorkers();
}

size_t SequencedWorkerPool::NumberOfWaitingWorkersForTesting() const {
  return inner_->NumberOfWaitingWorkers();
}

}  // namespace base
