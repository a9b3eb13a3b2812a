#include "desktop/windows/installer/common/scheduled_task_info.h"

namespace installer {

ScheduledTaskInfo::ScheduledTaskInfo(const base::CommandLine& command_line)
    : command_line(command_line) {}

ScheduledTaskInfo::ScheduledTaskInfo(const ScheduledTaskInfo& other) = default;

ScheduledTaskInfo::~ScheduledTaskInfo() = default;

}  // namespace installer
