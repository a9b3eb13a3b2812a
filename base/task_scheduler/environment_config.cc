#include "base/task_scheduler/environment_config.h"

namespace base {
namespace internal {

const EnvironmentParams kEnvironmentParams[ENVIRONMENT_COUNT] = {
    {"Background", ThreadPriority::BACKGROUND},
    {"BackgroundBlocking", ThreadPriority::BACKGROUND},
    {"Foreground", ThreadPriority::NORMAL},
    {"ForegroundBlocking", ThreadPriority::NORMAL},
};

size_t GetEnvironmentIndexForTraits(const TaskTraits& traits) {
  const bool is_background = traits.priority == TaskPriority::BACKGROUND;
  if (traits.may_block || traits.with_base_sync_primitives)
    return is_background ? BACKGROUND_BLOCKING : FOREGROUND_BLOCKING;
  return is_background ? BACKGROUND : FOREGROUND;
}

}  // namespace internal
}  // namespace base
