#ifndef BASE_TASK_SCHEDULER_SCHEDULER_WORKER_STACK_H_
#define BASE_TASK_SCHEDULER_SCHEDULER_WORKER_STACK_H_

#include <stddef.h>

#include <vector>

#include "base/macros.h"

namespace base {
namespace internal {

class SchedulerWorker;

// The idle workers of a pool, last in first out, so that the most recently
// active worker (with warm caches) is woken first and those below it may
// time out. Does not own the workers; not thread-safe (the pool's lock
// guards it).
class SchedulerWorkerStack {
 public:
  SchedulerWorkerStack();
  ~SchedulerWorkerStack();

  // |worker| must not be on the stack already.
  void Push(SchedulerWorker* worker);

  // Removes and returns the top worker, or null when empty.
  SchedulerWorker* Pop();

  // The top worker, or null when empty.
  SchedulerWorker* Peek() const;

  // Whether |worker| is on the stack.
  bool Contains(const SchedulerWorker* worker) const;

  // Removes |worker| wherever it stands; nothing when absent.
  void Remove(const SchedulerWorker* worker);

  size_t Size() const { return stack_.size(); }
  bool IsEmpty() const { return stack_.empty(); }

 private:
  std::vector<SchedulerWorker*> stack_;

  DISALLOW_COPY_AND_ASSIGN(SchedulerWorkerStack);
};

}  // namespace internal
}  // namespace base

#endif  // BASE_TASK_SCHEDULER_SCHEDULER_WORKER_STACK_H_
