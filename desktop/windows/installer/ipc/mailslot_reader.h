#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_READER_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_READER_H_

#include <windows.h>

#include <memory>

#include "base/macros.h"
#include "base/message_loop/message_loop.h"
#include "base/timer/timer.h"

namespace installer {

class IpcReceiver;

// Reads the datagrams of one mailslot on the IPC thread and hands each to
// the receiver. It reads with overlapped I/O on the thread's completion
// port; where the system can't put a mailslot handle on a port (Wine makes
// mailslot handles synchronous), it polls the slot from a short repeating
// task on the same thread instead. Either way datagrams keep their order.
class MailslotReader : public base::MessageLoopForIO::IOHandler {
 public:
  // Takes |handle| over; |receiver| outlives the reader. IPC thread only.
  MailslotReader(HANDLE handle, IpcReceiver* receiver);
  ~MailslotReader() override;

  // Starts reading.
  void Start();

  // base::MessageLoopForIO::IOHandler:
  void OnIOCompleted(base::MessageLoopForIO::IOContext* context,
                     DWORD bytes_transfered,
                     DWORD error) override;

 private:
  void IssueRead();
  // Reads every datagram waiting in the slot, without waiting for more.
  void Poll();
  void Deliver(DWORD size);

  HANDLE handle_;
  IpcReceiver* const receiver_;
  std::unique_ptr<char[]> buffer_;
  bool read_pending_ = false;
  base::RepeatingTimer poll_timer_;

  DISALLOW_COPY_AND_ASSIGN(MailslotReader);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_MAILSLOT_READER_H_
