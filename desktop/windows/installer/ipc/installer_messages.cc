#include "desktop/windows/installer/ipc/installer_messages.h"

#include <algorithm>

#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/installer_observer.h"
#include "desktop/windows/installer/runner/installer_progress_notifier.h"

namespace installer {

const char kInstallerMessageSignature[] = ":Installer message:";

namespace {

// Every field of a pickle starts on a 4-byte boundary.
constexpr size_t Align4(size_t n) {
  return (n + 3) & ~static_cast<size_t>(3);
}

constexpr size_t kIntSize = 4;
// Size header, signature (length and padded text) and type: 32 bytes.
constexpr size_t kFixedSize = kIntSize + kIntSize +
                              Align4(sizeof(kInstallerMessageSignature) - 1) +
                              kIntSize;

// The bytes left for the texts of a message whose other fields, text length
// fields included, take |other_fields| bytes.
constexpr size_t TextRoom(size_t other_fields) {
  return kMaxInstallerMessageSize - kFixedSize - other_fields;
}

// At most |max_bytes| of |text|, never ending inside a UTF-8 sequence.
std::string CutUtf8(const std::string& text, size_t max_bytes) {
  if (text.size() <= max_bytes)
    return text;
  size_t end = max_bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
    --end;
  return text.substr(0, end);
}

// At most |max_units| of |text|, never splitting a surrogate pair.
base::string16 CutUtf16(const base::string16& text, size_t max_units) {
  if (text.size() <= max_units)
    return text;
  size_t end = max_units;
  if (end > 0 && text[end - 1] >= 0xD800 && text[end - 1] <= 0xDBFF)
    --end;
  return text.substr(0, end);
}

// Texts are cut rather than the message lost: the front end's reader buffer
// and the mailslot take no more than kMaxInstallerMessageSize.
std::string FitText(const std::string& text, size_t room) {
  if (text.size() <= room)
    return text;
  LOG(WARNING) << "Installer message text of " << text.size()
               << " bytes cut to fit the mailslot";
  return CutUtf8(text, room);
}

std::unique_ptr<base::Pickle> NewMessage(int type) {
  auto message = std::make_unique<base::Pickle>();
  message->WriteString(kInstallerMessageSignature);
  message->WriteInt(type);
  return message;
}

template <typename Operation>
void NotifyObservers(base::ObserverList<InstallerObserver>* observers,
                     Operation operation) {
  if (!observers)
    return;
  for (auto& observer : *observers)
    operation(&observer);
}

}  // namespace

std::unique_ptr<base::Pickle> CreateStartingNewMainProcessMessage(
    bool elevated) {
  VLOG(1) << "Sending IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS(" << elevated
          << ")";
  auto message = NewMessage(IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS);
  message->WriteBool(elevated);
  return message;
}

std::unique_ptr<base::Pickle> CreateReturnedToPreviousMainProcessMessage() {
  VLOG(1) << "Sending IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS";
  return NewMessage(IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS);
}

std::unique_ptr<base::Pickle> CreateInstallFolderReadyMessage() {
  return NewMessage(IPC_MESSAGE_INSTALL_FOLDER_READY);
}

std::unique_ptr<base::Pickle> CreateTotalStepsMessage(int total) {
  VLOG(1) << "Sending IPC_MESSAGE_TOTAL_STEPS(" << total << ")";
  auto message = NewMessage(IPC_MESSAGE_TOTAL_STEPS);
  message->WriteInt(total);
  return message;
}

std::unique_ptr<base::Pickle> CreateStepStartingMessage(
    const std::string& name) {
  VLOG(1) << "Sending IPC_MESSAGE_STEP_STARTING";
  auto message = NewMessage(IPC_MESSAGE_STEP_STARTING);
  message->WriteString(FitText(name, TextRoom(kIntSize)));
  return message;
}

std::unique_ptr<base::Pickle> CreateStepFinishedMessage(const std::string& name,
                                                        int attempt,
                                                        int finished_count) {
  VLOG(1) << "Sending IPC_MESSAGE_STEP_FINISHED";
  auto message = NewMessage(IPC_MESSAGE_STEP_FINISHED);
  message->WriteString(FitText(name, TextRoom(3 * kIntSize)));
  message->WriteInt(attempt);
  message->WriteInt(finished_count);
  return message;
}

std::unique_ptr<base::Pickle> CreateImportantEventMessage(
    const std::string& name) {
  VLOG(1) << "Sending IPC_FILE_COPY_RETRY";
  auto message = NewMessage(IPC_MESSAGE_IMPORTANT_EVENT);
  message->WriteString(FitText(name, TextRoom(kIntSize)));
  return message;
}

std::unique_ptr<base::Pickle> CreateErrorMessage(int code,
                                                 const base::string16& path,
                                                 const std::string& message) {
  VLOG(1) << "Sending IPC_MESSAGE_ERROR(" << code << ","
          << base::UTF16ToUTF8(path) << "," << message << ")";
  // Code and the two length fields.
  const size_t room = TextRoom(3 * kIntSize);
  base::string16 sent_path = path;
  std::string sent_text = message;
  if (Align4(2 * path.size()) + Align4(message.size()) > room) {
    LOG(WARNING) << "Installer error message of " << path.size()
                 << " path units and " << message.size()
                 << " text bytes cut to fit the mailslot";
    // Neither text may crowd the other out entirely: the text keeps up to
    // half the room, the path takes what the text leaves, and the text then
    // takes whatever the path left over.
    const size_t text_share =
        std::min(Align4(message.size()), (room / 2) & ~static_cast<size_t>(3));
    sent_path = CutUtf16(path, (room - text_share) / 2);
    sent_text = CutUtf8(message, room - Align4(2 * sent_path.size()));
  }
  auto pickle = NewMessage(IPC_MESSAGE_ERROR);
  pickle->WriteInt(code);
  pickle->WriteString16(sent_path);
  pickle->WriteString(sent_text);
  return pickle;
}

std::unique_ptr<base::Pickle> CreateSuccessMessage() {
  VLOG(1) << "Sending IPC_MESSAGE_SUCCESS";
  return NewMessage(IPC_MESSAGE_SUCCESS);
}

std::unique_ptr<base::Pickle> CreateEnteringPhaseMessage(int phase) {
  VLOG(1) << "Sending IPC_MESSAGE_ENTERING_PHASE(" << phase << ")";
  auto message = NewMessage(IPC_MESSAGE_ENTERING_PHASE);
  message->WriteInt(phase);
  return message;
}

void DispatchInstallerMessage(const base::Pickle& message,
                              base::ObserverList<InstallerObserver>* observers,
                              InstallerProgressNotifier* notifier) {
  base::PickleIterator iter(message);
  std::string signature;
  if (!iter.ReadString(&signature) || signature != kInstallerMessageSignature) {
    LOG(WARNING) << "Received a message without installer signature";
    return;
  }
  int type;
  if (!iter.ReadInt(&type))
    return;

  // The switch is on the received int, so that a type outside the table
  // reaches "default" in every build; a new type needs its case here.
  static_assert(IPC_MESSAGE_TYPE_COUNT == 10,
                "every message type needs its case below");
  // Fields after the expected ones belong to a newer writer and are left
  // unread.
  switch (type) {
    case IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS: {
      bool elevated;
      if (!iter.ReadBool(&elevated)) {
        LOG(ERROR) << "Received invalid IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS"
                      "message";
        return;
      }
      VLOG(1) << "IPC_MESSAGE_STARTING_NEW_MAIN_PROCESS(" << elevated
              << ") received";
      NotifyObservers(observers, [elevated](InstallerObserver* observer) {
        observer->OnStartingNewMainProcess(elevated);
      });
      return;
    }
    case IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS:
      VLOG(1) << "IPC_MESSAGE_RETURNED_TO_PREVIOUS_MAIN_PROCESS received";
      NotifyObservers(observers, [](InstallerObserver* observer) {
        observer->OnReturnedToPreviousMainProcess();
      });
      return;
    case IPC_MESSAGE_INSTALL_FOLDER_READY:
      NotifyObservers(observers, [](InstallerObserver* observer) {
        observer->OnInstallFolderReady();
      });
      return;
    case IPC_MESSAGE_TOTAL_STEPS: {
      int total;
      if (!iter.ReadInt(&total)) {
        LOG(ERROR) << "Received invalid IPC_MESSAGE_TOTAL_STEPS message";
        return;
      }
      VLOG(1) << "IPC_MESSAGE_TOTAL_STEPS(" << total << ") received";
      if (notifier)
        notifier->OnTotalSteps(total);
      return;
    }
    case IPC_MESSAGE_STEP_STARTING: {
      std::string name;
      if (!iter.ReadString(&name)) {
        LOG(ERROR) << "Received invalid IPC_MESSAGE_STEP_STARTING"
                      "message";
        return;
      }
      VLOG(1) << "IPC_MESSAGE_STEP_STARTING received";
      NotifyObservers(observers, [&name](InstallerObserver* observer) {
        observer->OnStepStarting(name);
      });
      return;
    }
    case IPC_MESSAGE_STEP_FINISHED: {
      std::string name;
      int attempt;
      if (!iter.ReadString(&name) || !iter.ReadInt(&attempt)) {
        LOG(ERROR) << "Received invalid IPC_MESSAGE_STEP_FINISHED"
                      "message";
        return;
      }
      int finished_count;
      if (!iter.ReadInt(&finished_count)) {
        // An older backend does not count the finished steps.
        LOG(WARNING) << "The package uses legacy IPC_MESSAGE_STEP_FINISHED";
        finished_count = 0;
      }
      VLOG(1) << "IPC_MESSAGE_STEP_FINISHED received";
      NotifyObservers(observers, [&](InstallerObserver* observer) {
        observer->OnStepFinished(name, attempt, finished_count);
      });
      if (notifier)
        notifier->OnStepFinished(finished_count);
      return;
    }
    case IPC_MESSAGE_IMPORTANT_EVENT: {
      VLOG(1) << "IPC_MESSAGE_IMPORTANT_EVENT received";
      std::string name;
      if (!iter.ReadString(&name)) {
        LOG(ERROR) << "Received invalid IPC_MESSAGE_IMPORTANT_EVENT message";
        return;
      }
      NotifyObservers(observers, [&name](InstallerObserver* observer) {
        observer->OnImportantEvent(name);
      });
      return;
    }
    case IPC_MESSAGE_ERROR: {
      int code;
      base::string16 path;
      std::string text;
      if (!iter.ReadInt(&code) || !iter.ReadString16(&path) ||
          !iter.ReadString(&text)) {
        LOG(ERROR) << "Received invalid IPC_MESSAGE_ERROR message";
        return;
      }
      VLOG(1) << "IPC_MESSAGE_ERROR(" << code << "," << base::UTF16ToUTF8(path)
              << "," << text << ") received";
      NotifyObservers(observers, [&](InstallerObserver* observer) {
        observer->OnError(code, path, text);
      });
      return;
    }
    case IPC_MESSAGE_SUCCESS:
      VLOG(1) << "IPC_MESSAGE_SUCCESS received";
      NotifyObservers(observers, [](InstallerObserver* observer) {
        observer->OnSuccess();
      });
      return;
    case IPC_MESSAGE_ENTERING_PHASE: {
      int phase;
      if (!iter.ReadInt(&phase)) {
        LOG(ERROR) << "Received invalid IPC_MESSAGE_ENTERING_PHASE message";
        return;
      }
      VLOG(1) << "IPC_MESSAGE_ENTERING_PHASE(" << phase << ") received";
      if (notifier)
        notifier->OnEnteringPhase(phase);
      return;
    }
    default:
      // A negative type is as foreign as one of a newer writer; either is
      // dropped here, in every build, before anything reads its fields.
      LOG(WARNING) << "Received installer message with invalid type";
      return;
  }
}

}  // namespace installer
