#include "desktop/windows/installer/service/windows_task_scheduler.h"

#include <utility>

#include "base/logging.h"

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
  // The Task Scheduler 1.0 and 2.0 registrations are not part of this build
  // yet.
  LOG(WARNING) << "Scheduled task registration is not available";
  return nullptr;
}

void SetWindowsTaskSchedulerFactoryForTesting(
    WindowsTaskSchedulerFactory factory) {
  TestingFactory() = std::move(factory);
}

}  // namespace installer
