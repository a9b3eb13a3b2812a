#ifndef BASE_TASK_SCHEDULER_POST_TASK_H_
#define BASE_TASK_SCHEDULER_POST_TASK_H_

#include "base/callback.h"
#include "base/location.h"
#include "base/memory/scoped_refptr.h"
#include "base/sequenced_task_runner.h"
#include "base/task_runner.h"
#include "base/task_scheduler/task_traits.h"

namespace base {

// Posting to the process task scheduler (which must exist). Traits whose
// priority was not chosen take the priority of the scheduler task running on
// the calling thread (USER_VISIBLE outside scheduler tasks).

// Posts |task| to run in parallel with any other.
void PostTaskWithTraits(const Location& from_here,
                        const TaskTraits& traits,
                        OnceClosure task);

// Posts |task|, then |reply| back to the calling sequence once it has run.
// Returns whether the task was handed over.
bool PostTaskWithTraitsAndReply(const Location& from_here,
                                const TaskTraits& traits,
                                OnceClosure task,
                                OnceClosure reply);

// A runner whose tasks may run in parallel.
scoped_refptr<TaskRunner> CreateTaskRunnerWithTraits(const TaskTraits& traits);

// A runner whose tasks run one at a time, in posting order.
scoped_refptr<SequencedTaskRunner> CreateSequencedTaskRunnerWithTraits(
    const TaskTraits& traits);

}  // namespace base

#endif  // BASE_TASK_SCHEDULER_POST_TASK_H_
