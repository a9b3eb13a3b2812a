#include "desktop/windows/installer/ipc/ipc_sender.h"

#include "base/message_loop/message_loop.h"

// Placeholder bodies; the real ones replace this file.
namespace installer {

class MailslotWriter {};

IpcSender::IpcSender()
    : owner_loop_(base::MessageLoop::current()),
      ipc_thread_("Installer IPC thread") {}
IpcSender::~IpcSender() = default;
bool IpcSender::Connect(const base::string16& name) {
  return false;
}
void IpcSender::Send(std::unique_ptr<base::Pickle> message) {}
void IpcSender::Close() {}
void IpcSender::ConnectOnIpcThread(const base::string16& name) {}
void IpcSender::SendOnIpcThread(std::unique_ptr<base::Pickle> message) {}
void IpcSender::CloseOnIpcThread() {}

}  // namespace installer
