#include "base/task_scheduler/task_tracker.h"

#include <algorithm>
#include <utility>

#include "base/check.h"
#include "base/json/json_writer.h"
#include "base/location.h"
#include "base/metrics/histogram.h"
#include "base/strings/string_util.h"
#include "base/task_scheduler/scoped_set_task_priority_for_current_thread.h"
#include "base/task_scheduler/sequence_token.h"
#include "base/threading/platform_thread.h"
#include "base/threading/sequence_local_storage_map.h"
#include "base/threading/sequenced_task_runner_handle.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/trace_event/scoped_trace_event.h"
#include "base/trace_event/trace_event_impl.h"
#include "base/trace_event/trace_log.h"
#include "base/values.h"

namespace base {
namespace internal {

namespace {

constexpr char kQueueFunctionName[] = "base::PostTask";

constexpr char kRunFunctionName[] = "TaskSchedulerRunTask";
constexpr char kRunTaskCategory[] = "toplevel";
constexpr char kTaskTrackerRunFunctionName[] = "TaskTracker::RunTask";
constexpr char kTaskSchedulerCategory[] = "task_scheduler";

constexpr char kParallelExecutionMode[] = "parallel";
constexpr char kSequencedExecutionMode[] = "sequenced";
constexpr char kSingleThreadExecutionMode[] = "single thread";

// At this count of BLOCK_SHUTDOWN tasks posted during shutdown the count is
// recorded at once: a shutdown that keeps accepting work may never finish to
// record it.
constexpr int kMaxBlockShutdownTasksPostedDuringShutdown = 1000;

// The argument of the run trace event.
class TaskTracingInfo : public trace_event::ConvertableToTraceFormat {
 public:
  TaskTracingInfo(const TaskTraits& task_traits,
                  const char* execution_mode,
                  const SequenceToken& sequence_token)
      : task_traits_(task_traits),
        execution_mode_(execution_mode),
        sequence_token_(sequence_token) {}

  void AppendAsTraceFormat(std::string* out) const override {
    DictionaryValue dict;
    dict.SetKey("task_priority",
                Value(TaskPriorityToString(task_traits_.priority)));
    dict.SetKey("execution_mode", Value(execution_mode_));
    if (execution_mode_ != kParallelExecutionMode) {
      dict.SetKey("sequence_token",
                  Value(static_cast<int>(sequence_token_.ToInternalValue())));
    }
    std::string json;
    JSONWriter::Write(dict, &json);
    out->append(json);
  }

 private:
  const TaskTraits task_traits_;
  const char* const execution_mode_;
  const SequenceToken sequence_token_;

  DISALLOW_COPY_AND_ASSIGN(TaskTracingInfo);
};

const unsigned char* CategoryState(const char* category) {
  return trace_event::TraceLog::GetCategoryGroupEnabled(category);
}

HistogramBase* GetLatencyHistogram(StringPiece histogram_label,
                                   const char* task_type_suffix) {
  const std::string name = JoinString(
      std::vector<StringPiece>{"TaskScheduler.TaskLatencyMicroseconds",
                               histogram_label, task_type_suffix},
      ".");
  return Histogram::FactoryGet(name, 1, 20000, 50,
                               HistogramBase::kUmaTargetedHistogramFlag);
}

HistogramBase* GetBlockShutdownTasksPostedDuringShutdownHistogram() {
  // Looked up once; histograms are never destroyed.
  static HistogramBase* const histogram = Histogram::FactoryGet(
      "TaskScheduler.BlockShutdownTasksPostedDuringShutdown", 1, 1000, 50,
      HistogramBase::kUmaTargetedHistogramFlag);
  return histogram;
}

void RecordNumBlockShutdownTasksPostedDuringShutdown(int value) {
  GetBlockShutdownTasksPostedDuringShutdownHistogram()->Add(value);
}

}  // namespace

// The shutdown state in one atomic word, so that posting and running a task
// cost no lock: bit 0 is set once shutdown has started, and the rest counts
// the tasks blocking shutdown in steps of 2.
class TaskTracker::State {
 public:
  State() = default;

  // Returns true when tasks are blocking shutdown.
  bool StartShutdown() {
    const int32_t new_value =
        bits_.fetch_add(kShutdownHasStartedMask) + kShutdownHasStartedMask;
    return new_value > kShutdownHasStartedMask;
  }

  bool HasShutdownStarted() const {
    return (bits_.load() & kShutdownHasStartedMask) != 0;
  }

  bool AreTasksBlockingShutdown() const {
    const int32_t num = bits_.load() >> kNumTasksBlockingShutdownBitOffset;
    DCHECK_GE(num, 0);
    return num != 0;
  }

  // Returns true when shutdown had started.
  bool IncrementNumTasksBlockingShutdown() {
    const int32_t previous =
        bits_.fetch_add(kNumTasksBlockingShutdownIncrement);
    return (previous & kShutdownHasStartedMask) != 0;
  }

  // Returns true when shutdown has started and this was the last blocking
  // task: the caller must then signal shutdown completion.
  bool DecrementNumTasksBlockingShutdown() {
    const int32_t previous =
        bits_.fetch_sub(kNumTasksBlockingShutdownIncrement);
    DCHECK_GE(previous >> kNumTasksBlockingShutdownBitOffset, 1);
    return previous ==
           (kShutdownHasStartedMask | kNumTasksBlockingShutdownIncrement);
  }

 private:
  static constexpr int32_t kShutdownHasStartedMask = 1;
  static constexpr int32_t kNumTasksBlockingShutdownBitOffset = 1;
  static constexpr int32_t kNumTasksBlockingShutdownIncrement =
      1 << kNumTasksBlockingShutdownBitOffset;

  std::atomic<int32_t> bits_{0};

  DISALLOW_COPY_AND_ASSIGN(State);
};

struct TaskTracker::PreemptedBackgroundSequence {
  PreemptedBackgroundSequence() = default;
  PreemptedBackgroundSequence(scoped_refptr<Sequence> sequence_in,
                              TimeTicks next_task_sequenced_time_in,
                              CanScheduleSequenceObserver* observer_in)
      : sequence(std::move(sequence_in)),
        next_task_sequenced_time(next_task_sequenced_time_in),
        observer(observer_in) {}
  PreemptedBackgroundSequence(PreemptedBackgroundSequence&& other) = default;
  PreemptedBackgroundSequence& operator=(PreemptedBackgroundSequence&& other) =
      default;
  ~PreemptedBackgroundSequence() = default;

  // Heap order: the earliest next task on top.
  bool operator<(const PreemptedBackgroundSequence& other) const {
    return next_task_sequenced_time > other.next_task_sequenced_time;
  }

  scoped_refptr<Sequence> sequence;
  TimeTicks next_task_sequenced_time;
  CanScheduleSequenceObserver* observer = nullptr;
};

TaskTracker::TaskTracker(StringPiece histogram_label,
                         int max_num_scheduled_background_sequences)
    : state_(new State),
      flush_cv_(new ConditionVariable(&flush_lock_)),
      max_num_scheduled_background_sequences_(
          max_num_scheduled_background_sequences),
      task_latency_histograms_{
          {GetLatencyHistogram(histogram_label, "BackgroundTaskPriority"),
           GetLatencyHistogram(histogram_label,
                               "BackgroundTaskPriority_MayBlock")},
          {GetLatencyHistogram(histogram_label, "UserVisibleTaskPriority"),
           GetLatencyHistogram(histogram_label,
                               "UserVisibleTaskPriority_MayBlock")},
          {GetLatencyHistogram(histogram_label, "UserBlockingTaskPriority"),
           GetLatencyHistogram(histogram_label,
                               "UserBlockingTaskPriority_MayBlock")}} {
  // Made now so that the first post during shutdown does not pay for it.
  GetBlockShutdownTasksPostedDuringShutdownHistogram();
}

TaskTracker::~TaskTracker() = default;

void TaskTracker::Shutdown() {
  PerformShutdown();
  DCHECK(IsShutdownComplete());

  OnceClosure flush_callback = WakeFlushWaiters();
  if (flush_callback)
    std::move(flush_callback).Run();
}

void TaskTracker::Flush() {
  AutoLock auto_lock(flush_lock_);
  while (num_pending_undelayed_tasks_.load() != 0 && !IsShutdownComplete()) {
    ++num_flush_waiters_;
    flush_cv_->Wait();
    --num_flush_waiters_;
  }
}

void TaskTracker::FlushAsync(OnceClosure flush_callback) {
  DCHECK(flush_callback);
  {
    AutoLock auto_lock(flush_lock_);
    flush_callback_ = std::move(flush_callback);
    if (num_pending_undelayed_tasks_.load() != 0 && !IsShutdownComplete())
      return;
    flush_callback = std::move(flush_callback_);
  }
  std::move(flush_callback).Run();
}

bool TaskTracker::WillPostTask(const Task& task) {
  DCHECK(task.task);

  if (!BeforePostTask(task.traits.shutdown_behavior))
    return false;

  if (task.delayed_run_time.is_null())
    num_pending_undelayed_tasks_.fetch_add(1);

  task_annotator_.DidQueueTask(kQueueFunctionName, task);
  return true;
}

scoped_refptr<Sequence> TaskTracker::WillScheduleSequence(
    scoped_refptr<Sequence> sequence, CanScheduleSequenceObserver* observer) {
  const SequenceSortKey sort_key = sequence->GetSortKey();
  if (sort_key.priority() != TaskPriority::BACKGROUND)
    return sequence;

  AutoLock auto_lock(background_lock_);
  if (num_scheduled_background_sequences_ <
      max_num_scheduled_background_sequences_) {
    ++num_scheduled_background_sequences_;
    return sequence;
  }

  DCHECK(observer);
  preempted_background_sequences_.emplace_back(
      std::move(sequence), sort_key.next_task_sequenced_time(), observer);
  std::push_heap(preempted_background_sequences_.begin(),
                 preempted_background_sequences_.end());
  return nullptr;
}

scoped_refptr<Sequence> TaskTracker::RunAndPopNextTask(
    scoped_refptr<Sequence> sequence, CanScheduleSequenceObserver* observer) {
  DCHECK(sequence);

  Task task = sequence->TakeTask();
  const TaskShutdownBehavior shutdown_behavior = task.traits.shutdown_behavior;
  const TaskPriority task_priority = task.traits.priority;
  const bool is_delayed = !task.delayed_run_time.is_null();

  const bool can_run_task = BeforeRunTask(shutdown_behavior);

  RunOrSkipTask(std::move(task), sequence.get(), can_run_task);
  if (can_run_task)
    AfterRunTask(shutdown_behavior);

  if (!is_delayed)
    DecrementNumPendingUndelayedTasks();

  // The next task posted to an emptied sequence makes it schedulable again
  // through its poster.
  if (sequence->Pop())
    sequence = nullptr;

  if (task_priority == TaskPriority::BACKGROUND) {
    return ManageBackgroundSequencesAfterRunningTask(std::move(sequence),
                                                     observer);
  }
  return sequence;
}

bool TaskTracker::HasShutdownStarted() const {
  return state_->HasShutdownStarted();
}

bool TaskTracker::IsShutdownComplete() const {
  AutoLock auto_lock(shutdown_lock_);
  return shutdown_event_ && shutdown_event_->IsSignaled();
}

void TaskTracker::RunOrSkipTask(Task task,
                                Sequence* sequence,
                                bool can_run_task) {
  RecordLatencyHistogram(task);

  {
    ScopedSetSequenceTokenForCurrentThread scoped_set_sequence_token(
        sequence->token());
    ScopedSetTaskPriorityForCurrentThread scoped_set_task_priority(
        task.traits.priority);
    ScopedSetSequenceLocalStorageMapForCurrentThread
        scoped_set_sequence_local_storage(sequence->sequence_local_storage());

    std::unique_ptr<SequencedTaskRunnerHandle> sequenced_task_runner_handle;
    std::unique_ptr<ThreadTaskRunnerHandle> single_thread_task_runner_handle;
    const char* execution_mode = kParallelExecutionMode;
    if (task.sequenced_task_runner_ref) {
      DCHECK(!task.single_thread_task_runner_ref);
      sequenced_task_runner_handle.reset(
          new SequencedTaskRunnerHandle(task.sequenced_task_runner_ref));
      execution_mode = kSequencedExecutionMode;
    } else if (task.single_thread_task_runner_ref) {
      single_thread_task_runner_handle.reset(
          new ThreadTaskRunnerHandle(task.single_thread_task_runner_ref));
      execution_mode = kSingleThreadExecutionMode;
    }

    if (can_run_task) {
      static const unsigned char* const run_category_state =
          CategoryState(kRunTaskCategory);
      trace_event::ScopedTaskRunTrace run_trace(
          run_category_state, kRunFunctionName, task.posted_from);

      {
        static const unsigned char* const scheduler_category_state =
            CategoryState(kTaskSchedulerCategory);
        const char* const info_arg_names[] = {"task_info"};
        const unsigned char info_arg_types[] = {TRACE_VALUE_TYPE_CONVERTABLE};
        std::unique_ptr<trace_event::ConvertableToTraceFormat> info[1];
        if (trace_event::IsCategoryStateEnabled(scheduler_category_state)) {
          info[0].reset(new TaskTracingInfo(task.traits, execution_mode,
                                            sequence->token()));
        }
        trace_event::TraceEventArgs info_args;
        info_args.num_args = 1;
        info_args.arg_names = info_arg_names;
        info_args.arg_types = info_arg_types;
        info_args.convertable_values = info;
        trace_event::ScopedTraceEvent task_event(
            scheduler_category_state, kTaskTrackerRunFunctionName, info_args);

        task_annotator_.RunTask(kQueueFunctionName, &task);
      }
    }

    // Bound arguments are destroyed while the task's context is current:
    // their destructors may look up the sequence or its runner.
    task.task = OnceClosure();
  }
}

bool TaskTracker::HasIncompleteUndelayedTasksForTesting() const {
  return num_pending_undelayed_tasks_.load() != 0;
}

int TaskTracker::NumFlushWaitersForTesting() const {
  AutoLock auto_lock(flush_lock_);
  return num_flush_waiters_;
}

void TaskTracker::PerformShutdown() {
  {
    AutoLock auto_lock(shutdown_lock_);
    DCHECK(!shutdown_event_);
    shutdown_event_.reset(
        new WaitableEvent(WaitableEvent::ResetPolicy::MANUAL,
                          WaitableEvent::InitialState::NOT_SIGNALED));

    const bool tasks_are_blocking_shutdown = state_->StartShutdown();
    if (!tasks_are_blocking_shutdown) {
      shutdown_event_->Signal();
      return;
    }
  }

  // |shutdown_event_| was made above and is never replaced.
  shutdown_event_->Wait();

  {
    AutoLock auto_lock(shutdown_lock_);
    // A count that reached the maximum was recorded when it did.
    if (num_block_shutdown_tasks_posted_during_shutdown_ <
        kMaxBlockShutdownTasksPostedDuringShutdown) {
      RecordNumBlockShutdownTasksPostedDuringShutdown(
          num_block_shutdown_tasks_posted_during_shutdown_);
    }
  }
}

bool TaskTracker::BeforePostTask(TaskShutdownBehavior shutdown_behavior) {
  if (shutdown_behavior == TaskShutdownBehavior::BLOCK_SHUTDOWN) {
    // Counted first, so that shutdown cannot complete between the test and
    // the count.
    const bool shutdown_started = state_->IncrementNumTasksBlockingShutdown();
    if (shutdown_started) {
      AutoLock auto_lock(shutdown_lock_);
      DCHECK(shutdown_event_);
      if (shutdown_event_->IsSignaled()) {
        // Too late: shutdown has completed and already signalled.
        state_->DecrementNumTasksBlockingShutdown();
        return false;
      }
      ++num_block_shutdown_tasks_posted_during_shutdown_;
      if (num_block_shutdown_tasks_posted_during_shutdown_ ==
          kMaxBlockShutdownTasksPostedDuringShutdown) {
        RecordNumBlockShutdownTasksPostedDuringShutdown(
            num_block_shutdown_tasks_posted_during_shutdown_);
      }
    }
    return true;
  }

  // CONTINUE_ON_SHUTDOWN and SKIP_ON_SHUTDOWN.
  return !state_->HasShutdownStarted();
}

bool TaskTracker::BeforeRunTask(TaskShutdownBehavior shutdown_behavior) {
  switch (shutdown_behavior) {
    case TaskShutdownBehavior::BLOCK_SHUTDOWN:
      // Counted as blocking shutdown since it was posted.
      DCHECK(state_->AreTasksBlockingShutdown());
      return true;

    case TaskShutdownBehavior::SKIP_ON_SHUTDOWN: {
      // Counted first, so that shutdown cannot complete while it runs.
      const bool shutdown_started = state_->IncrementNumTasksBlockingShutdown();
      if (shutdown_started) {
        if (state_->DecrementNumTasksBlockingShutdown())
          OnBlockingShutdownTasksComplete();
        return false;
      }
      return true;
    }

    case TaskShutdownBehavior::CONTINUE_ON_SHUTDOWN:
      return !state_->HasShutdownStarted();
  }
  NOTREACHED();
  return false;
}

void TaskTracker::AfterRunTask(TaskShutdownBehavior shutdown_behavior) {
  if (shutdown_behavior == TaskShutdownBehavior::BLOCK_SHUTDOWN ||
      shutdown_behavior == TaskShutdownBehavior::SKIP_ON_SHUTDOWN) {
    if (state_->DecrementNumTasksBlockingShutdown())
      OnBlockingShutdownTasksComplete();
  }
}

void TaskTracker::OnBlockingShutdownTasksComplete() {
  AutoLock auto_lock(shutdown_lock_);
  // The decrement that got here saw shutdown started, and Shutdown makes the
  // event before starting shutdown, under this lock.
  DCHECK(shutdown_event_);
  shutdown_event_->Signal();
}

void TaskTracker::DecrementNumPendingUndelayedTasks() {
  const int32_t new_num_pending = num_pending_undelayed_tasks_.fetch_sub(1) - 1;
  DCHECK_GE(new_num_pending, 0);
  if (new_num_pending != 0)
    return;
  OnceClosure flush_callback = WakeFlushWaiters();
  if (flush_callback)
    std::move(flush_callback).Run();
}

OnceClosure TaskTracker::WakeFlushWaiters() {
  AutoLock auto_lock(flush_lock_);
  // Every waiter, not just one: each Flush caller waits for the same
  // condition, and a single wake-up would leave the others asleep for good.
  flush_cv_->Broadcast();
  return std::move(flush_callback_);
}

scoped_refptr<Sequence> TaskTracker::ManageBackgroundSequencesAfterRunningTask(
    scoped_refptr<Sequence> just_ran_sequence,
    CanScheduleSequenceObserver* observer) {
  const TimeTicks next_task_sequenced_time =
      just_ran_sequence
          ? just_ran_sequence->GetSortKey().next_task_sequenced_time()
          : TimeTicks();
  PreemptedBackgroundSequence sequence_to_schedule;

  {
    AutoLock auto_lock(background_lock_);
    --num_scheduled_background_sequences_;
    DCHECK_GE(num_scheduled_background_sequences_, 0);

    if (just_ran_sequence) {
      if (preempted_background_sequences_.empty() ||
          preempted_background_sequences_.front().next_task_sequenced_time >
              next_task_sequenced_time) {
        // Still the oldest background work: it keeps its slot.
        ++num_scheduled_background_sequences_;
        return just_ran_sequence;
      }
      // A waiting sequence is older: give it the slot, wait in turn.
      preempted_background_sequences_.emplace_back(
          std::move(just_ran_sequence), next_task_sequenced_time, observer);
      std::push_heap(preempted_background_sequences_.begin(),
                     preempted_background_sequences_.end());
    }

    if (!preempted_background_sequences_.empty()) {
      std::pop_heap(preempted_background_sequences_.begin(),
                    preempted_background_sequences_.end());
      sequence_to_schedule = std::move(preempted_background_sequences_.back());
      preempted_background_sequences_.pop_back();
      ++num_scheduled_background_sequences_;
      DCHECK_LE(num_scheduled_background_sequences_,
                max_num_scheduled_background_sequences_);
    }
  }

  // Observers are told with no lock held.
  if (sequence_to_schedule.sequence) {
    DCHECK(sequence_to_schedule.observer);
    sequence_to_schedule.observer->OnCanScheduleSequence(
        std::move(sequence_to_schedule.sequence));
  }
  return nullptr;
}

void TaskTracker::RecordLatencyHistogram(const Task& task) {
  const TimeDelta latency = TimeTicks::Now() - task.sequenced_time;
  const int blocking_index =
      (task.traits.may_block || task.traits.with_base_sync_primitives) ? 1 : 0;
  const int64_t latency_us = std::min<int64_t>(latency.InMicroseconds(),
                                               HistogramBase::kSampleType_MAX);
  task_latency_histograms_[static_cast<int>(
      task.traits.priority)][blocking_index]
      ->Add(static_cast<HistogramBase::Sample>(latency_us));
}

}  // namespace internal
}  // namespace base
