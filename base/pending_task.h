#ifndef BASE_PENDING_TASK_H_
#define BASE_PENDING_TASK_H_

#include <stdint.h>

#include <array>

#include "base/callback.h"
#include "base/location.h"
#include "base/time/time.h"

namespace base {

// Whether a task may run inside a nested run loop.
enum class Nestable : int32_t {
  kNonNestable = 0,
  kNestable = 1,
};

// A task posted to a message loop, with where it came from and when it is
// due.
struct PendingTask {
  PendingTask(const Location& posted_from,
              OnceClosure task,
              TimeTicks delayed_run_time = TimeTicks(),
              Nestable nestable = Nestable::kNestable);
  PendingTask(PendingTask&& other);
  PendingTask& operator=(PendingTask&& other);
  ~PendingTask();

  // Order for the delayed queue, whose top is the greatest element: the
  // earliest run time first, and among equal run times the first posted.
  bool operator<(const PendingTask& other) const;

  OnceClosure task;
  Location posted_from;
  // Null for a task that is to run as soon as possible.
  TimeTicks delayed_run_time;
  // The posting sites of the tasks that led to this one, most recent first;
  // null where the chain is shorter.
  std::array<const void*, 4> task_backtrace = {};
  int32_t sequence_num = 0;
  Nestable nestable;
  bool is_high_res = false;
};

}  // namespace base

#endif  // BASE_PENDING_TASK_H_
