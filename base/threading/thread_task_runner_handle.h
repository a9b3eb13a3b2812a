#ifndef BASE_THREADING_THREAD_TASK_RUNNER_HANDLE_H_
#define BASE_THREADING_THREAD_TASK_RUNNER_HANDLE_H_

#include "base/macros.h"
#include "base/memory/scoped_refptr.h"
#include "base/single_thread_task_runner.h"

namespace base {

// Makes |task_runner| the current thread's runner for as long as the handle
// lives. At most one handle exists per thread at a time.
class ThreadTaskRunnerHandle {
 public:
  // The current thread's runner. A thread without a handle is a fatal error.
  static scoped_refptr<SingleThreadTaskRunner> Get();

  // Whether the current thread has a handle.
  static bool IsSet();

  explicit ThreadTaskRunnerHandle(
      scoped_refptr<SingleThreadTaskRunner> task_runner);
  ~ThreadTaskRunnerHandle();

 private:
  scoped_refptr<SingleThreadTaskRunner> task_runner_;

  DISALLOW_COPY_AND_ASSIGN(ThreadTaskRunnerHandle);
};

}  // namespace base

#endif  // BASE_THREADING_THREAD_TASK_RUNNER_HANDLE_H_
