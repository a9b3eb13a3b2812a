#ifndef DESKTOP_WINDOWS_INSTALLER_COMMON_PROCESS_RUNNER_H_
#define DESKTOP_WINDOWS_INSTALLER_COMMON_PROCESS_RUNNER_H_

#include <string>

#include "base/macros.h"

namespace base {
class CommandLine;
class Lock;
struct LaunchOptions;
}  // namespace base

namespace installer {

// The one lock of the process around every launch of a child that collects
// output or inherits handles: a child started while another launch holds
// inheritable handles open would inherit them too.
base::Lock* GetProcessLaunchLock();

// How the installer runs programs, replaceable in tests.
class ProcessRunner {
 public:
  virtual ~ProcessRunner() = default;

  // Runs |command_line| under the launch lock and collects its standard
  // output. On failure sets the last-error record: code 1, "Cannot get app
  // output " + the program path.
  virtual bool GetAppOutput(const base::CommandLine& command_line,
                            std::string* output) = 0;
  // Starts the process and does not wait; true when it was created.
  virtual bool Launch(const base::CommandLine& command_line,
                      const base::LaunchOptions& options) = 0;
};

class ProcessRunnerImpl : public ProcessRunner {
 public:
  ProcessRunnerImpl();
  ~ProcessRunnerImpl() override;

  bool GetAppOutput(const base::CommandLine& command_line,
                    std::string* output) override;
  bool Launch(const base::CommandLine& command_line,
              const base::LaunchOptions& options) override;

 private:
  DISALLOW_COPY_AND_ASSIGN(ProcessRunnerImpl);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_COMMON_PROCESS_RUNNER_H_
