#include "desktop/windows/installer/ipc/ipc_receiver.h"

#include <windows.h>

#include "base/bind.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/installer_object_names.h"
#include "desktop/windows/installer/ipc/installer_messages.h"
#include "desktop/windows/installer/ipc/mailslot_reader.h"

namespace installer {

IpcReceiver::IpcReceiver(Delegate* delegate)
    : delegate_(delegate),
      owner_loop_(base::MessageLoop::current()),
      ipc_thread_("Installer IPC thread") {
  DCHECK(owner_loop_);
  // Taken here, on the owner thread, for the IPC thread's messages.
  weak_this_ = weak_factory_.GetWeakPtr();
}

IpcReceiver::~IpcReceiver() {
  Close();
  weak_factory_.InvalidateWeakPtrs();
}

bool IpcReceiver::Connect(const base::string16& name) {
  VLOG(1) << "Preparing to receive IPC on " << base::UTF16ToUTF8(name);
  // Made here rather than on the IPC thread: the caller starts the writer
  // as soon as this returns, and a writer that finds no mailslot yet loses
  // every message.
  const base::string16 path = kMailslotNamespace + name;
  VLOG(1) << "Creating mailslot " << base::UTF16ToUTF8(path);
  base::win::ScopedHandle mailslot(::CreateMailslotW(
      path.c_str(), kMaxInstallerMessageSize, MAILSLOT_WAIT_FOREVER, nullptr));
  if (!mailslot.IsValid()) {
    PLOG(ERROR) << "Failed creating " << base::UTF16ToUTF8(path);
    return false;
  }
  if (!ipc_thread_.StartWithOptions(
          base::Thread::Options(base::MessageLoop::TYPE_IO, 0))) {
    LOG(ERROR) << "Could not start IPC thread";
    return false;
  }
  HANDLE handle = mailslot.Take();
  if (!ipc_thread_.task_runner()->PostTask(
          FROM_HERE, base::BindOnce(&IpcReceiver::ConnectOnIpcThread,
                                    base::Unretained(this), handle))) {
    // Nobody would ever read the slot: say so instead of seeming connected.
    LOG(ERROR) << "Could not hand the mailslot to the IPC thread";
    ::CloseHandle(handle);
    return false;
  }
  return true;
}

void IpcReceiver::Close() {
  VLOG(1) << "Stopping RPC receiver";
  // The thread is joined below, so the task never outlives the receiver.
  if (ipc_thread_.message_loop()) {
    ipc_thread_.task_runner()->PostTask(
        FROM_HERE,
        base::BindOnce(&IpcReceiver::CloseOnIpcThread, base::Unretained(this)));
  }
  ipc_thread_.Stop();
}

void IpcReceiver::OnMessageReceived(const base::Pickle& message) {
  // The copy owns its bytes: the reader's buffer is reused for the next
  // datagram at once.
  owner_loop_->task_runner()->PostTask(
      FROM_HERE, base::BindOnce(&IpcReceiver::DeliverMessage, weak_this_,
                                base::Pickle(message)));
}

void IpcReceiver::ConnectOnIpcThread(HANDLE mailslot) {
  reader_ = std::make_unique<MailslotReader>(mailslot, this);
  reader_->Start();
}

void IpcReceiver::CloseOnIpcThread() {
  reader_.reset();
}

void IpcReceiver::DeliverMessage(const base::Pickle& message) {
  delegate_->OnMessageReceived(message);
}

}  // namespace installer
