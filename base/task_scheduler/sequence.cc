#include "base/task_scheduler/sequence.h"

#include <utility>

#include "base/check.h"

namespace base {
namespace internal {

Sequence::Sequence() = default;

Sequence::~Sequence() = default;

bool Sequence::PushTask(Task task) {
  CHECK(task.task);
  // Read the clock before taking the lock: other threads may be waiting on
  // it, and the stamp need not be exact to the lock hand-off.
  task.sequenced_time = TimeTicks::Now();

  AutoLock auto_lock(lock_);
  ++num_tasks_per_priority_[static_cast<int>(task.traits.priority)];
  queue_.push_back(std::move(task));
  return queue_.size() == 1;
}

Task Sequence::TakeTask() {
  AutoLock auto_lock(lock_);
  DCHECK(!queue_.empty());
  DCHECK(queue_.front().task);
  const int priority_index = static_cast<int>(queue_.front().traits.priority);
  DCHECK_GT(num_tasks_per_priority_[priority_index], 0u);
  --num_tasks_per_priority_[priority_index];
  return std::move(queue_.front());
}

bool Sequence::Pop() {
  AutoLock auto_lock(lock_);
  DCHECK(!queue_.empty());
  DCHECK(!queue_.front().task);
  queue_.pop_front();
  return queue_.empty();
}

SequenceSortKey Sequence::GetSortKey() const {
  TaskPriority priority = TaskPriority::LOWEST;
  AutoLock auto_lock(lock_);
  DCHECK(!queue_.empty());
  if (num_tasks_per_priority_[static_cast<int>(TaskPriority::USER_BLOCKING)] !=
      0) {
    priority = TaskPriority::USER_BLOCKING;
  } else if (num_tasks_per_priority_[static_cast<int>(
                 TaskPriority::USER_VISIBLE)] != 0) {
    priority = TaskPriority::USER_VISIBLE;
  }
  return SequenceSortKey(priority, queue_.front().sequenced_time);
}

}  // namespace internal
}  // namespace base
