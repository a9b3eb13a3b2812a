#ifndef BASE_DEBUG_TASK_ANNOTATOR_H_
#define BASE_DEBUG_TASK_ANNOTATOR_H_

#include <stdint.h>

#include "base/macros.h"

namespace base {

struct PendingTask;

namespace debug {

// Records the posting and running of tasks as trace flow events, and keeps
// the chain of posting sites of a running task on the stack so that a crash
// dump shows where the task came from.
class TaskAnnotator {
 public:
  TaskAnnotator();
  ~TaskAnnotator();

  // Called when |pending_task| is queued by |queue_function|.
  void DidQueueTask(const char* queue_function,
                    const PendingTask& pending_task);

  // Runs |pending_task|, consuming its closure.
  void RunTask(const char* queue_function, PendingTask* pending_task);

  // The trace flow identifier of |task| for this annotator.
  uint64_t GetTaskTraceID(const PendingTask& task) const;

 private:
  DISALLOW_COPY_AND_ASSIGN(TaskAnnotator);
};

}  // namespace debug
}  // namespace base

#endif  // BASE_DEBUG_TASK_ANNOTATOR_H_
