#include "desktop/windows/installer/steps/installer_step_scheduler.h"

#include <utility>

#include "base/bind.h"
#include "base/location.h"
#include "base/logging.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/installer_step_context.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/steps/installer_step.h"

namespace installer {

InstallerStepSchedulerImpl::InstallerStepSchedulerImpl(
    std::unique_ptr<InstallerStepListBuilder> lists,
    base::TimeDelta retry_delay)
    : lists_(std::move(lists)), retry_delay_(retry_delay) {}

InstallerStepSchedulerImpl::~InstallerStepSchedulerImpl() = default;

bool InstallerStepSchedulerImpl::Schedule(InstallerStepContext* context,
                                          base::string16* uninstall_key_name,
                                          uint32_t* step_count) {
  const InstallerOperation operation = context->GetSettings()->GetOperation();
  VLOG(1) << "Scheduling the steps of operation " << operation;
  switch (operation) {
    case OPERATION_INSTALL:
      if (!lists_->BuildInstallSteps(context, uninstall_key_name, &steps_))
        return AddLastInstallerErrorContext("Cannot schedule install steps");
      break;
    case OPERATION_UPGRADE:
      if (!lists_->BuildUpgradeSteps(context, uninstall_key_name, &steps_))
        return AddLastInstallerErrorContext("Cannot schedule upgrade steps");
      break;
    // These two lists read nothing and never fail; a builder that does
    // fail leaves a record that speaks for itself.
    case OPERATION_UNINSTALL:
      if (!lists_->BuildUninstallSteps(context, &steps_))
        return false;
      break;
    case OPERATION_REGISTER_PROTOCOL_HANDLER:
      if (!lists_->BuildRegisterProtocolHandlerSteps(context, &steps_))
        return false;
      break;
    case OPERATION_FIX_DOWNLOADABLE_RESOURCES:
      if (!lists_->BuildFixResourcesSteps(context, &steps_))
        return AddLastInstallerErrorContext(
            "Cannot schedule fix resources steps");
      break;
    default:
      break;
  }
  // The protocol-handler registration gets a count too: the Installer sends
  // no total for it, but a caller that shows progress should not be left
  // with whatever its variable held before.
  *step_count = static_cast<uint32_t>(steps_.size()) + 1;
  LOG(INFO) << "Scheduled " << steps_.size() << " steps";
  return true;
}

void InstallerStepSchedulerImpl::Run(
    base::scoped_refptr<base::TaskRunner> task_runner,
    InstallerStepSchedulerDelegate* delegate) {
  task_runner_ = std::move(task_runner);
  delegate_ = delegate;
  steps_done_ = 0;
  cursor_ = 0;
  PostNextStep();
}

void InstallerStepSchedulerImpl::PostNextStep() {
  if (cursor_ == steps_.size()) {
    LOG(INFO) << "All " << steps_done_ << " steps done";
    delegate_->OnAllStepsDone(true);
    return;
  }
  InstallerStep* step = steps_[cursor_].get();
  VLOG(1) << "Starting step " << step->name();
  delegate_->OnStepStarting(step->name());
  // Posted tasks hold the scheduler and the step unretained: the scheduler
  // outlives the run loop that runs them.
  ++cursor_;
  if (!task_runner_->PostTask(
          FROM_HERE_WITH_EXPLICIT_FUNCTION("PostNextStep"),
          base::BindOnce(&InstallerStepSchedulerImpl::Step,
                         base::Unretained(this), step, 0))) {
    FailUnposted(step);
  }
}

void InstallerStepSchedulerImpl::FailUnposted(InstallerStep* step) {
  // Nothing else would ever run the step or end the run.
  const std::string message = "Cannot post step " + step->name();
  LOG(ERROR) << message;
  SetLastInstallerError(RESULT_GENERAL_ERROR, message);
  delegate_->OnAllStepsDone(false);
}

void InstallerStepSchedulerImpl::Step(InstallerStep* step, int attempt) {
  InstallerStepResult result;
  step->Execute(&result, attempt);
  if (attempt < kMaxRetries && (result.status == STEP_RETRY_THEN_FAIL ||
                                result.status == STEP_RETRY_THEN_CONTINUE)) {
    VLOG(1) << "Step " << step->name() << " asks for a retry after attempt "
            << attempt;
    if (!task_runner_->PostDelayedTask(
            FROM_HERE_WITH_EXPLICIT_FUNCTION("Step"),
            base::BindOnce(&InstallerStepSchedulerImpl::Step,
                           base::Unretained(this), step, attempt + 1),
            retry_delay_)) {
      FailUnposted(step);
    }
    return;
  }
  OnStepDone(step, result, attempt);
}

void InstallerStepSchedulerImpl::OnStepDone(InstallerStep* step,
                                            const InstallerStepResult& result,
                                            int attempt) {
  if (result.status == STEP_DONE || result.status == STEP_RETRY_THEN_CONTINUE) {
    ++steps_done_;
    LOG(INFO) << "Step " << step->name() << " finished on attempt " << attempt;
    delegate_->OnStepFinished(step->name(), attempt,
                              static_cast<int>(steps_done_));
    PostNextStep();
    return;
  }
  LOG(ERROR) << "Step " << step->name() << " failed on attempt " << attempt
             << " with code " << result.code << ": " << result.message;
  SetLastInstallerError(result.code, result.message, result.path);
  delegate_->OnAllStepsDone(false);
}

}  // namespace installer
