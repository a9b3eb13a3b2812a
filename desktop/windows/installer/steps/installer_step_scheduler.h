#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLER_STEP_SCHEDULER_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLER_STEP_SCHEDULER_H_

#include <stdint.h>

#include <memory>
#include <string>

#include "base/macros.h"
#include "base/memory/scoped_refptr.h"
#include "base/strings/string16.h"
#include "base/task_runner.h"
#include "base/time/time.h"
#include "desktop/windows/installer/steps/installer_step_lists.h"

namespace installer {

class InstallerStepContext;
struct InstallerStepResult;

// Hears of every step of a run and of its end (the Installer).
class InstallerStepSchedulerDelegate {
 public:
  virtual ~InstallerStepSchedulerDelegate() = default;
  virtual void OnStepStarting(const std::string& name) = 0;
  // |steps_done| counts this step. Retries are not reported, only the
  // attempt that finished.
  virtual void OnStepFinished(const std::string& name,
                              int attempt,
                              int steps_done) = 0;
  // Once per run. On failure the thread's last-error record holds the
  // failed step's code, message and path.
  virtual void OnAllStepsDone(bool success) = 0;
};

// Turns the run's operation into its step list and runs the steps one at a
// time.
class InstallerStepScheduler {
 public:
  virtual ~InstallerStepScheduler() = default;
  // Builds the list of the settings' operation. |uninstall_key_name| is
  // written by the step that chooses the uninstall key; |step_count| gets
  // the number of steps plus one (the run's own final stage). False, with
  // the last-error record filled, when the list cannot be built.
  virtual bool Schedule(InstallerStepContext* context,
                        base::string16* uninstall_key_name,
                        uint32_t* step_count) = 0;
  // Starts the steps on |task_runner|, a single sequence that must run them
  // all; |delegate| must outlive the run.
  virtual void Run(base::scoped_refptr<base::TaskRunner> task_runner,
                   InstallerStepSchedulerDelegate* delegate) = 0;
};

class InstallerStepSchedulerImpl : public InstallerStepScheduler {
 public:
  // How many times a step that asks for it is run again.
  static constexpr int kMaxRetries = 5;

  // |retry_delay| separates the attempts of a step that asks to be retried.
  explicit InstallerStepSchedulerImpl(
      std::unique_ptr<InstallerStepListBuilder> lists =
          CreateInstallerStepListBuilder(),
      base::TimeDelta retry_delay = base::TimeDelta::FromSeconds(1));
  // Must not run before every task it posted has run or been dropped.
  ~InstallerStepSchedulerImpl() override;

  // InstallerStepScheduler:
  bool Schedule(InstallerStepContext* context,
                base::string16* uninstall_key_name,
                uint32_t* step_count) override;
  void Run(base::scoped_refptr<base::TaskRunner> task_runner,
           InstallerStepSchedulerDelegate* delegate) override;

 private:
  void PostNextStep();
  void Step(InstallerStep* step, int attempt);
  // A task runner that refuses a step's task ends the run as a failure.
  void FailUnposted(InstallerStep* step);
  void OnStepDone(InstallerStep* step,
                  const InstallerStepResult& result,
                  int attempt);

  const std::unique_ptr<InstallerStepListBuilder> lists_;
  const base::TimeDelta retry_delay_;
  InstallerStepList steps_;
  size_t cursor_ = 0;
  uint32_t steps_done_ = 0;
  base::scoped_refptr<base::TaskRunner> task_runner_;
  InstallerStepSchedulerDelegate* delegate_ = nullptr;

  DISALLOW_COPY_AND_ASSIGN(InstallerStepSchedulerImpl);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_INSTALLER_STEP_SCHEDULER_H_
