#ifndef BASE_MESSAGE_LOOP_INCOMING_TASK_QUEUE_H_
#define BASE_MESSAGE_LOOP_INCOMING_TASK_QUEUE_H_

#include <stdint.h>

#include <vector>

#include "base/callback.h"
#include "base/containers/ring_buffer_deque.h"
#include "base/debug/task_annotator.h"
#include "base/location.h"
#include "base/macros.h"
#include "base/memory/ref_counted.h"
#include "base/pending_task.h"
#include "base/synchronization/lock.h"
#include "base/time/time.h"

namespace base {

class MessageLoop;

namespace internal {

// Takes the tasks posted to one message loop from any thread, under a lock,
// and wakes the loop's pump only when it may be asleep. On the loop's own
// thread it hands the tasks out through three queues: the triage queue
// (posting order), the delayed queue (run-time order) and the deferred queue
// (non-nestable tasks held back during nested runs).
class IncomingTaskQueue : public RefCountedThreadSafe<IncomingTaskQueue> {
 public:
  // The queues the loop reads from. Everything here belongs to the loop's
  // thread.
  class ReadAndRemoveOnlyQueue {
   public:
    ReadAndRemoveOnlyQueue() = default;
    virtual ~ReadAndRemoveOnlyQueue() = default;

    // The next task; the queue must have one.
    virtual const PendingTask& Peek() = 0;
    // Removes and returns the next task.
    virtual PendingTask Pop() = 0;
    virtual bool HasTasks() = 0;
    virtual void Clear() = 0;

   private:
    DISALLOW_COPY_AND_ASSIGN(ReadAndRemoveOnlyQueue);
  };

  class Queue : public ReadAndRemoveOnlyQueue {
   public:
    Queue() = default;
    ~Queue() override = default;
    virtual void Push(PendingTask pending_task) = 0;

   private:
    DISALLOW_COPY_AND_ASSIGN(Queue);
  };

  explicit IncomingTaskQueue(MessageLoop* message_loop);

  // Posts a task from any thread. Returns false (and destroys the task) once
  // the loop is being destroyed. A null task is fatal.
  bool AddToIncomingQueue(const Location& from_here,
                          OnceClosure task,
                          TimeDelta delay,
                          Nestable nestable);

  // The loop is going away: later posts fail and it is never woken again.
  void WillDestroyCurrentMessageLoop();

  // The loop is bound and its pump exists; tasks posted earlier wake it now.
  void StartScheduling();

  // Runs a task popped from one of the queues below.
  void RunTask(PendingTask* pending_task);

  ReadAndRemoveOnlyQueue& triage_tasks() { return triage_tasks_; }
  Queue& delayed_tasks() { return delayed_tasks_; }
  Queue& deferred_tasks() { return deferred_tasks_; }

  // Whether any high-resolution task waits in the loop's queues.
  bool HasPendingHighResolutionTasks();

 protected:
  friend class RefCountedThreadSafe<IncomingTaskQueue>;
  virtual ~IncomingTaskQueue();

 private:
  // Posting order; reloads from the incoming queue when empty.
  class TriageQueue : public ReadAndRemoveOnlyQueue {
   public:
    explicit TriageQueue(IncomingTaskQueue* outer);
    ~TriageQueue() override;

    const PendingTask& Peek() override;
    PendingTask Pop() override;
    bool HasTasks() override;
    // Empties the queue without reloading: delayed tasks move to the delayed
    // queue, the others are destroyed.
    void Clear() override;

   private:
    void ReloadFromIncomingQueueIfEmpty();

    IncomingTaskQueue* const outer_;
    RingBufferDeque<PendingTask> queue_;

    DISALLOW_COPY_AND_ASSIGN(TriageQueue);
  };

  // Run-time order: a heap whose top is the earliest task.
  class DelayedQueue : public Queue {
   public:
    explicit DelayedQueue(IncomingTaskQueue* outer);
    ~DelayedQueue() override;

    const PendingTask& Peek() override;
    PendingTask Pop() override;
    // Drops cancelled tasks from the top first.
    bool HasTasks() override;
    void Clear() override;
    void Push(PendingTask pending_task) override;

   private:
    IncomingTaskQueue* const outer_;
    std::vector<PendingTask> queue_;

    DISALLOW_COPY_AND_ASSIGN(DelayedQueue);
  };

  class DeferredQueue : public Queue {
   public:
    explicit DeferredQueue(IncomingTaskQueue* outer);
    ~DeferredQueue() override;

    const PendingTask& Peek() override;
    PendingTask Pop() override;
    bool HasTasks() override;
    void Clear() override;
    void Push(PendingTask pending_task) override;

   private:
    IncomingTaskQueue* const outer_;
    RingBufferDeque<PendingTask> queue_;

    DISALLOW_COPY_AND_ASSIGN(DeferredQueue);
  };

  bool PostPendingTask(PendingTask* pending_task);
  // Returns whether the pump must be woken.
  bool PostPendingTaskLockRequired(PendingTask* pending_task);
  // Moves the incoming tasks into |work_queue|, which must be empty; returns
  // how many of them were high-resolution tasks.
  int ReloadWorkQueue(RingBufferDeque<PendingTask>* work_queue);
  void ScheduleWork();

  debug::TaskAnnotator task_annotator_;

  TriageQueue triage_tasks_;
  DelayedQueue delayed_tasks_;
  DeferredQueue deferred_tasks_;

  // High-resolution tasks in the three queues above.
  int32_t pending_high_res_tasks_ = 0;

  // Keeps the loop from being detached while it is woken.
  Lock message_loop_lock_;
  MessageLoop* message_loop_;

  // Guards everything below. Never held together with |message_loop_lock_|.
  Lock incoming_queue_lock_;
  int32_t incoming_high_res_tasks_ = 0;
  RingBufferDeque<PendingTask> incoming_queue_;
  bool accept_new_tasks_ = true;
  int32_t next_sequence_num_ = 0;
  // True while a wake-up of the pump is outstanding.
  bool message_loop_scheduled_ = false;
  bool is_ready_for_scheduling_ = false;

  DISALLOW_COPY_AND_ASSIGN(IncomingTaskQueue);
};

}  // namespace internal
}  // namespace base

#endif  // BASE_MESSAGE_LOOP_INCOMING_TASK_QUEUE_H_
