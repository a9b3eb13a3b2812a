#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_V2_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_V2_H_

#include <windows.h>
#include <taskschd.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "base/callback.h"
#include "base/macros.h"
#include "desktop/windows/installer/service/windows_task_scheduler.h"

namespace base {
class Clock;
}

namespace installer {

// The scheduler over the Task Scheduler 2.0 interfaces (Windows Vista and
// later). Tasks live in the root folder.
class TaskSchedulerV2 : public WindowsTaskScheduler {
 public:
  // Makes the Task Scheduler's service object, not yet connected.
  using TaskServiceCreator = base::RepeatingCallback<HRESULT(
      Microsoft::WRL::ComPtr<ITaskService>* service)>;

  // The system's service, made in process, and the system clock.
  TaskSchedulerV2();
  // |clock| gives the time of the triggers' boundaries; it must outlive the
  // object.
  TaskSchedulerV2(TaskServiceCreator creator, base::Clock* clock);
  ~TaskSchedulerV2() override;

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
  // The registered task of the caller's |name|; null when it cannot be
  // opened.
  Microsoft::WRL::ComPtr<IRegisteredTask> GetTask(const std::wstring& name);
  bool AddTriggers(const ScheduledTaskInfo& info,
                   const std::wstring& user,
                   ITaskDefinition* definition,
                   const std::wstring& boundary);
  bool AddExecAction(const ScheduledTaskInfo& info,
                     ITaskDefinition* definition);

  TaskServiceCreator creator_;
  base::Clock* const clock_;
  Microsoft::WRL::ComPtr<ITaskService> service_;
  Microsoft::WRL::ComPtr<ITaskFolder> root_;

  DISALLOW_COPY_AND_ASSIGN(TaskSchedulerV2);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_V2_H_
