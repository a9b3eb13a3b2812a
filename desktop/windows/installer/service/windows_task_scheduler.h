#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_WINDOWS_TASK_SCHEDULER_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_WINDOWS_TASK_SCHEDULER_H_

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "base/callback.h"
#include "base/time/time.h"

namespace installer {

struct ScheduledTaskInfo;

enum ScheduledTaskState : uint32_t {
  SCHEDULED_TASK_NOT_FOUND = 0,
  SCHEDULED_TASK_DISABLED = 1,
  SCHEDULED_TASK_UNKNOWN = 2,
  SCHEDULED_TASK_READY = 3,
  SCHEDULED_TASK_RUNNING = 4,
  // No further runs.
  SCHEDULED_TASK_FINISHED = 5,
};

// Creates, changes, runs and removes the tasks of the Windows Task
// Scheduler that keep the browser up to date. Names are the caller's part;
// the product name and " scheduled " go before it. Used on the thread that
// made it, a single-threaded COM apartment.
class WindowsTaskScheduler {
 public:
  virtual ~WindowsTaskScheduler() = default;

  // Before anything else; on failure the caller only drops the object.
  virtual bool Initialize() = 0;
  virtual bool RegisterTask(const ScheduledTaskInfo& info) = 0;
  // Removes the tasks whose program no longer exists.
  virtual void RemoveOrphanedTasks() = 0;
  virtual void RemoveTask(const std::wstring& name) = 0;
  virtual void SetDailyInterval(const std::wstring& name, unsigned days) = 0;
  virtual void SetTaskEnabled(const std::wstring& name, bool enabled) = 0;
  virtual bool RunTask(const std::wstring& name,
                       const std::vector<std::wstring>& arguments) = 0;
  virtual ScheduledTaskState GetTaskState(const std::wstring& name) = 0;
  // Null time when the task never ran or cannot be opened.
  virtual base::Time GetLastRunTime(const std::wstring& name) = 0;
};

// Where the task service starts on demand, or has not finished starting,
// its start takes about a second, and the first task call of the run would
// wait for it at the very end of an install. This asks the Service Control
// Manager to start it, on a thread of its own, and returns at once.
void StartTaskServiceEarly();

// The scheduler of the running system: Task Scheduler 2.0 from Windows Vista
// on, 1.0 before.
std::unique_ptr<WindowsTaskScheduler> CreateWindowsTaskScheduler();

using WindowsTaskSchedulerFactory =
    base::RepeatingCallback<std::unique_ptr<WindowsTaskScheduler>()>;
// Makes CreateWindowsTaskScheduler() answer through |factory| until called
// again with a null callback.
void SetWindowsTaskSchedulerFactoryForTesting(
    WindowsTaskSchedulerFactory factory);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_WINDOWS_TASK_SCHEDULER_H_
