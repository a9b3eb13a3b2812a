#ifndef DESKTOP_WINDOWS_INSTALLER_STEPS_REGISTER_PROTOCOL_HANDLERS_STEP_H_
#define DESKTOP_WINDOWS_INSTALLER_STEPS_REGISTER_PROTOCOL_HANDLERS_STEP_H_

#include "base/strings/string16.h"
#include "desktop/windows/installer/steps/installer_step.h"

namespace base {
class CommandLine;
}

namespace installer {

// Whether |protocol| may name a URL protocol in the registry: a URL scheme
// (a letter, then letters, digits, "+", "-" or "."), nothing that could
// reach another key or value.
bool IsValidProtocolName(const base::string16& protocol);

// "register_protocol_handlers": makes the installed browser a handler of
// the URL protocol named by "register-kavor-as-protocol-handler": the
// protocol joins the URL associations of the browser's capabilities under
// the installation's own root (only where the installation registered
// them), and the browser becomes the current user's handler as far as the
// system lets a program decide. Never fails.
class RegisterProtocolHandlersStep : public InstallerStep {
 public:
  // |command_line| is not owned and outlives the step.
  RegisterProtocolHandlersStep(InstallerStepContext* context,
                               const base::CommandLine* command_line);
  ~RegisterProtocolHandlersStep() override;

  void Execute(InstallerStepResult* result, int attempt) override;

 private:
  const base::CommandLine* const command_line_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_STEPS_REGISTER_PROTOCOL_HANDLERS_STEP_H_
