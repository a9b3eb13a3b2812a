#include "base/task_runner.h"

#include <utility>

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

void TaskRunner::OnDestruct() const {
  delete this;
}

}  // namespace base
