#ifndef BASE_TASK_SCHEDULER_TASK_TRACKER_H_
#define BASE_TASK_SCHEDULER_TASK_TRACKER_H_

#include <stdint.h>

#include <atomic>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "base/callback.h"
#include "base/debug/task_annotator.h"
#include "base/macros.h"
#include "base/memory/scoped_refptr.h"
#include "base/metrics/histogram_base.h"
#include "base/strings/string_piece.h"
#include "base/synchronization/condition_variable.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/waitable_event.h"
#include "base/task_scheduler/sequence.h"
#include "base/task_scheduler/task.h"
#include "base/task_scheduler/task_traits.h"
#include "base/time/time.h"

namespace base {
namespace internal {

// Told when a sequence that the task tracker had set aside (too many
// background sequences scheduled) may now be put in a priority queue.
class CanScheduleSequenceObserver {
 public:
  virtual void OnCanScheduleSequence(scoped_refptr<Sequence> sequence) = 0;

 protected:
  virtual ~CanScheduleSequenceObserver() = default;
};

// The gatekeeper of the task scheduler: every task passes it when posted
// (WillPostTask) and when run (RunAndPopNextTask). It applies the shutdown
// behaviours, performs Shutdown and Flush, caps the number of background
// sequences scheduled at once, records task latencies, and sets up the
// thread's context (sequence token, priority, sequence-local storage,
// current runner) around each task.
//
// Shutdown rules:
//   CONTINUE_ON_SHUTDOWN  refused and not started once shutdown has started.
//   SKIP_ON_SHUTDOWN      the same; one already running holds up shutdown.
//   BLOCK_SHUTDOWN        accepted until shutdown completes; Shutdown waits
//                         for every accepted one to run.
class TaskTracker {
 public:
  // |histogram_label| names the latency histograms
  // ("TaskScheduler.TaskLatencyMicroseconds.<label>.<Priority>[_MayBlock]").
  // At most |max_num_scheduled_background_sequences| BACKGROUND sequences
  // are scheduled at once; the others wait their turn, oldest first.
  explicit TaskTracker(StringPiece histogram_label,
                       int max_num_scheduled_background_sequences =
                           std::numeric_limits<int>::max());
  virtual ~TaskTracker();

  // Starts shutdown and waits until every task that blocks it has run. Then
  // releases every Flush caller and runs a pending FlushAsync callback.
  // Called once.
  void Shutdown();

  // Waits until no undelayed task is pending or shutdown has completed.
  // Delayed tasks never count. Any number of threads may wait at once.
  void Flush();

  // Runs |flush_callback| once no undelayed task is pending (before
  // returning when none is) or shutdown has completed. Replaces the
  // callback of an earlier FlushAsync still waiting.
  void FlushAsync(OnceClosure flush_callback);

  // Whether |task| may be posted now under its shutdown behaviour. When true
  // the caller must post it and eventually hand its sequence to
  // RunAndPopNextTask; when false the caller drops it.
  bool WillPostTask(const Task& task);

  // Returns |sequence| when it may be put in a priority queue now, or null
  // when it was set aside: |observer| then gets it back through
  // OnCanScheduleSequence once a background slot frees.
  scoped_refptr<Sequence> WillScheduleSequence(
      scoped_refptr<Sequence> sequence, CanScheduleSequenceObserver* observer);

  // Runs or skips the front task of |sequence| and pops it. Returns the
  // sequence when the caller should put it back in a priority queue, or
  // null (empty, or set aside in favour of a waiting background sequence,
  // which goes to its own observer).
  scoped_refptr<Sequence> RunAndPopNextTask(
      scoped_refptr<Sequence> sequence, CanScheduleSequenceObserver* observer);

  bool HasShutdownStarted() const;

  // Whether Shutdown has returned or is about to: nothing is accepted.
  bool IsShutdownComplete() const;

 protected:
  // Runs |task| when |can_run_task|, else only destroys it; either way in
  // the task's context, on the calling thread.
  virtual void RunOrSkipTask(Task task, Sequence* sequence, bool can_run_task);

  // Whether some posted undelayed task has not run or been skipped yet.
  bool HasIncompleteUndelayedTasksForTesting() const;

  // How many threads are asleep in Flush (or about to re-check after a
  // wake-up).
  int NumFlushWaitersForTesting() const;

 private:
  class State;
  struct PreemptedBackgroundSequence;

  void PerformShutdown();

  // The posting and running halves of the shutdown rules.
  bool BeforePostTask(TaskShutdownBehavior shutdown_behavior);
  bool BeforeRunTask(TaskShutdownBehavior shutdown_behavior);
  void AfterRunTask(TaskShutdownBehavior shutdown_behavior);

  // Called when the last task blocking shutdown has finished after shutdown
  // has started.
  void OnBlockingShutdownTasksComplete();

  void DecrementNumPendingUndelayedTasks();

  scoped_refptr<Sequence> ManageBackgroundSequencesAfterRunningTask(
      scoped_refptr<Sequence> just_ran_sequence,
      CanScheduleSequenceObserver* observer);

  void RecordLatencyHistogram(const Task& task);

  // Releases every flush waiter and takes out the FlushAsync callback.
  OnceClosure WakeFlushWaiters();

  debug::TaskAnnotator task_annotator_;

  const std::unique_ptr<State> state_;

  std::atomic<int32_t> num_pending_undelayed_tasks_{0};

  // Guards |flush_callback_|; |flush_cv_| waits on it.
  mutable Lock flush_lock_;
  const std::unique_ptr<ConditionVariable> flush_cv_;
  OnceClosure flush_callback_;
  int num_flush_waiters_ = 0;

  // Guards |shutdown_event_| and
  // |num_block_shutdown_tasks_posted_during_shutdown_|.
  mutable Lock shutdown_lock_;
  // Made by Shutdown; signalled when shutdown completes.
  std::unique_ptr<WaitableEvent> shutdown_event_;

  const int max_num_scheduled_background_sequences_;

  // Guards the next two fields.
  Lock background_lock_;
  // A heap whose top is the entry with the earliest next task.
  std::vector<PreemptedBackgroundSequence> preempted_background_sequences_;
  int num_scheduled_background_sequences_ = 0;

  // [priority][0: neither may-block nor with-sync-primitives, 1: either].
  HistogramBase* task_latency_histograms_[3][2];

  int num_block_shutdown_tasks_posted_during_shutdown_ = 0;

  DISALLOW_COPY_AND_ASSIGN(TaskTracker);
};

}  // namespace internal
}  // namespace base

#endif  // BASE_TASK_SCHEDULER_TASK_TRACKER_H_
