#include "desktop/windows/installer/service/windows_task_scheduler.h"

#include <windows.h>

#include <utility>

#include "base/logging.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/service/task_scheduler_v1.h"
#include "desktop/windows/installer/service/task_scheduler_v2.h"

namespace installer {

namespace {

WindowsTaskSchedulerFactory& TestingFactory() {
  static WindowsTaskSchedulerFactory* const factory =
      new WindowsTaskSchedulerFactory();
  return *factory;
}

// The task service's name, the same from Windows XP on.
const wchar_t kTaskServiceName[] = L"Schedule";

DWORD WINAPI StartTaskServiceThread(void*) {
  StartServiceIfStopped(kTaskServiceName);
  return 0;
}

}  // namespace

void StartTaskServiceEarly() {
  HANDLE thread = ::CreateThread(nullptr, 0, &StartTaskServiceThread, nullptr,
                                 0, nullptr);
  if (!thread) {
    PLOG(WARNING) << "Cannot start the task service from a thread of its own";
    return;
  }
  ::CloseHandle(thread);
}

std::unique_ptr<WindowsTaskScheduler> CreateWindowsTaskScheduler() {
  if (TestingFactory())
    return TestingFactory().Run();
  if (base::win::GetVersion() >= base::win::VISTA)
    return std::make_unique<TaskSchedulerV2>();
  return std::make_unique<TaskSchedulerV1>();
}

void SetWindowsTaskSchedulerFactoryForTesting(
    WindowsTaskSchedulerFactory factory) {
  TestingFactory() = std::move(factory);
}

}  // namespace installer
