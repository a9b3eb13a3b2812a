#include "desktop/windows/installer/service/windows_task_scheduler.h"

#include <utility>

#include "base/win/windows_version.h"
#include "desktop/windows/installer/service/task_scheduler_v1.h"
#include "desktop/windows/installer/service/task_scheduler_v2.h"

namespace installer {

namespace {

WindowsTaskSchedulerFactory& TestingFactory() {
  static WindowsTaskSchedulerFactory* const factory =
      new WindowsTaskSchedulerFactory();
  return *factory;
}

}  // namespace

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
