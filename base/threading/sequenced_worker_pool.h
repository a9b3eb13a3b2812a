#ifndef BASE_THREADING_SEQUENCED_WORKER_POOL_H_
#define BASE_THREADING_SEQUENCED_WORKER_POOL_H_

#include <stddef.h>

#include <memory>
#include <string>

#include "base/callback.h"
#include "base/location.h"
#include "base/macros.h"
#include "base/memory/ref_counted.h"
#include "base/memory/scoped_refptr.h"
#include "base/sequenced_task_runner.h"
#include "base/task_runner.h"
#include "base/task_scheduler/task_traits.h"
#include "base/time/time.h"

namespace base {

// Runs tasks on a few threads of its own, made on demand up to a maximum.
// Tasks that share a sequence token run one at a time in posting order;
// everything else runs in parallel. Each task says what Shutdown() does
// with it.
//
// The workers keep the pool alive until Shutdown() lets them finish, so
// every pool that ever ran a task must be shut down. Deleting the pool joins
// its workers; a last reference dropped on a worker therefore sends the
// deletion to the sequence that made the pool.
class SequencedWorkerPool : public TaskRunner {
 public:
  enum WorkerShutdown {
    // May still be pending or running when Shutdown() returns.
    CONTINUE_ON_SHUTDOWN = 0,
    // Dropped when not started by the time Shutdown() is called; holds
    // Shutdown() up while it runs.
    SKIP_ON_SHUTDOWN = 1,
    // Shutdown() waits until it has run.
    BLOCK_SHUTDOWN = 2,
  };

  // Names a sequence. The default token (0) is no sequence. Ids come from a
  // process-wide counter, so a token belongs to at most one pool.
  class SequenceToken {
   public:
    SequenceToken() = default;

    bool Equals(const SequenceToken& other) const { return id_ == other.id_; }
    bool IsValid() const { return id_ != 0; }
    int ToInternalValue() const { return id_; }

   private:
    friend class SequencedWorkerPool;

    explicit SequenceToken(int id) : id_(id) {}

    int id_ = 0;
  };

  // The token of the task this worker thread runs or last ran; the default
  // token on any other thread.
  static SequenceToken GetSequenceTokenForCurrentThread();

  // The pool of this worker thread, or null on any other thread.
  static scoped_refptr<SequencedWorkerPool> GetWorkerPoolForCurrentThread();

  // The calling sequence must have a task runner: the pool is deleted there.
  // Workers are named |thread_name_prefix| + "Worker" + their number.
  SequencedWorkerPool(size_t max_threads,
                      const std::string& thread_name_prefix);
  // |priority| is kept for callers that ask; it changes nothing for the
  // pool's own workers.
  SequencedWorkerPool(size_t max_threads,
                      const std::string& thread_name_prefix,
                      TaskPriority priority);

  // A new token, never handed out before.
  SequenceToken GetSequenceToken();

  // The same token for every call with |name|.
  SequenceToken GetNamedSequenceToken(const std::string& name);

  // A runner posting |token|'s tasks as BLOCK_SHUTDOWN.
  scoped_refptr<SequencedTaskRunner> GetSequencedTaskRunner(
      SequenceToken token);
  scoped_refptr<SequencedTaskRunner> GetSequencedTaskRunnerWithShutdownBehavior(
      SequenceToken token, WorkerShutdown shutdown_behavior);

  // Unsequenced BLOCK_SHUTDOWN task.
  bool PostWorkerTask(const Location& from_here, OnceClosure task);
  bool PostWorkerTaskWithShutdownBehavior(const Location& from_here,
                                          OnceClosure task,
                                          WorkerShutdown shutdown_behavior);
  // BLOCK_SHUTDOWN task of |token|.
  bool PostSequencedWorkerTask(SequenceToken token,
                               const Location& from_here,
                               OnceClosure task);
  // BLOCK_SHUTDOWN task of the token named |token_name|.
  bool PostNamedSequencedWorkerTask(const std::string& token_name,
                                    const Location& from_here,
                                    OnceClosure task);
  // A delayed task is always SKIP_ON_SHUTDOWN.
  bool PostDelayedSequencedWorkerTask(SequenceToken token,
                                      const Location& from_here,
                                      OnceClosure task,
                                      TimeDelta delay);
  bool PostSequencedWorkerTaskWithShutdownBehavior(
      SequenceToken token,
      const Location& from_here,
      OnceClosure task,
      WorkerShutdown shutdown_behavior);

  // TaskRunner: unsequenced; BLOCK_SHUTDOWN without a delay,
  // SKIP_ON_SHUTDOWN with one.
  bool PostDelayedTask(const Location& from_here,
                       OnceClosure task,
                       TimeDelta delay) override;
  // True on any worker of this pool.
  bool RunsTasksInCurrentSequence() const override;

  // True on a worker of this pool that is running a task of |token| now.
  bool IsRunningSequenceOnCurrentThread(SequenceToken token) const;

  // Stops taking tasks other than up to |max_new_blocking_tasks_after_shutdown|
  // BLOCK_SHUTDOWN ones, drops pending tasks that need not run, and blocks
  // until no BLOCK_SHUTDOWN task is pending and no worker runs a task that
  // is not CONTINUE_ON_SHUTDOWN. Later calls return at once.
  void Shutdown(int max_new_blocking_tasks_after_shutdown);
  void Shutdown() { Shutdown(0); }

  bool IsShutdownInProgress();

  // Workers that exist, and those of them asleep waiting for work.
  size_t NumberOfWorkersForTesting() const;
  size_t NumberOfWaitingWorkersForTesting() const;

  TaskPriority priority() const { return priority_; }

 protected:
  ~SequencedWorkerPool() override;

  void OnDestruct() const override;

 private:
  class Inner;
  class PoolSequencedTaskRunner;
  class Worker;

  static void DeletePool(const SequencedWorkerPool* pool);

  // The runner of the sequence that made the pool.
  const scoped_refptr<SequencedTaskRunner> constructor_task_runner_;
  const std::unique_ptr<Inner> inner_;
  const TaskPriority priority_;

  DISALLOW_COPY_AND_ASSIGN(SequencedWorkerPool);
};

}  // namespace base

#endif  // BASE_THREADING_SEQUENCED_WORKER_POOL_H_
