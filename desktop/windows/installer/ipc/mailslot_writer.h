#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_WRITER_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_WRITER_H_

#include <windows.h>

#include <deque>
#include <memory>

#include "base/macros.h"
#include "base/message_loop/message_loop.h"
#include "base/pickle.h"

namespace installer {

// Writes messages into an open mailslot on the IPC thread, one overlapped
// write at a time, completing on the thread's completion port. Messages
// wait in order in a queue whose head is the one being written.
class MailslotWriter : public base::MessageLoopForIO::IOHandler {
 public:
  // Takes |handle| (opened for overlapped writing) over and puts it on the
  // IPC thread's completion port; null, with the handle closed, when that
  // fails. IPC thread only.
  static std::unique_ptr<MailslotWriter> Create(HANDLE handle);
  ~MailslotWriter() override;

  // Queues |message| and starts writing it when no write is outstanding.
  void Write(std::unique_ptr<base::Pickle> message);

  // base::MessageLoopForIO::IOHandler:
  void OnIOCompleted(base::MessageLoopForIO::IOContext* context,
                     DWORD bytes_transfered,
                     DWORD error) override;

 private:
  explicit MailslotWriter(HANDLE handle);

  void WriteNext();

  HANDLE handle_;
  std::deque<std::unique_ptr<base::Pickle>> queue_;
  bool write_pending_ = false;

  DISALLOW_COPY_AND_ASSIGN(MailslotWriter);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_WRITER_H_
