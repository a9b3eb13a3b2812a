#ifndef BASE_TASK_SCHEDULER_ENVIRONMENT_CONFIG_H_
#define BASE_TASK_SCHEDULER_ENVIRONMENT_CONFIG_H_

#include <stddef.h>

#include "base/task_scheduler/task_traits.h"
#include "base/threading/platform_thread.h"

namespace base {
namespace internal {

// The scheduler's four environments, one worker pool each, in index order.
enum EnvironmentType {
  BACKGROUND = 0,
  BACKGROUND_BLOCKING = 1,
  FOREGROUND = 2,
  FOREGROUND_BLOCKING = 3,
  ENVIRONMENT_COUNT = 4,
};

struct EnvironmentParams {
  // Suffix of the pool's names ("Background", ...).
  const char* name_suffix;
  // Thread priority of the environment's workers.
  ThreadPriority priority_hint;
};

extern const EnvironmentParams kEnvironmentParams[ENVIRONMENT_COUNT];

// Index of the environment that runs tasks with |traits|: background or
// foreground by priority, blocking when the task may block or wait.
size_t GetEnvironmentIndexForTraits(const TaskTraits& traits);

}  // namespace internal
}  // namespace base

#endif  // BASE_TASK_SCHEDULER_ENVIRONMENT_CONFIG_H_
