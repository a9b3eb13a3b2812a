#include "desktop/windows/installer/ipc/mailslot_reader.h"

#include "base/bind.h"
#include "base/logging.h"
#include "base/pickle.h"
#include "desktop/windows/installer/ipc/installer_messages.h"
#include "desktop/windows/installer/ipc/ipc_receiver.h"

namespace installer {

namespace {

// Short enough that the progress shown in the front end doesn't visibly
// lag, long enough that an idle front end stays idle.
constexpr base::TimeDelta kPollInterval = base::TimeDelta::FromMilliseconds(10);

}  // namespace

MailslotReader::MailslotReader(HANDLE handle, IpcReceiver* receiver)
    : handle_(handle),
      receiver_(receiver),
      buffer_(new char[kMaxInstallerMessageSize]) {}

MailslotReader::~MailslotReader() {
  VLOG(1) << "Closing mailslot";
  poll_timer_.Stop();
  if (read_pending_) {
    VLOG(1) << "I/O still pending on mailslot.";
    ::CancelIo(handle_);
  }
  ::CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  // The outstanding read still owns its record and writes into the buffer
  // until its completion is taken off the port.
  while (read_pending_)
    base::MessageLoopForIO::current()->WaitForIOCompletion(INFINITE, this);
}

void MailslotReader::Start() {
  if (base::MessageLoopForIO::current()->RegisterIOHandler(handle_, this)) {
    LOG(INFO) << "Reading the mailslot with overlapped I/O";
    IssueRead();
    return;
  }
  // An overlapped read on a handle that can't complete on the port would
  // block the thread until a datagram comes, and could not be cancelled.
  const DWORD error = ::GetLastError();
  LOG(INFO) << "The mailslot handle can't join the completion port (error "
            << error << "); polling the mailslot every "
            << kPollInterval.InMilliseconds() << " ms";
  if (!::SetMailslotInfo(handle_, 0)) {
    PLOG(ERROR) << "Cannot read from mailslot";
    return;
  }
  poll_timer_.Start(
      FROM_HERE, kPollInterval,
      base::BindRepeating(&MailslotReader::Poll, base::Unretained(this)));
}

void MailslotReader::OnIOCompleted(base::MessageLoopForIO::IOContext* context,
                                   DWORD bytes_transfered,
                                   DWORD error) {
  if (bytes_transfered)
    Deliver(bytes_transfered);
  delete context;
  read_pending_ = false;
  IssueRead();
}

void MailslotReader::IssueRead() {
  if (handle_ == INVALID_HANDLE_VALUE)
    return;
  auto* context = new base::MessageLoopForIO::IOContext;
  if (!::ReadFile(handle_, buffer_.get(), kMaxInstallerMessageSize, nullptr,
                  &context->overlapped) &&
      ::GetLastError() != ERROR_IO_PENDING) {
    PLOG(ERROR) << "Cannot read from mailslot";
    delete context;
    return;
  }
  read_pending_ = true;
}

void MailslotReader::Poll() {
  while (handle_ != INVALID_HANDLE_VALUE) {
    DWORD size = 0;
    if (!::ReadFile(handle_, buffer_.get(), kMaxInstallerMessageSize, &size,
                    nullptr)) {
      const DWORD error = ::GetLastError();
      // An empty slot; or, with no writer yet or for a datagram of no
      // bytes, a broken pipe: both only mean there is nothing to read now.
      if (error == ERROR_SEM_TIMEOUT || error == ERROR_BROKEN_PIPE)
        return;
      ::SetLastError(error);
      PLOG(ERROR) << "Cannot read from mailslot";
      poll_timer_.Stop();
      return;
    }
    if (size)
      Deliver(size);
  }
}

void MailslotReader::Deliver(DWORD size) {
  const base::Pickle message(buffer_.get(), static_cast<int>(size));
  receiver_->OnMessageReceived(message);
}

}  // namespace installer
