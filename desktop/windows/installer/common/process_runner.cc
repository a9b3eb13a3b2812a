#include "desktop/windows/installer/common/process_runner.h"

#include "base/command_line.h"
#include "base/lazy_instance.h"
#include "base/logging.h"
#include "base/process/launch.h"
#include "base/strings/utf_string_conversions.h"
#include "base/synchronization/lock.h"
#include "desktop/windows/installer/common/installer_error.h"

namespace installer {

namespace {

// Destroyed by the at-exit manager, and made again by a later user.
base::LazyInstance<base::Lock>::DestructorAtExit g_process_launch_lock =
    LAZY_INSTANCE_INITIALIZER;

}  // namespace

base::Lock* GetProcessLaunchLock() {
  return g_process_launch_lock.Pointer();
}

ProcessRunnerImpl::ProcessRunnerImpl() = default;
ProcessRunnerImpl::~ProcessRunnerImpl() = default;

bool ProcessRunnerImpl::GetAppOutput(const base::CommandLine& command_line,
                                     std::string* output) {
  // Held until the child's output ends: the pipe this launch makes
  // inheritable must not leak into a child that another thread starts
  // meanwhile, or that child would keep it open.
  base::AutoLock lock(*GetProcessLaunchLock());
  if (base::GetAppOutput(command_line, output))
    return true;
  return SetLastInstallerError(
      RESULT_GENERAL_ERROR,
      "Cannot get app output " +
          base::WideToUTF8(command_line.GetProgram().value()));
}

bool ProcessRunnerImpl::Launch(const base::CommandLine& command_line,
                               const base::LaunchOptions& options) {
  base::Process process = base::LaunchProcess(command_line, options);
  return process.IsValid();
}

}  // namespace installer
