#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_IPC_RECEIVER_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_IPC_RECEIVER_H_

#include <windows.h>

#include <memory>

#include "base/macros.h"
#include "base/memory/weak_ptr.h"
#include "base/pickle.h"
#include "base/strings/string16.h"
#include "base/threading/thread.h"

namespace base {
class MessageLoop;
}

namespace installer {

class MailslotReader;

// The front end's end of the channel from the backend: creates the mailslot
// "\\.\mailslot\" + name and reads it on a thread of its own, so that the
// front end's window never waits for the backend. Messages reach the
// delegate on the thread that made the receiver, in the order they arrived.
class IpcReceiver {
 public:
  class Delegate {
   public:
    virtual ~Delegate() = default;
    virtual void OnMessageReceived(const base::Pickle& message) = 0;
  };

  // Owner thread; |delegate| outlives the receiver.
  explicit IpcReceiver(Delegate* delegate);
  virtual ~IpcReceiver();

  // Creates the mailslot, so that a writer may open it as soon as this
  // returns, and starts reading it on the reading thread. False when the
  // mailslot can't be created (the name is taken, for one) or the thread
  // can't start.
  bool Connect(const base::string16& name);
  // Stops receiving and joins the thread; idempotent.
  void Close();

  // Reading thread: hands one message over to the owner thread.
  void OnMessageReceived(const base::Pickle& message);

 private:
  // Takes |mailslot| over.
  void ConnectOnIpcThread(HANDLE mailslot);
  void CloseOnIpcThread();
  void DeliverMessage(const base::Pickle& message);

  Delegate* const delegate_;
  base::MessageLoop* const owner_loop_;
  base::Thread ipc_thread_;
  // Used only on the IPC thread.
  std::unique_ptr<MailslotReader> reader_;
  // Bound on the owner thread; the IPC thread only copies it into tasks.
  base::WeakPtr<IpcReceiver> weak_this_;
  base::WeakPtrFactory<IpcReceiver> weak_factory_{this};

  DISALLOW_COPY_AND_ASSIGN(IpcReceiver);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_IPC_RECEIVER_H_
