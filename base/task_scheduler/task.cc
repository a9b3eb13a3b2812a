#include "base/task_scheduler/task.h"

#include <utility>

namespace base {
namespace internal {

namespace {

TaskTraits EffectiveTraits(const TaskTraits& traits, TimeDelta delay) {
  if (delay.is_zero() ||
      traits.shutdown_behavior != TaskShutdownBehavior::BLOCK_SHUTDOWN) {
    return traits;
  }
  return traits.WithShutdownBehavior(TaskShutdownBehavior::SKIP_ON_SHUTDOWN);
}

}  // namespace

Task::Task(const Location& posted_from,
           OnceClosure task,
           const TaskTraits& traits,
           TimeDelta delay)
    : PendingTask(posted_from,
                  std::move(task),
                  delay.is_zero() ? TimeTicks() : TimeTicks::Now() + delay,
                  Nestable::kNonNestable),
      traits(EffectiveTraits(traits, delay)),
      delay(delay) {}

Task::Task(Task&& other) = default;

Task& Task::operator=(Task&& other) = default;

Task::~Task() = default;

}  // namespace internal
}  // namespace base
