#include "desktop/windows/installer/ipc/ipc_receiver.h"

#include "base/message_loop/message_loop.h"

// Placeholder bodies; the real ones replace this file.
namespace installer {

class MailslotReader {};

IpcReceiver::IpcReceiver(Delegate* delegate)
    : delegate_(delegate),
      owner_loop_(base::MessageLoop::current()),
      ipc_thread_("Installer IPC thread") {}
IpcReceiver::~IpcReceiver() = default;
bool IpcReceiver::Connect(const base::string16& name) {
  return false;
}
void IpcReceiver::Close() {}
void IpcReceiver::OnMessageReceived(const base::Pickle& message) {}
void IpcReceiver::ConnectOnIpcThread(const base::string16& name) {}
void IpcReceiver::CloseOnIpcThread() {}
void IpcReceiver::DeliverMessage(const base::Pickle& message) {}

}  // namespace installer
