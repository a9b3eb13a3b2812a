#include "desktop/windows/installer/ipc/ipc_sender.h"

#include <windows.h>

#include "base/bind.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/installer_object_names.h"
#include "desktop/windows/installer/ipc/mailslot_writer.h"

namespace installer {

IpcSender::IpcSender()
    : owner_loop_(base::MessageLoop::current()),
      ipc_thread_("Installer IPC thread") {}

IpcSender::~IpcSender() {
  Close();
  // Only when the thread never ran its "close" task.
  writer_.reset();
}

bool IpcSender::Connect(const base::string16& name) {
  VLOG(1) << "Preparing to send IPC on " << base::UTF16ToUTF8(name);
  if (!ipc_thread_.StartWithOptions(
          base::Thread::Options(base::MessageLoop::TYPE_IO, 0))) {
    LOG(ERROR) << "Could not start IPC thread";
    return false;
  }
  ipc_thread_.task_runner()->PostTask(
      FROM_HERE, base::BindOnce(&IpcSender::ConnectOnIpcThread,
                                base::Unretained(this), name));
  return true;
}

void IpcSender::Send(std::unique_ptr<base::Pickle> message) {
  // Before Connect, or after Close, there is no thread to write it.
  if (!ipc_thread_.message_loop())
    return;
  ipc_thread_.task_runner()->PostTask(
      FROM_HERE, base::BindOnce(&IpcSender::SendOnIpcThread,
                                base::Unretained(this), std::move(message)));
}

void IpcSender::Close() {
  VLOG(1) << "Stopping RPC sender";
  if (ipc_thread_.message_loop()) {
    ipc_thread_.task_runner()->PostTask(
        FROM_HERE,
        base::BindOnce(&IpcSender::CloseOnIpcThread, base::Unretained(this)));
  }
  ipc_thread_.Stop();
}

void IpcSender::ConnectOnIpcThread(const base::string16& name) {
  const base::string16 path = kMailslotNamespace + name;
  VLOG(1) << "Opening mailslot " << base::UTF16ToUTF8(path);
  HANDLE handle = ::CreateFileW(
      path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    PLOG(ERROR) << "Failed opening " << base::UTF16ToUTF8(path);
    return;
  }
  writer_ = MailslotWriter::Create(handle);
}

void IpcSender::SendOnIpcThread(std::unique_ptr<base::Pickle> message) {
  if (writer_)
    writer_->Write(std::move(message));
}

void IpcSender::CloseOnIpcThread() {
  writer_.reset();
}

}  // namespace installer
