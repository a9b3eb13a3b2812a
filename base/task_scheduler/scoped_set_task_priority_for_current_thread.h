#ifndef BASE_TASK_SCHEDULER_SCOPED_SET_TASK_PRIORITY_FOR_CURRENT_THREAD_H_
#define BASE_TASK_SCHEDULER_SCOPED_SET_TASK_PRIORITY_FOR_CURRENT_THREAD_H_

#include "base/macros.h"
#include "base/task_scheduler/task_traits.h"

namespace base {
namespace internal {

// While alive, |priority| is the current thread's task priority: tasks that
// the running task posts without choosing a priority inherit it.
class ScopedSetTaskPriorityForCurrentThread {
 public:
  explicit ScopedSetTaskPriorityForCurrentThread(TaskPriority priority);
  ~ScopedSetTaskPriorityForCurrentThread();

 private:
  const TaskPriority priority_;

  DISALLOW_COPY_AND_ASSIGN(ScopedSetTaskPriorityForCurrentThread);
};

// The priority set on this thread, or USER_VISIBLE when none is.
TaskPriority GetTaskPriorityForCurrentThread();

}  // namespace internal
}  // namespace base

#endif  // BASE_TASK_SCHEDULER_SCOPED_SET_TASK_PRIORITY_FOR_CURRENT_THREAD_H_
