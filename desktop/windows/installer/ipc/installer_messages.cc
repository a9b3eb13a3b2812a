#include "desktop/windows/installer/ipc/installer_messages.h"

#include "desktop/windows/installer/installer_observer.h"
#include "desktop/windows/installer/runner/installer_progress_notifier.h"

// Placeholder bodies; the real ones replace this file.
namespace installer {

const char kInstallerMessageSignature[] = ":Installer message:";

namespace {
std::unique_ptr<base::Pickle> NewMessage(int type) {
  auto message = std::make_unique<base::Pickle>();
  message->WriteString(kInstallerMessageSignature);
  message->WriteInt(type);
  return message;
}
}  // namespace

std::unique_ptr<base::Pickle> CreateStartingNewMainProcessMessage(
    bool elevated) {
  return NewMessage(IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS);
}
std::unique_ptr<base::Pickle> CreateReturnedToPreviousMainProcessMessage() {
  return NewMessage(IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS);
}
std::unique_ptr<base::Pickle> CreateInstallFolderReadyMessage() {
  return NewMessage(IPC_MESSAGE_INSTALL_FOLDER_READY);
}
std::unique_ptr<base::Pickle> CreateTotalStepsMessage(int total) {
  return NewMessage(IPC_MESSAGE_TOTAL_STEPS);
}
std::unique_ptr<base::Pickle> CreateStepStartingMessage(
    const std::string& name) {
  return NewMessage(IPC_MESSAGE_STEP_STARTING);
}
std::unique_ptr<base::Pickle> CreateStepFinishedMessage(const std::string& name,
                                                        int attempt,
                                                        int finished_count) {
  return NewMessage(IPC_MESSAGE_STEP_FINISHED);
}
std::unique_ptr<base::Pickle> CreateImportantEventMessage(
    const std::string& name) {
  return NewMessage(IPC_MESSAGE_IMPORTANT_EVENT);
}
std::unique_ptr<base::Pickle> CreateErrorMessage(int code,
                                                 const base::string16& path,
                                                 const std::string& message) {
  return NewMessage(IPC_MESSAGE_ERROR);
}
std::unique_ptr<base::Pickle> CreateSuccessMessage() {
  return NewMessage(IPC_MESSAGE_SUCCESS);
}
std::unique_ptr<base::Pickle> CreateEnteringPhaseMessage(int phase) {
  return NewMessage(IPC_MESSAGE_ENTERING_PHASE);
}

void DispatchInstallerMessage(const base::Pickle& message,
                              base::ObserverList<InstallerObserver>* observers,
                              InstallerProgressNotifier* notifier) {}

}  // namespace installer
