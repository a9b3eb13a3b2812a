#ifndef DESKTOP_WINDOWS_INSTALLER_COMMON_SCHEDULED_TASK_INFO_H_
#define DESKTOP_WINDOWS_INSTALLER_COMMON_SCHEDULED_TASK_INFO_H_

#include <stdint.h>

#include <string>

#include "base/command_line.h"

namespace installer {

enum ScheduledTaskSchedule : uint32_t {
  // Starts once right away; the task is removed afterwards.
  RUN_ONCE = 0,
  // Every day at the time of registration.
  DAILY = 1,
  // Only the logon (or boot) trigger, if any.
  NO_TIME_TRIGGER = 2,
};

// What a scheduled task registration creates.
struct ScheduledTaskInfo {
  explicit ScheduledTaskInfo(const base::CommandLine& command_line);
  ScheduledTaskInfo(const ScheduledTaskInfo& other);
  ~ScheduledTaskInfo();

  // The program becomes the task's executable, everything else its
  // arguments.
  base::CommandLine command_line;
  // The caller's part of the task name; the product name and " scheduled "
  // go before it.
  std::wstring name;
  std::wstring description;
  // 1: runs as the local system account (with a boot trigger in place of
  // the logon trigger); 0: runs as the current user.
  uint32_t run_as_system = 0;
  // 0 means no limit.
  uint32_t execution_time_limit_seconds = 0;
  ScheduledTaskSchedule schedule = DAILY;
  // Ignored for RUN_ONCE.
  uint8_t add_logon_trigger = 0;
  uint8_t run_only_if_network_available = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_COMMON_SCHEDULED_TASK_INFO_H_
