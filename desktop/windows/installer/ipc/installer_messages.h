#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_INSTALLER_MESSAGES_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_INSTALLER_MESSAGES_H_

#include <stddef.h>

#include <memory>
#include <string>

#include "base/observer_list.h"
#include "base/pickle.h"
#include "base/strings/string16.h"

namespace installer {

class InstallerObserver;
class InstallerProgressNotifier;

// The messages the backend sends the front end, one mailslot datagram each.
// A newer package may bring a newer backend than the front end that runs
// it, so the layout is a wire format: types and fields never change.
enum InstallerMessageType : int {
  IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS = 0,
  IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS = 1,
  IPC_MESSAGE_INSTALL_FOLDER_READY = 2,
  IPC_MESSAGE_TOTAL_STEPS = 3,
  IPC_MESSAGE_STEP_STARTING = 4,
  IPC_MESSAGE_STEP_FINISHED = 5,
  IPC_MESSAGE_IMPORTANT_EVENT = 6,
  IPC_MESSAGE_ERROR = 7,
  IPC_MESSAGE_SUCCESS = 8,
  IPC_MESSAGE_ENTERING_PHASE = 9,
  IPC_MESSAGE_TYPE_COUNT = 10,
};

// Every message starts with this text.
extern const char kInstallerMessageSignature[];

// The mailslot's maximum message size and the reader's buffer: header and
// payload of one message.
constexpr size_t kMaxInstallerMessageSize = 2048;

// Builders of the backend's messages. Each writes its "Sending ..." log line
// and returns a message that fits kMaxInstallerMessageSize: texts too long
// for it are cut, since a shortened text is better than a lost message.
std::unique_ptr<base::Pickle> CreateStartingNewMainProcessMessage(
    bool elevated);
std::unique_ptr<base::Pickle> CreateReturnedToPreviousMainProcessMessage();
std::unique_ptr<base::Pickle> CreateInstallFolderReadyMessage();
std::unique_ptr<base::Pickle> CreateTotalStepsMessage(int total);
std::unique_ptr<base::Pickle> CreateStepStartingMessage(
    const std::string& name);
std::unique_ptr<base::Pickle> CreateStepFinishedMessage(const std::string& name,
                                                        int attempt,
                                                        int finished_count);
std::unique_ptr<base::Pickle> CreateImportantEventMessage(
    const std::string& name);
std::unique_ptr<base::Pickle> CreateErrorMessage(int code,
                                                 const base::string16& path,
                                                 const std::string& message);
std::unique_ptr<base::Pickle> CreateSuccessMessage();
std::unique_ptr<base::Pickle> CreateEnteringPhaseMessage(int phase);

// The front end's reader: checks one received message and turns it into
// the observer calls it stands for, on |observers| in their order and on
// |notifier| (the progress-only types reach only the notifier). A malformed
// or foreign message is logged and dropped; nothing of it is dispatched.
void DispatchInstallerMessage(const base::Pickle& message,
                              base::ObserverList<InstallerObserver>* observers,
                              InstallerProgressNotifier* notifier);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_INSTALLER_MESSAGES_H_
