#include "base/task_runner.h"

#include <utility>

#include "base/threading/post_task_and_reply_impl.h"

namespace base {

// static
void TaskRunnerTraits::Destruct(const TaskRunner* task_runner) {
  task_runner->OnDestruct();
}

TaskRunner::TaskRunner() = default;

TaskRunner::~TaskRunner() = default;

bool TaskRunner::PostTask(const Location& from_here, OnceClosure task) {
  return PostDelayedTask(from_here, std::move(task), TimeDelta());
}

namespace {

// Posts the task of a task-and-reply to one runner.
class PostTaskAndReplyTaskRunner : public internal::PostTaskAndReplyImpl {
 public:
  explicit PostTaskAndReplyTaskRunner(TaskRunner* destination)
      : destination_(destination) {}

 private:
  bool PostTask(const Location& from_here, OnceClosure task) override {
    return destination_->PostTask(from_here, std::move(task));
  }

  // Non-owning: the runner outlives this poster, which lives only for the
  // duration of one PostTaskAndReply call.
  TaskRunner* destination_;
};

}  // namespace

bool TaskRunner::PostTaskAndReply(const Location& from_here,
                                  OnceClosure task,
                                  OnceClosure reply) {
  return PostTaskAndReplyTaskRunner(this).PostTaskAndReply(
      from_here, std::move(task), std::move(reply));
}

void TaskRunner::OnDestruct() const {
  delete this;
}

}  // namespace base
