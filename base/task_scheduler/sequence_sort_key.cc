#include "base/task_scheduler/sequence_sort_key.h"

#include <stdint.h>

namespace base {
namespace internal {

SequenceSortKey::SequenceSortKey(TaskPriority priority,
                                 TimeTicks next_task_sequenced_time)
    : priority_(priority),
      next_task_sequenced_time_(next_task_sequenced_time) {}

bool SequenceSortKey::operator<(const SequenceSortKey& other) const {
  const int32_t priority_diff =
      static_cast<int32_t>(priority_) - static_cast<int32_t>(other.priority_);
  if (priority_diff != 0)
    return priority_diff < 0;
  // The later the front task was queued, the lower the key.
  return next_task_sequenced_time_ > other.next_task_sequenced_time_;
}

}  // namespace internal
}  // namespace base
