#ifndef BASE_TASK_RUNNER_H_
#define BASE_TASK_RUNNER_H_

#include "base/callback.h"
#include "base/location.h"
#include "base/memory/ref_counted.h"
#include "base/time/time.h"

namespace base {

class TaskRunner;

// The last release of a task runner goes through OnDestruct(), so that a
// runner can choose the thread it dies on.
struct TaskRunnerTraits {
  static void Destruct(const TaskRunner* task_runner);
};

// Where tasks are posted. Runners are shared between threads and held by
// scoped_refptr; a new runner's count is 0 until its first holder takes it.
class TaskRunner : public RefCountedThreadSafe<TaskRunner, TaskRunnerTraits> {
 public:
  // Returns true when the task was accepted; a refused task is destroyed
  // without running. The delay is a minimum.
  virtual bool PostDelayedTask(const Location& from_here,
                               OnceClosure task,
                               TimeDelta delay) = 0;

  // True when the calling thread or sequence is the one this runner runs
  // its tasks on.
  virtual bool RunsTasksInCurrentSequence() const = 0;

  bool PostTask(const Location& from_here, OnceClosure task);

  // Posts |task| to this runner and, once it has run and been destroyed,
  // runs |reply| on the sequence that called this (which must have a
  // runner). Returns false, destroying both at once, when the task is
  // refused. Should a runner drop a task later (it stops accepting tasks),
  // the task and reply leak rather than die on a foreign thread.
  bool PostTaskAndReply(const Location& from_here,
                        OnceClosure task,
                        OnceClosure reply);

 protected:
  friend struct TaskRunnerTraits;

  TaskRunner();
  virtual ~TaskRunner();

  // Called on the last release; deletes the runner.
  virtual void OnDestruct() const;
};

}  // namespace base

#endif  // BASE_TASK_RUNNER_H_
