#include "base/task_scheduler/scheduler_worker_pool_impl.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "base/bind.h"
#include "base/check.h"
#include "base/location.h"
#include "base/metrics/histogram.h"
#include "base/metrics/histogram_base.h"
#include "base/strings/stringprintf.h"
#include "base/task_scheduler/delayed_task_manager.h"
#include "base/task_scheduler/task_tracker.h"
#include "base/threading/scoped_blocking_call.h"
#include "base/win/scoped_com_initializer.h"
#include "base/win/scoped_winrt_initializer.h"
#include "base/win/windows_version.h"

namespace base {
namespace internal {

constexpr size_t SchedulerWorkerPoolImpl::kMaxNumberOfWorkers;
constexpr TimeDelta SchedulerWorkerPoolImpl::kMayBlockThreshold;
constexpr TimeDelta SchedulerWorkerPoolImpl::kBlockedWorkersPollPeriod;

namespace {

constexpr char kDetachDurationHistogramPrefix[] =
    "TaskScheduler.DetachDuration.";
constexpr char kNumTasksBeforeDetachHistogramPrefix[] =
    "TaskScheduler.NumTasksBeforeDetach.";
constexpr char kNumTasksBetweenWaitsHistogramPrefix[] =
    "TaskScheduler.NumTasksBetweenWaits.";
constexpr char kPoolNameSuffix[] = "Pool";

std::string HistogramName(const char* prefix, StringPiece label) {
  std::string name(prefix);
  name.append(label.data(), label.size());
  name.append(kPoolNameSuffix);
  return name;
}

}  // namespace

class SchedulerWorkerPoolImpl::SchedulerWorkerDelegateImpl
    : public SchedulerWorker::Delegate,
      public BlockingObserver {
 public:
  explicit SchedulerWorkerDelegateImpl(SchedulerWorkerPoolImpl* outer)
      : outer_(outer) {}
  ~SchedulerWorkerDelegateImpl() override = default;

  // SchedulerWorker::Delegate:
  void OnCanScheduleSequence(scoped_refptr<Sequence> sequence) override {
    // A background sequence that was held back may run now.
    outer_->OnCanScheduleSequence(std::move(sequence));
  }

  void OnMainEntry(SchedulerWorker* worker) override {
    if (outer_->worker_environment_ == WorkerEnvironment::COM_MTA) {
      if (win::GetVersion() >= win::WIN8) {
        winrt_initializer_ = std::make_unique<win::ScopedWinrtInitializer>();
      } else {
        com_initializer_ = std::make_unique<win::ScopedCOMInitializer>(
            win::ScopedCOMInitializer::kMTA);
      }
    }
    PlatformThread::SetName(
        StringPrintf("TaskScheduler%sWorker", outer_->pool_label_.c_str()));
    outer_->BindToCurrentThread();
    SetBlockingObserverForCurrentThread(this);
  }

  scoped_refptr<Sequence> GetWork(SchedulerWorker* worker) override {
    {
      AutoLock auto_lock(outer_->lock_);
      if (is_on_idle_workers_stack_) {
        // The wait timed out: nobody woke this worker.
        if (outer_->idle_workers_stack_.Peek() != worker &&
            !outer_->worker_cleanup_disallowed_.load()) {
          DetachLockRequired(worker);
        }
        outer_->num_tasks_between_waits_histogram_->Add(
            static_cast<HistogramBase::Sample>(num_tasks_since_last_wait_));
        return nullptr;
      }
      if (outer_->NumberOfExcessWorkersLockRequired() >
          outer_->idle_workers_stack_.Size()) {
        OnWorkerBecomesIdleLockRequired(worker);
        return nullptr;
      }
    }

    std::unique_ptr<PriorityQueue::Transaction> transaction =
        outer_->shared_priority_queue_.BeginTransaction();
    if (transaction->IsEmpty()) {
      // Still holding the transaction: a sequence pushed from now on finds
      // this worker on the idle stack.
      AutoLock auto_lock(outer_->lock_);
      OnWorkerBecomesIdleLockRequired(worker);
      return nullptr;
    }
    is_running_task_ = true;
    return transaction->PopSequence();
  }

  void DidRunTask() override {
    is_running_task_ = false;
    ++num_tasks_since_last_wait_;
    ++num_tasks_since_last_detach_;
  }

  void ReEnqueueSequence(scoped_refptr<Sequence> sequence) override {
    // The calling worker asks for work next: nobody needs waking.
    const SequenceSortKey sort_key = sequence->GetSortKey();
    outer_->shared_priority_queue_.BeginTransaction()->Push(std::move(sequence),
                                                            sort_key);
  }

  TimeDelta GetSleepTimeout() override {
    return outer_->suggested_reclaim_time_;
  }

  void OnMainExit(SchedulerWorker* worker) override {
    SetBlockingObserverForCurrentThread(nullptr);
    outer_->UnbindFromCurrentThread();
    winrt_initializer_.reset();
    com_initializer_.reset();
  }

  // BlockingObserver:
  void BlockingStarted(BlockingType blocking_type) override {
    // Waits outside tasks (e.g. for work) do not count.
    if (!is_running_task_)
      return;
    if (blocking_type == BlockingType::MAY_BLOCK)
      MayBlockEntered();
    else
      WillBlockEntered();
  }

  void BlockingTypeUpgraded() override {
    {
      AutoLock auto_lock(outer_->lock_);
      if (incremented_worker_capacity_since_blocked_)
        return;
      if (!may_block_start_time_.is_null()) {
        may_block_start_time_ = TimeTicks();
        --outer_->num_pending_may_block_workers_;
      }
    }
    WillBlockEntered();
  }

  void BlockingEnded() override {
    if (!is_running_task_)
      return;
    AutoLock auto_lock(outer_->lock_);
    if (incremented_worker_capacity_since_blocked_)
      --outer_->worker_capacity_;
    else
      --outer_->num_pending_may_block_workers_;
    incremented_worker_capacity_since_blocked_ = false;
    may_block_start_time_ = TimeTicks();
  }

  // Under the pool's lock: raises the capacity when the may-block scope has
  // been open long enough. Returns whether it did.
  bool MaybeIncrementWorkerCapacityLockRequired(TimeTicks now) {
    if (incremented_worker_capacity_since_blocked_ ||
        may_block_start_time_.is_null() ||
        now - may_block_start_time_ < kMayBlockThreshold) {
      return false;
    }
    incremented_worker_capacity_since_blocked_ = true;
    may_block_start_time_ = TimeTicks();
    --outer_->num_pending_may_block_workers_;
    ++outer_->worker_capacity_;
    return true;
  }

  // Guarded by the pool's lock.
  bool is_on_idle_workers_stack_ = true;

 private:
  void MayBlockEntered() {
    AutoLock auto_lock(outer_->lock_);
    DCHECK(!incremented_worker_capacity_since_blocked_);
    DCHECK(may_block_start_time_.is_null());
    may_block_start_time_ = TimeTicks::Now();
    ++outer_->num_pending_may_block_workers_;
    outer_->PostAdjustWorkerCapacityTaskIfNeededLockRequired();
  }

  void WillBlockEntered() {
    std::unique_ptr<PriorityQueue::Transaction> transaction =
        outer_->shared_priority_queue_.BeginTransaction();
    AutoLock auto_lock(outer_->lock_);
    DCHECK(!incremented_worker_capacity_since_blocked_);
    incremented_worker_capacity_since_blocked_ = true;
    ++outer_->worker_capacity_;
    if (outer_->workers_.size() + 1 >= outer_->worker_capacity_) {
      if (transaction->IsEmpty())
        outer_->MaintainAtLeastOneIdleWorkerLockRequired();
      else
        outer_->WakeUpOneWorkerLockRequired();
    }
  }

  void OnWorkerBecomesIdleLockRequired(SchedulerWorker* worker) {
    outer_->num_tasks_between_waits_histogram_->Add(
        static_cast<HistogramBase::Sample>(num_tasks_since_last_wait_));
    num_tasks_since_last_wait_ = 0;
    outer_->AddToIdleWorkersStackLockRequired(worker);
  }

  void DetachLockRequired(SchedulerWorker* worker) {
    outer_->num_tasks_before_detach_histogram_->Add(
        static_cast<HistogramBase::Sample>(num_tasks_since_last_detach_));
    outer_->cleanup_timestamps_.push_back(TimeTicks::Now());
    worker->Cleanup();
    outer_->RemoveFromIdleWorkersStackLockRequired(worker);
    // The worker's own thread keeps it alive until it ends.
    auto it =
        std::find_if(outer_->workers_.begin(), outer_->workers_.end(),
                     [worker](const scoped_refptr<SchedulerWorker>& candidate) {
                       return candidate.get() == worker;
                     });
    DCHECK(it != outer_->workers_.end());
    // Letting go of a worker whose thread has left takes no lock.
    auto& cleaned_up = outer_->workers_cleaned_up_;
    cleaned_up.erase(
        std::remove_if(cleaned_up.begin(), cleaned_up.end(),
                       [](const scoped_refptr<SchedulerWorker>& candidate) {
                         return candidate->HasThreadLeft();
                       }),
        cleaned_up.end());
    cleaned_up.push_back(std::move(*it));
    outer_->workers_.erase(it);
    ++outer_->num_workers_detached_;
    outer_->workers_changed_cv_.Broadcast();
  }

  SchedulerWorkerPoolImpl* const outer_;

  // Touched only by the worker's own thread.
  size_t num_tasks_since_last_wait_ = 0;
  size_t num_tasks_since_last_detach_ = 0;
  bool is_running_task_ = false;

  // Guarded by the pool's lock.
  bool incremented_worker_capacity_since_blocked_ = false;
  TimeTicks may_block_start_time_;

  std::unique_ptr<win::ScopedWinrtInitializer> winrt_initializer_;
  std::unique_ptr<win::ScopedCOMInitializer> com_initializer_;

  DISALLOW_COPY_AND_ASSIGN(SchedulerWorkerDelegateImpl);
};

SchedulerWorkerPoolImpl::SchedulerWorkerPoolImpl(
    StringPiece histogram_label,
    StringPiece pool_label,
    ThreadPriority priority_hint,
    TaskTracker* task_tracker,
    DelayedTaskManager* delayed_task_manager)
    : SchedulerWorkerPool(task_tracker, delayed_task_manager),
      pool_label_(pool_label.as_string()),
      priority_hint_(priority_hint),
      workers_changed_cv_(&lock_),
      detach_duration_histogram_(Histogram::FactoryTimeGet(
          HistogramName(kDetachDurationHistogramPrefix, histogram_label),
          TimeDelta::FromMilliseconds(1),
          TimeDelta::FromHours(1),
          50,
          HistogramBase::kUmaTargetedHistogramFlag)),
      num_tasks_before_detach_histogram_(Histogram::FactoryGet(
          HistogramName(kNumTasksBeforeDetachHistogramPrefix, histogram_label),
          1,
          1000,
          50,
          HistogramBase::kUmaTargetedHistogramFlag)),
      num_tasks_between_waits_histogram_(Histogram::FactoryGet(
          HistogramName(kNumTasksBetweenWaitsHistogramPrefix, histogram_label),
          1,
          100,
          50,
          HistogramBase::kUmaTargetedHistogramFlag)) {
  CHECK(detach_duration_histogram_);
  CHECK(num_tasks_before_detach_histogram_);
  CHECK(num_tasks_between_waits_histogram_);
}

SchedulerWorkerPoolImpl::~SchedulerWorkerPoolImpl() = default;

void SchedulerWorkerPoolImpl::Start(
    const SchedulerWorkerPoolParams& params,
    scoped_refptr<TaskRunner> service_thread_task_runner,
    WorkerEnvironment worker_environment) {
  AutoLock auto_lock(lock_);
  DCHECK(workers_.empty());

  worker_capacity_ =
      static_cast<size_t>(static_cast<int64_t>(params.max_threads()));
  initial_worker_capacity_ = worker_capacity_;
  suggested_reclaim_time_ = params.suggested_reclaim_time();
  backward_compatibility_ = params.backward_compatibility();
  worker_environment_ = worker_environment;
  service_thread_task_runner_ = std::move(service_thread_task_runner);

  // One worker per wake-up asked for so far, plus one idle worker.
  const size_t num_workers_to_create = std::min(
      static_cast<size_t>(num_wake_ups_before_start_) + 1, worker_capacity_);
  workers_.reserve(num_workers_to_create);
  for (size_t index = 0; index < num_workers_to_create; ++index) {
    scoped_refptr<SchedulerWorker> worker =
        CreateRegisterAndStartSchedulerWorkerLockRequired();
    // Without even one worker the pool could never run anything.
    if (index == 0)
      CHECK(worker);
    if (!worker)
      break;
    if (index < static_cast<size_t>(num_wake_ups_before_start_)) {
      DelegateOf(worker.get())->is_on_idle_workers_stack_ = false;
      worker->WakeUp();
    } else {
      AddToIdleWorkersStackLockRequired(worker.get());
    }
  }
}

void SchedulerWorkerPoolImpl::OnCanScheduleSequence(
    scoped_refptr<Sequence> sequence) {
  const SequenceSortKey sort_key = sequence->GetSortKey();
  shared_priority_queue_.BeginTransaction()->Push(std::move(sequence),
                                                  sort_key);
  AutoLock auto_lock(lock_);
  WakeUpOneWorkerLockRequired();
}

void SchedulerWorkerPoolImpl::GetHistograms(
    std::vector<const HistogramBase*>* histograms) const {
  histograms->push_back(detach_duration_histogram_);
  histograms->push_back(num_tasks_between_waits_histogram_);
}

int32_t SchedulerWorkerPoolImpl::GetMaxConcurrentTasks() const {
  AutoLock auto_lock(lock_);
  return static_cast<int32_t>(initial_worker_capacity_);
}

void SchedulerWorkerPoolImpl::DisallowWorkerCleanup() {
  worker_cleanup_disallowed_.store(true);
}

void SchedulerWorkerPoolImpl::Join() {
  DCHECK(worker_cleanup_disallowed_.load());
  std::vector<scoped_refptr<SchedulerWorker>> workers_copy;
  {
    AutoLock auto_lock(lock_);
    workers_copy = workers_;
    // Detached workers whose threads may still be finishing.
    workers_copy.insert(workers_copy.end(), workers_cleaned_up_.begin(),
                        workers_cleaned_up_.end());
  }
  for (const scoped_refptr<SchedulerWorker>& worker : workers_copy)
    worker->Join();
}

size_t SchedulerWorkerPoolImpl::NumberOfWorkersForTesting() const {
  AutoLock auto_lock(lock_);
  return workers_.size();
}

size_t SchedulerWorkerPoolImpl::NumberOfIdleWorkersForTesting() const {
  AutoLock auto_lock(lock_);
  return idle_workers_stack_.Size();
}

size_t SchedulerWorkerPoolImpl::GetWorkerCapacityForTesting() const {
  AutoLock auto_lock(lock_);
  return worker_capacity_;
}

void SchedulerWorkerPoolImpl::AdjustWorkerCapacityForTesting() {
  AdjustWorkerCapacity();
}

void SchedulerWorkerPoolImpl::WaitForWorkersIdleForTesting(size_t n) {
  AutoLock auto_lock(lock_);
  while (idle_workers_stack_.Size() < n)
    workers_changed_cv_.Wait();
}

void SchedulerWorkerPoolImpl::WaitForWorkersDetachedForTesting(size_t n) {
  AutoLock auto_lock(lock_);
  while (num_workers_detached_ < n)
    workers_changed_cv_.Wait();
}

// static
SchedulerWorkerPoolImpl::SchedulerWorkerDelegateImpl*
SchedulerWorkerPoolImpl::DelegateOf(SchedulerWorker* worker) {
  return static_cast<SchedulerWorkerDelegateImpl*>(worker->delegate());
}

void SchedulerWorkerPoolImpl::WakeUpOneWorkerLockRequired() {
  if (workers_.empty()) {
    // Not started yet: Start() makes and wakes a worker for this.
    ++num_wake_ups_before_start_;
    return;
  }
  MaintainAtLeastOneIdleWorkerLockRequired();
  if (NumberOfExcessWorkersLockRequired() < idle_workers_stack_.Size()) {
    SchedulerWorker* worker = idle_workers_stack_.Pop();
    DelegateOf(worker)->is_on_idle_workers_stack_ = false;
    worker->WakeUp();
  }
  // Keep a worker ready for the next wake-up, so that it needs no thread
  // creation.
  MaintainAtLeastOneIdleWorkerLockRequired();
  PostAdjustWorkerCapacityTaskIfNeededLockRequired();
}

void SchedulerWorkerPoolImpl::MaintainAtLeastOneIdleWorkerLockRequired() {
  if (!service_thread_task_runner_)
    return;
  if (workers_.size() >= kMaxNumberOfWorkers)
    return;
  if (!idle_workers_stack_.IsEmpty())
    return;
  if (workers_.size() >= worker_capacity_)
    return;
  scoped_refptr<SchedulerWorker> worker =
      CreateRegisterAndStartSchedulerWorkerLockRequired();
  if (worker)
    AddToIdleWorkersStackLockRequired(worker.get());
}

scoped_refptr<SchedulerWorker>
SchedulerWorkerPoolImpl::CreateRegisterAndStartSchedulerWorkerLockRequired() {
  if (workers_.size() >= kMaxNumberOfWorkers)
    return nullptr;
  scoped_refptr<SchedulerWorker> worker = MakeRefCounted<SchedulerWorker>(
      priority_hint_, std::make_unique<SchedulerWorkerDelegateImpl>(this),
      task_tracker_, backward_compatibility_);
  if (!worker->Start())
    return nullptr;
  workers_.push_back(worker);
  if (!cleanup_timestamps_.empty()) {
    detach_duration_histogram_->AddTime(TimeTicks::Now() -
                                        cleanup_timestamps_.back());
    cleanup_timestamps_.pop_back();
  }
  return worker;
}

void SchedulerWorkerPoolImpl::AddToIdleWorkersStackLockRequired(
    SchedulerWorker* worker) {
  idle_workers_stack_.Push(worker);
  DelegateOf(worker)->is_on_idle_workers_stack_ = true;
  workers_changed_cv_.Broadcast();
}

void SchedulerWorkerPoolImpl::RemoveFromIdleWorkersStackLockRequired(
    SchedulerWorker* worker) {
  idle_workers_stack_.Remove(worker);
}

size_t SchedulerWorkerPoolImpl::NumberOfExcessWorkersLockRequired() const {
  return workers_.size() > worker_capacity_ ? workers_.size() - worker_capacity_
                                            : 0;
}

bool SchedulerWorkerPoolImpl::
    ShouldPeriodicallyAdjustWorkerCapacityLockRequired() const {
  const int64_t idle_workers_that_can_run_tasks =
      static_cast<int64_t>(idle_workers_stack_.Size()) -
      static_cast<int64_t>(NumberOfExcessWorkersLockRequired());
  return idle_workers_that_can_run_tasks <= 0 &&
         num_pending_may_block_workers_ >= 1;
}

void SchedulerWorkerPoolImpl::
    PostAdjustWorkerCapacityTaskIfNeededLockRequired() {
  if (polling_worker_capacity_ ||
      !ShouldPeriodicallyAdjustWorkerCapacityLockRequired()) {
    return;
  }
  polling_worker_capacity_ = true;
  PostAdjustWorkerCapacityTaskLockRequired();
}

void SchedulerWorkerPoolImpl::PostAdjustWorkerCapacityTaskLockRequired() {
  if (!service_thread_task_runner_)
    return;
  service_thread_task_runner_->PostDelayedTask(
      Location("PostAdjustWorkerCapacityTaskLockRequired",
               "base/task_scheduler/scheduler_worker_pool_impl", 849, nullptr),
      BindOnce(&SchedulerWorkerPoolImpl::AdjustWorkerCapacityTaskFunction,
               Unretained(this)),
      kBlockedWorkersPollPeriod);
}

void SchedulerWorkerPoolImpl::AdjustWorkerCapacityTaskFunction() {
  AdjustWorkerCapacity();
  AutoLock auto_lock(lock_);
  if (ShouldPeriodicallyAdjustWorkerCapacityLockRequired())
    PostAdjustWorkerCapacityTaskLockRequired();
  else
    polling_worker_capacity_ = false;
}

void SchedulerWorkerPoolImpl::AdjustWorkerCapacity() {
  std::unique_ptr<PriorityQueue::Transaction> transaction =
      shared_priority_queue_.BeginTransaction();
  AutoLock auto_lock(lock_);
  const size_t original_worker_capacity = worker_capacity_;
  const TimeTicks now = TimeTicks::Now();
  for (const scoped_refptr<SchedulerWorker>& worker : workers_)
    DelegateOf(worker.get())->MaybeIncrementWorkerCapacityLockRequired(now);

  const size_t num_wake_ups_needed = std::min(
      transaction->Size(), worker_capacity_ - original_worker_capacity);
  for (size_t i = 0; i < num_wake_ups_needed; ++i)
    WakeUpOneWorkerLockRequired();
  MaintainAtLeastOneIdleWorkerLockRequired();
}

}  // namespace internal
}  // namespace base
