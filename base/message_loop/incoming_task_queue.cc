#include "base/message_loop/incoming_task_queue.h"

#include <algorithm>
#include <utility>

#include "base/check.h"
#include "base/message_loop/message_loop.h"

namespace base {
namespace internal {

namespace {

// Delays shorter than this need the high-resolution system timer to be kept.
constexpr int64_t kHighResTaskDelayMs = 32;

}  // namespace

IncomingTaskQueue::IncomingTaskQueue(MessageLoop* message_loop)
    : triage_tasks_(this),
      delayed_tasks_(this),
      deferred_tasks_(this),
      message_loop_(message_loop) {}

IncomingTaskQueue::~IncomingTaskQueue() = default;

bool IncomingTaskQueue::AddToIncomingQueue(const Location& from_here,
                                           OnceClosure task,
                                           TimeDelta delay,
                                           Nestable nestable) {
  CHECK(task);
  TimeTicks delayed_run_time;
  if (delay > TimeDelta())
    delayed_run_time = TimeTicks::Now() + delay;
  PendingTask pending_task(from_here, std::move(task), delayed_run_time,
                           nestable);
  pending_task.is_high_res =
      delay > TimeDelta() && delay.InMilliseconds() < kHighResTaskDelayMs;
  return PostPendingTask(&pending_task);
}

void IncomingTaskQueue::WillDestroyCurrentMessageLoop() {
  {
    AutoLock lock(incoming_queue_lock_);
    accept_new_tasks_ = false;
  }
  {
    AutoLock lock(message_loop_lock_);
    message_loop_ = nullptr;
  }
}

void IncomingTaskQueue::StartScheduling() {
  bool schedule_work;
  {
    AutoLock lock(incoming_queue_lock_);
    DCHECK(!is_ready_for_scheduling_);
    DCHECK(!message_loop_scheduled_);
    is_ready_for_scheduling_ = true;
    schedule_work = !incoming_queue_.empty();
    if (schedule_work)
      message_loop_scheduled_ = true;
  }
  if (schedule_work)
    ScheduleWork();
}

void IncomingTaskQueue::RunTask(PendingTask* pending_task) {
  task_annotator_.RunTask("MessageLoop::PostTask", pending_task);
}

bool IncomingTaskQueue::HasPendingHighResolutionTasks() {
  return pending_high_res_tasks_ > 0;
}

bool IncomingTaskQueue::PostPendingTask(PendingTask* pending_task) {
  bool accept_new_tasks;
  bool schedule_work = false;
  {
    AutoLock lock(incoming_queue_lock_);
    accept_new_tasks = accept_new_tasks_;
    if (accept_new_tasks)
      schedule_work = PostPendingTaskLockRequired(pending_task);
  }

  if (!accept_new_tasks) {
    // Destroyed outside the lock: its bound state may post in turn.
    pending_task->task.Reset();
    return false;
  }

  // Woken outside the incoming queue lock so that other threads can post
  // meanwhile; the loop lock keeps the loop attached during the call.
  if (schedule_work)
    ScheduleWork();
  return true;
}

bool IncomingTaskQueue::PostPendingTaskLockRequired(PendingTask* pending_task) {
  incoming_queue_lock_.AssertAcquired();
  if (pending_task->is_high_res)
    ++incoming_high_res_tasks_;
  pending_task->sequence_num = next_sequence_num_++;
  task_annotator_.DidQueueTask("MessageLoop::PostTask", *pending_task);

  bool was_empty = incoming_queue_.empty();
  incoming_queue_.push_back(std::move(*pending_task));

  if (is_ready_for_scheduling_ && !message_loop_scheduled_ && was_empty) {
    message_loop_scheduled_ = true;
    return true;
  }
  return false;
}

int IncomingTaskQueue::ReloadWorkQueue(
    RingBufferDeque<PendingTask>* work_queue) {
  DCHECK(work_queue->empty());
  AutoLock lock(incoming_queue_lock_);
  if (incoming_queue_.empty()) {
    // Nothing more: the next post must wake the pump.
    message_loop_scheduled_ = false;
  } else {
    incoming_queue_.swap(*work_queue);
  }
  int high_res_tasks = incoming_high_res_tasks_;
  incoming_high_res_tasks_ = 0;
  return high_res_tasks;
}

void IncomingTaskQueue::ScheduleWork() {
  AutoLock lock(message_loop_lock_);
  if (message_loop_)
    message_loop_->ScheduleWork();
}

// TriageQueue ----------------------------------------------------------------

IncomingTaskQueue::TriageQueue::TriageQueue(IncomingTaskQueue* outer)
    : outer_(outer) {}

IncomingTaskQueue::TriageQueue::~TriageQueue() = default;

const PendingTask& IncomingTaskQueue::TriageQueue::Peek() {
  ReloadFromIncomingQueueIfEmpty();
  DCHECK(!queue_.empty());
  return queue_.front();
}

PendingTask IncomingTaskQueue::TriageQueue::Pop() {
  ReloadFromIncomingQueueIfEmpty();
  DCHECK(!queue_.empty());
  PendingTask pending_task = std::move(queue_.front());
  queue_.pop_front();
  if (pending_task.is_high_res)
    --outer_->pending_high_res_tasks_;
  return pending_task;
}

bool IncomingTaskQueue::TriageQueue::HasTasks() {
  ReloadFromIncomingQueueIfEmpty();
  return !queue_.empty();
}

void IncomingTaskQueue::TriageQueue::Clear() {
  while (!queue_.empty()) {
    PendingTask pending_task = std::move(queue_.front());
    queue_.pop_front();
    if (pending_task.is_high_res)
      --outer_->pending_high_res_tasks_;
    if (!pending_task.delayed_run_time.is_null())
      outer_->delayed_tasks().Push(std::move(pending_task));
  }
}

void IncomingTaskQueue::TriageQueue::ReloadFromIncomingQueueIfEmpty() {
  if (queue_.empty())
    outer_->pending_high_res_tasks_ += outer_->ReloadWorkQueue(&queue_);
}

// DelayedQueue ---------------------------------------------------------------

IncomingTaskQueue::DelayedQueue::DelayedQueue(IncomingTaskQueue* outer)
    : outer_(outer) {}

IncomingTaskQueue::DelayedQueue::~DelayedQueue() = default;

void IncomingTaskQueue::DelayedQueue::Push(PendingTask pending_task) {
  if (pending_task.is_high_res)
    ++outer_->pending_high_res_tasks_;
  queue_.push_back(std::move(pending_task));
  std::push_heap(queue_.begin(), queue_.end());
}

const PendingTask& IncomingTaskQueue::DelayedQueue::Peek() {
  DCHECK(!queue_.empty());
  return queue_.front();
}

PendingTask IncomingTaskQueue::DelayedQueue::Pop() {
  DCHECK(!queue_.empty());
  std::pop_heap(queue_.begin(), queue_.end());
  PendingTask pending_task = std::move(queue_.back());
  queue_.pop_back();
  if (pending_task.is_high_res)
    --outer_->pending_high_res_tasks_;
  return pending_task;
}

bool IncomingTaskQueue::DelayedQueue::HasTasks() {
  // A task whose weak receiver died would only be skipped when due; drop it
  // now so that it does not hold the pump's timer.
  while (!queue_.empty() && Peek().task.IsCancelled())
    Pop();
  return !queue_.empty();
}

void IncomingTaskQueue::DelayedQueue::Clear() {
  while (!queue_.empty())
    Pop();
}

// DeferredQueue --------------------------------------------------------------

IncomingTaskQueue::DeferredQueue::DeferredQueue(IncomingTaskQueue* outer)
    : outer_(outer) {}

IncomingTaskQueue::DeferredQueue::~DeferredQueue() = default;

void IncomingTaskQueue::DeferredQueue::Push(PendingTask pending_task) {
  if (pending_task.is_high_res)
    ++outer_->pending_high_res_tasks_;
  queue_.push_back(std::move(pending_task));
}

const PendingTask& IncomingTaskQueue::DeferredQueue::Peek() {
  DCHECK(!queue_.empty());
  return queue_.front();
}

PendingTask IncomingTaskQueue::DeferredQueue::Pop() {
  DCHECK(!queue_.empty());
  PendingTask pending_task = std::move(queue_.front());
  queue_.pop_front();
  if (pending_task.is_high_res)
    --outer_->pending_high_res_tasks_;
  return pending_task;
}

bool IncomingTaskQueue::DeferredQueue::HasTasks() {
  return !queue_.empty();
}

void IncomingTaskQueue::DeferredQueue::Clear() {
  while (!queue_.empty())
    Pop();
}

}  // namespace internal
}  // namespace base
