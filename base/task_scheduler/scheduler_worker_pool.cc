#include "base/task_scheduler/scheduler_worker_pool.h"

#include <atomic>
#include <utility>

#include "base/bind.h"
#include "base/check.h"
#include "base/lazy_instance.h"
#include "base/task_scheduler/delayed_task_manager.h"
#include "base/task_scheduler/sequence_token.h"
#include "base/task_scheduler/task_tracker.h"
#include "base/threading/thread_local_storage.h"

namespace base {
namespace internal {

namespace {

std::atomic<int32_t> g_num_live_pools{0};

LazyInstance<ThreadLocalStorage::Slot>::Leaky g_current_pool_slot =
    LAZY_INSTANCE_INITIALIZER;

void PostTaskWithSequenceNowCallback(SchedulerWorkerPool* pool,
                                     scoped_refptr<Sequence> sequence,
                                     Task task) {
  pool->PostTaskWithSequenceNow(std::move(task), std::move(sequence));
}

// Every task gets a sequence of its own, so tasks run in parallel.
class SchedulerParallelTaskRunner : public TaskRunner {
 public:
  SchedulerParallelTaskRunner(const TaskTraits& traits,
                              SchedulerWorkerPool* worker_pool)
      : traits_(traits), worker_pool_(worker_pool) {}

  bool PostDelayedTask(const Location& from_here,
                       OnceClosure closure,
                       TimeDelta delay) override {
    if (!SchedulerWorkerPool::IsAnyPoolAlive())
      return false;
    return worker_pool_->PostTaskWithSequence(
        Task(from_here, std::move(closure), traits_, delay),
        MakeRefCounted<Sequence>());
  }

  bool RunsTasksInCurrentSequence() const override {
    return SchedulerWorkerPool::GetCurrentWorkerPool() == worker_pool_;
  }

 private:
  ~SchedulerParallelTaskRunner() override = default;

  const TaskTraits traits_;
  SchedulerWorkerPool* const worker_pool_;

  DISALLOW_COPY_AND_ASSIGN(SchedulerParallelTaskRunner);
};

// All tasks go into one sequence.
class SchedulerSequencedTaskRunner : public SequencedTaskRunner {
 public:
  SchedulerSequencedTaskRunner(const TaskTraits& traits,
                               SchedulerWorkerPool* worker_pool)
      : sequence_(MakeRefCounted<Sequence>()),
        traits_(traits),
        worker_pool_(worker_pool) {}

  bool PostDelayedTask(const Location& from_here,
                       OnceClosure closure,
                       TimeDelta delay) override {
    if (!SchedulerWorkerPool::IsAnyPoolAlive())
      return false;
    Task task(from_here, std::move(closure), traits_, delay);
    // The task sees this runner as its current sequenced runner.
    task.sequenced_task_runner_ref = this;
    return worker_pool_->PostTaskWithSequence(std::move(task), sequence_);
  }

  bool PostNonNestableDelayedTask(const Location& from_here,
                                  OnceClosure closure,
                                  TimeDelta delay) override {
    // Tasks of the scheduler never run nested.
    return PostDelayedTask(from_here, std::move(closure), delay);
  }

  bool RunsTasksInCurrentSequence() const override {
    return sequence_->token() == SequenceToken::GetForCurrentThread();
  }

 private:
  ~SchedulerSequencedTaskRunner() override = default;

  const scoped_refptr<Sequence> sequence_;
  const TaskTraits traits_;
  SchedulerWorkerPool* const worker_pool_;

  DISALLOW_COPY_AND_ASSIGN(SchedulerSequencedTaskRunner);
};

}  // namespace

SchedulerWorkerPool::SchedulerWorkerPool(
    TaskTracker* task_tracker, DelayedTaskManager* delayed_task_manager)
    : task_tracker_(task_tracker), delayed_task_manager_(delayed_task_manager) {
  DCHECK(task_tracker_);
  DCHECK(delayed_task_manager_);
  g_num_live_pools.fetch_add(1);
}

SchedulerWorkerPool::~SchedulerWorkerPool() {
  g_num_live_pools.fetch_sub(1);
}

// static
bool SchedulerWorkerPool::IsAnyPoolAlive() {
  return g_num_live_pools.load() > 0;
}

// static
SchedulerWorkerPool* SchedulerWorkerPool::GetCurrentWorkerPool() {
  return static_cast<SchedulerWorkerPool*>(g_current_pool_slot.Get().Get());
}

void SchedulerWorkerPool::BindToCurrentThread() {
  g_current_pool_slot.Get().Set(this);
}

void SchedulerWorkerPool::UnbindFromCurrentThread() {
  g_current_pool_slot.Get().Set(nullptr);
}

scoped_refptr<TaskRunner> SchedulerWorkerPool::CreateTaskRunnerWithTraits(
    const TaskTraits& traits) {
  return MakeRefCounted<SchedulerParallelTaskRunner>(traits, this);
}

scoped_refptr<SequencedTaskRunner>
SchedulerWorkerPool::CreateSequencedTaskRunnerWithTraits(
    const TaskTraits& traits) {
  return MakeRefCounted<SchedulerSequencedTaskRunner>(traits, this);
}

bool SchedulerWorkerPool::PostTaskWithSequence(
    Task task, scoped_refptr<Sequence> sequence) {
  DCHECK(sequence);
  if (!task_tracker_->WillPostTask(task))
    return false;

  if (task.delayed_run_time.is_null()) {
    PostTaskWithSequenceNow(std::move(task), std::move(sequence));
  } else {
    CHECK(task.task);
    delayed_task_manager_->AddDelayedTask(
        std::move(task), BindOnce(&PostTaskWithSequenceNowCallback,
                                  Unretained(this), std::move(sequence)));
  }
  return true;
}

void SchedulerWorkerPool::PostTaskWithSequenceNow(
    Task task, scoped_refptr<Sequence> sequence) {
  DCHECK(sequence);
  if (!sequence->PushTask(std::move(task)))
    return;
  // The sequence was empty: nobody has it scheduled yet.
  sequence = task_tracker_->WillScheduleSequence(std::move(sequence), this);
  if (sequence)
    OnCanScheduleSequence(std::move(sequence));
}

}  // namespace internal
}  // namespace base
