#include "base/task_scheduler/task_traits.h"

namespace base {

const char* TaskPriorityToString(TaskPriority priority) {
  switch (priority) {
    case TaskPriority::BACKGROUND:
      return "BACKGROUND";
    case TaskPriority::USER_VISIBLE:
      return "USER_VISIBLE";
    case TaskPriority::USER_BLOCKING:
      return "USER_BLOCKING";
  }
  return "";
}

}  // namespace base
