#include "base/task_scheduler/post_task.h"

#include <utility>

#include "base/check.h"
#include "base/task_scheduler/scoped_set_task_priority_for_current_thread.h"
#include "base/task_scheduler/task_scheduler.h"
#include "base/threading/post_task_and_reply_impl.h"

namespace base {

namespace {

class PostTaskAndReplyWithTraitsTaskRunner
    : public internal::PostTaskAndReplyImpl {
 public:
  explicit PostTaskAndReplyWithTraitsTaskRunner(const TaskTraits& traits)
      : traits_(traits) {}

 private:
  bool PostTask(const Location& from_here, OnceClosure task) override {
    PostTaskWithTraits(from_here, traits_, std::move(task));
    return true;
  }

  const TaskTraits traits_;
};

// Work posted from a scheduler task keeps that task's urgency unless the
// poster chose one.
TaskTraits GetTaskTraitsWithExplicitPriority(const TaskTraits& traits) {
  if (traits.priority_set_explicitly)
    return traits;
  return traits.WithPriority(internal::GetTaskPriorityForCurrentThread());
}

TaskScheduler* GetTaskScheduler() {
  TaskScheduler* const task_scheduler = TaskScheduler::GetInstance();
  CHECK(task_scheduler);
  return task_scheduler;
}

}  // namespace

void PostTaskWithTraits(const Location& from_here,
                        const TaskTraits& traits,
                        OnceClosure task) {
  GetTaskScheduler()->PostDelayedTaskWithTraits(
      from_here, GetTaskTraitsWithExplicitPriority(traits), std::move(task),
      TimeDelta());
}

bool PostTaskWithTraitsAndReply(const Location& from_here,
                                const TaskTraits& traits,
                                OnceClosure task,
                                OnceClosure reply) {
  return PostTaskAndReplyWithTraitsTaskRunner(traits).PostTaskAndReply(
      from_here, std::move(task), std::move(reply));
}

scoped_refptr<TaskRunner> CreateTaskRunnerWithTraits(const TaskTraits& traits) {
  return GetTaskScheduler()->CreateTaskRunnerWithTraits(
      GetTaskTraitsWithExplicitPriority(traits));
}

scoped_refptr<SequencedTaskRunner> CreateSequencedTaskRunnerWithTraits(
    const TaskTraits& traits) {
  return GetTaskScheduler()->CreateSequencedTaskRunnerWithTraits(
      GetTaskTraitsWithExplicitPriority(traits));
}

}  // namespace base
