#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_IPC_SENDER_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_IPC_SENDER_H_

#include <memory>

#include "base/macros.h"
#include "base/pickle.h"
#include "base/strings/string16.h"
#include "base/threading/thread.h"

namespace base {
class MessageLoop;
}

namespace installer {

class MailslotWriter;

// The backend's end of the channel to the front end: opens the front end's
// mailslot and writes the messages on a thread of its own, in order, so that
// the steps never wait for the front end.
class IpcSender {
 public:
  IpcSender();
  virtual ~IpcSender();

  // False only when the writing thread cannot start. The mailslot is opened
  // on that thread afterwards; when that fails every message is dropped.
  bool Connect(const base::string16& name);
  // Fire and forget; messages sent before the mailslot is open are written
  // once it is.
  void Send(std::unique_ptr<base::Pickle> message);
  // Stops sending; messages not written yet are dropped and counted in the
  // log.
  void Close();

 private:
  void ConnectOnIpcThread(const base::string16& name);
  void SendOnIpcThread(std::unique_ptr<base::Pickle> message);
  void CloseOnIpcThread();

  base::MessageLoop* const owner_loop_;
  base::Thread ipc_thread_;
  // Used only on the IPC thread.
  std::unique_ptr<MailslotWriter> writer_;

  DISALLOW_COPY_AND_ASSIGN(IpcSender);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_IPC_SENDER_H_
