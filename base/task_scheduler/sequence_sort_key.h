#ifndef BASE_TASK_SCHEDULER_SEQUENCE_SORT_KEY_H_
#define BASE_TASK_SCHEDULER_SEQUENCE_SORT_KEY_H_

#include "base/task_scheduler/task_traits.h"
#include "base/time/time.h"

namespace base {
namespace internal {

// Where a sequence stands in a priority queue: by the highest priority of its
// tasks, then by how long its front task has waited.
class SequenceSortKey {
 public:
  SequenceSortKey(TaskPriority priority, TimeTicks next_task_sequenced_time);

  // True when |other| should run before this key: a higher priority, or the
  // same priority with an older front task.
  bool operator<(const SequenceSortKey& other) const;
  bool operator>(const SequenceSortKey& other) const { return other < *this; }

  bool operator==(const SequenceSortKey& other) const {
    return priority_ == other.priority_ &&
           next_task_sequenced_time_ == other.next_task_sequenced_time_;
  }
  bool operator!=(const SequenceSortKey& other) const {
    return !(other == *this);
  }

  TaskPriority priority() const { return priority_; }
  TimeTicks next_task_sequenced_time() const {
    return next_task_sequenced_time_;
  }

 private:
  TaskPriority priority_;
  TimeTicks next_task_sequenced_time_;
};

}  // namespace internal
}  // namespace base

#endif  // BASE_TASK_SCHEDULER_SEQUENCE_SORT_KEY_H_
