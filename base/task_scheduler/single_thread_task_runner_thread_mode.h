#ifndef BASE_TASK_SCHEDULER_SINGLE_THREAD_TASK_RUNNER_THREAD_MODE_H_
#define BASE_TASK_SCHEDULER_SINGLE_THREAD_TASK_RUNNER_THREAD_MODE_H_

#include <stdint.h>

namespace base {

enum class SingleThreadTaskRunnerThreadMode : int32_t {
  // Runners of one environment share a thread, kept until the scheduler
  // joins.
  SHARED = 0,
  // The runner has a thread of its own, which ends with the runner.
  DEDICATED = 1,
};

}  // namespace base

#endif  // BASE_TASK_SCHEDULER_SINGLE_THREAD_TASK_RUNNER_THREAD_MODE_H_
