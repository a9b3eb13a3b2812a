#include "desktop/windows/installer/common/process_runner.h"

#include "base/command_line.h"
#include "base/process/launch.h"
#include "base/synchronization/lock.h"

// Placeholder bodies; the real ones replace this file.
namespace installer {

base::Lock* GetProcessLaunchLock() {
  static base::Lock* lock = new base::Lock();
  return lock;
}

ProcessRunnerImpl::ProcessRunnerImpl() = default;
ProcessRunnerImpl::~ProcessRunnerImpl() = default;
bool ProcessRunnerImpl::GetAppOutput(const base::CommandLine& command_line,
                                     std::string* output) {
  return false;
}
bool ProcessRunnerImpl::Launch(const base::CommandLine& command_line,
                               const base::LaunchOptions& options) {
  return false;
}

}  // namespace installer
