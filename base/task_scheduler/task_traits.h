#ifndef BASE_TASK_SCHEDULER_TASK_TRAITS_H_
#define BASE_TASK_SCHEDULER_TASK_TRAITS_H_

#include <stdint.h>

namespace base {

// How urgently a task should run. Ordered: a larger value runs first.
enum class TaskPriority : int32_t {
  BACKGROUND = 0,
  USER_VISIBLE = 1,
  USER_BLOCKING = 2,
  LOWEST = BACKGROUND,
  HIGHEST = USER_BLOCKING,
};

// What shutdown does with a task that has not run yet (or is running).
enum class TaskShutdownBehavior : int32_t {
  // Not started once shutdown has started; may still be running when
  // shutdown completes.
  CONTINUE_ON_SHUTDOWN = 0,
  // Not started once shutdown has started; a task already running holds up
  // shutdown until it ends.
  SKIP_ON_SHUTDOWN = 1,
  // Shutdown waits until the task has run.
  BLOCK_SHUTDOWN = 2,
};

// "BACKGROUND", "USER_VISIBLE" or "USER_BLOCKING"; "" for any other value.
const char* TaskPriorityToString(TaskPriority priority);

// The properties a task is posted with. Each field that a caller may choose
// carries a mark telling whether it was chosen, so that a priority left
// unset can be inherited from the posting thread's current task.
//
//   PostTaskWithTraits(FROM_HERE,
//                      TaskTraits().MayBlock().WithPriority(
//                          TaskPriority::BACKGROUND),
//                      BindOnce(&ScanFolder, path));
struct TaskTraits {
  constexpr TaskTraits() = default;

  // Copies with one more field chosen (and marked as chosen).
  constexpr TaskTraits WithPriority(TaskPriority new_priority) const {
    TaskTraits traits = *this;
    traits.priority_set_explicitly = true;
    traits.priority = new_priority;
    return traits;
  }
  constexpr TaskTraits WithShutdownBehavior(
      TaskShutdownBehavior new_behavior) const {
    TaskTraits traits = *this;
    traits.shutdown_behavior_set_explicitly = true;
    traits.shutdown_behavior = new_behavior;
    return traits;
  }
  constexpr TaskTraits MayBlock() const {
    TaskTraits traits = *this;
    traits.may_block = true;
    return traits;
  }
  constexpr TaskTraits WithBaseSyncPrimitives() const {
    TaskTraits traits = *this;
    traits.with_base_sync_primitives = true;
    return traits;
  }

  bool priority_set_explicitly = false;
  TaskPriority priority = TaskPriority::USER_VISIBLE;
  bool shutdown_behavior_set_explicitly = false;
  TaskShutdownBehavior shutdown_behavior =
      TaskShutdownBehavior::SKIP_ON_SHUTDOWN;
  // The task may block (file access and the like): it goes to a pool whose
  // workers are allowed to.
  bool may_block = false;
  // The task may wait on events, locks or condition variables of its own.
  bool with_base_sync_primitives = false;
};

}  // namespace base

#endif  // BASE_TASK_SCHEDULER_TASK_TRAITS_H_
