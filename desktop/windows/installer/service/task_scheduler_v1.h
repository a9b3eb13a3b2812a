#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_V1_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_V1_H_

#include <windows.h>
#include <mstask.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "base/macros.h"
#include "desktop/windows/installer/service/windows_task_scheduler.h"

namespace installer {

// The scheduler over the Task Scheduler 1.0 interfaces, for systems before
// Windows Vista. Each task is a ".job" file of the system's task folder.
class TaskSchedulerV1 : public WindowsTaskScheduler {
 public:
  TaskSchedulerV1();
  ~TaskSchedulerV1() override;

  bool Initialize() override;
  bool RegisterTask(const ScheduledTaskInfo& info) override;
  void RemoveOrphanedTasks() override;
  void RemoveTask(const std::wstring& name) override;
  void SetDailyInterval(const std::wstring& name, unsigned days) override;
  void SetTaskEnabled(const std::wstring& name, bool enabled) override;
  bool RunTask(const std::wstring& name,
               const std::vector<std::wstring>& arguments) override;
  ScheduledTaskState GetTaskState(const std::wstring& name) override;
  base::Time GetLastRunTime(const std::wstring& name) override;

 private:
  // The task of the full name |full_name|; null when it cannot be opened.
  Microsoft::WRL::ComPtr<ITask> Activate(const std::wstring& full_name);

  Microsoft::WRL::ComPtr<ITaskScheduler> scheduler_;

  DISALLOW_COPY_AND_ASSIGN(TaskSchedulerV1);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_V1_H_
