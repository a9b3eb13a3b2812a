#include "base/pending_task.h"

#include "base/message_loop/message_loop.h"

namespace base {

PendingTask::PendingTask(const Location& posted_from,
                         OnceClosure task,
                         TimeTicks delayed_run_time,
                         Nestable nestable)
    : task(std::move(task)),
      posted_from(posted_from),
      delayed_run_time(delayed_run_time),
      nestable(nestable) {
  // Chain the posting sites: a task posted by a running task remembers where
  // that task came from, so a crash dump shows the last few hops.
  MessageLoop* current_loop = MessageLoop::current();
  const PendingTask* parent =
      current_loop ? current_loop->current_pending_task() : nullptr;
  if (parent) {
    task_backtrace[0] = parent->posted_from.program_counter();
    for (size_t i = 1; i < task_backtrace.size(); ++i)
      task_backtrace[i] = parent->task_backtrace[i - 1];
  }
}

PendingTask::PendingTask(PendingTask&& other) = default;

PendingTask& PendingTask::operator=(PendingTask&& other) = default;

PendingTask::~PendingTask() = default;

bool PendingTask::operator<(const PendingTask& other) const {
  // The delayed queue is a max-heap, so "less" means "runs later".
  if (delayed_run_time < other.delayed_run_time)
    return false;
  if (delayed_run_time > other.delayed_run_time)
    return true;
  return sequence_num > other.sequence_num;
}

}  // namespace base
