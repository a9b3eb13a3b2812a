#ifndef BASE_THREADING_SEQUENCED_TASK_RUNNER_HANDLE_H_
#define BASE_THREADING_SEQUENCED_TASK_RUNNER_HANDLE_H_

#include "base/macros.h"
#include "base/memory/scoped_refptr.h"
#include "base/sequenced_task_runner.h"

namespace base {

// Makes |task_runner| the current sequence's runner for as long as the
// handle lives on this thread.
class SequencedTaskRunnerHandle {
 public:
  // The runner of the current sequence: the handle's runner when one is set
  // on this thread, else the thread's own runner (ThreadTaskRunnerHandle).
  // A thread with no runner of any kind is a fatal error.
  static scoped_refptr<SequencedTaskRunner> Get();

  // Whether Get() would find a runner.
  static bool IsSet();

  explicit SequencedTaskRunnerHandle(
      scoped_refptr<SequencedTaskRunner> task_runner);
  ~SequencedTaskRunnerHandle();

 private:
  scoped_refptr<SequencedTaskRunner> task_runner_;

  DISALLOW_COPY_AND_ASSIGN(SequencedTaskRunnerHandle);
};

}  // namespace base

#endif  // BASE_THREADING_SEQUENCED_TASK_RUNNER_HANDLE_H_
