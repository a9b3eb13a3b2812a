#include "base/task_scheduler/scoped_set_task_priority_for_current_thread.h"

#include "base/check.h"
#include "base/lazy_instance.h"
#include "base/threading/thread_local_storage.h"

namespace base {
namespace internal {

namespace {

// Points at the priority owned by the scope on the thread's stack.
LazyInstance<ThreadLocalStorage::Slot>::Leaky g_task_priority_slot =
    LAZY_INSTANCE_INITIALIZER;

}  // namespace

ScopedSetTaskPriorityForCurrentThread::ScopedSetTaskPriorityForCurrentThread(
    TaskPriority priority)
    : priority_(priority) {
  DCHECK(!g_task_priority_slot.Get().Get());
  g_task_priority_slot.Get().Set(const_cast<TaskPriority*>(&priority_));
}

ScopedSetTaskPriorityForCurrentThread::
    ~ScopedSetTaskPriorityForCurrentThread() {
  g_task_priority_slot.Get().Set(nullptr);
}

TaskPriority GetTaskPriorityForCurrentThread() {
  const TaskPriority* priority =
      static_cast<const TaskPriority*>(g_task_priority_slot.Get().Get());
  return priority ? *priority : TaskPriority::USER_VISIBLE;
}

}  // namespace internal
}  // namespace base
