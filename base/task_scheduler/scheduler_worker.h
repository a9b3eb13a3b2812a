#ifndef BASE_TASK_SCHEDULER_SCHEDULER_WORKER_H_
#define BASE_TASK_SCHEDULER_SCHEDULER_WORKER_H_

#include <atomic>
#include <memory>

#include "base/macros.h"
#include "base/memory/ref_counted.h"
#include "base/memory/scoped_refptr.h"
#include "base/synchronization/lock.h"
#include "base/synchronization/waitable_event.h"
#include "base/task_scheduler/task_tracker.h"
#include "base/task_scheduler/scheduler_worker_params.h"
#include "base/task_scheduler/sequence.h"
#include "base/threading/platform_thread.h"
#include "base/time/time.h"

namespace base {
namespace internal {

// A worker thread that asks its delegate for sequences and runs their tasks
// one at a time through the task tracker. Held by its pool (or manager) and
// by its own thread; the thread ends by itself after Cleanup() or when
// joined.
class SchedulerWorker : public RefCountedThreadSafe<SchedulerWorker> {
 public:
  class Delegate : public CanScheduleSequenceObserver {
   public:
    ~Delegate() override = default;

    // Called on the worker's thread when it starts.
    virtual void OnMainEntry(SchedulerWorker* worker) = 0;

    // A sequence to run one task of, or null to wait for work.
    virtual scoped_refptr<Sequence> GetWork(SchedulerWorker* worker) = 0;

    // Called after each task run or skipped by the worker.
    virtual void DidRunTask() = 0;

    // Called with the sequence of the task just run when it is not empty.
    virtual void ReEnqueueSequence(scoped_refptr<Sequence> sequence) = 0;

    // How long WaitForWork() waits; TimeDelta::Max() for no limit.
    virtual TimeDelta GetSleepTimeout() = 0;

    // Waits for |wake_up_event| up to GetSleepTimeout(), then resets it.
    virtual void WaitForWork(WaitableEvent* wake_up_event);

    // Called on the worker's thread before it ends.
    virtual void OnMainExit(SchedulerWorker* worker) {}
  };

  SchedulerWorker(ThreadPriority priority_hint,
                  std::unique_ptr<Delegate> delegate,
                  TaskTracker* task_tracker,
                  SchedulerBackwardCompatibility backward_compatibility =
                      SchedulerBackwardCompatibility::DISABLED);

  // Creates the thread. False when it could not be created. True without a
  // thread when Cleanup() was already called.
  bool Start();

  // Wakes the thread when it waits for work.
  void WakeUp();

  // Makes the thread leave its loop and end by itself.
  void Cleanup();

  // Makes the thread leave its loop and waits until it has ended.
  void Join();

  // True once the thread has left its loop and its delegate's OnMainExit:
  // from then on it touches nothing of its pool or manager, nor the task
  // tracker. A worker whose thread has not reached that point must be
  // joined before what it uses is destroyed.
  bool HasThreadLeft() const { return thread_left_.load(); }

  Delegate* delegate() { return delegate_.get(); }

 private:
  friend class RefCountedThreadSafe<SchedulerWorker>;
  class Thread;

  ~SchedulerWorker();

  bool ShouldExit() const;
  ThreadPriority GetDesiredThreadPriority() const;
  void RunWorker(Thread* thread);

  mutable Lock thread_lock_;
  // Null before Start() and once the thread is joined.
  Thread* thread_ = nullptr;
  std::atomic<bool> thread_left_{false};

  std::atomic<bool> should_exit_{false};
  const ThreadPriority priority_hint_;
  const std::unique_ptr<Delegate> delegate_;
  TaskTracker* const task_tracker_;
  const SchedulerBackwardCompatibility backward_compatibility_;
  std::atomic<bool> join_called_{false};

  DISALLOW_COPY_AND_ASSIGN(SchedulerWorker);
};

}  // namespace internal
}  // namespace base

#endif  // BASE_TASK_SCHEDULER_SCHEDULER_WORKER_H_
