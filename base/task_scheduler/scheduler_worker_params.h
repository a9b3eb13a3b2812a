#ifndef BASE_TASK_SCHEDULER_SCHEDULER_WORKER_PARAMS_H_
#define BASE_TASK_SCHEDULER_SCHEDULER_WORKER_PARAMS_H_

#include <stdint.h>

namespace base {

// What a worker thread sets up for old code that expects it.
enum class SchedulerBackwardCompatibility : int32_t {
  DISABLED = 0,
  // The worker lives in a single-threaded COM apartment for its whole life.
  INIT_COM_STA = 1,
};

}  // namespace base

#endif  // BASE_TASK_SCHEDULER_SCHEDULER_WORKER_PARAMS_H_
