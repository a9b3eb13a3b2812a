#include "desktop/windows/installer/steps/pending_step.h"

#include "base/logging.h"

namespace installer {

PendingStep::PendingStep(const std::string& name, InstallerStepContext* context)
    : InstallerStep(name, context) {}

PendingStep::~PendingStep() = default;

void PendingStep::Execute(InstallerStepResult* result, int attempt) {
  LOG(INFO) << "Step " << name() << " has nothing to do in this build";
  *result = InstallerStepResult(STEP_DONE);
}

}  // namespace installer
