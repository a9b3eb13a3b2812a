#include "desktop/windows/installer/ipc/mailslot_writer.h"

#include "base/logging.h"

namespace installer {

namespace {
constexpr ULONGLONG kFlushTimeoutMs = 5000;
}  // namespace

// static
std::unique_ptr<MailslotWriter> MailslotWriter::Create(HANDLE handle) {
  std::unique_ptr<MailslotWriter> writer(new MailslotWriter(handle));
  if (!base::MessageLoopForIO::current()->RegisterIOHandler(handle,
                                                            writer.get())) {
    // Without the port no write would ever be seen to complete.
    PLOG(ERROR) << "Cannot write to mailslot: no completion port";
    return nullptr;
  }
  return writer;
}

MailslotWriter::MailslotWriter(HANDLE handle) : handle_(handle) {}

MailslotWriter::~MailslotWriter() {
  VLOG(1) << "Closing mailslot.";
  // What is still queued is wanted: the last messages of a run are its
  // outcome, and a front end counts a run without one as failed. Mailslot
  // writes complete at once unless something is badly wrong, so they get a
  // bounded time to go out before the rest is given up.
  const ULONGLONG give_up = ::GetTickCount64() + kFlushTimeoutMs;
  while (write_pending_) {
    const ULONGLONG now = ::GetTickCount64();
    if (now >= give_up)
      break;
    base::MessageLoopForIO::current()->WaitForIOCompletion(
        static_cast<DWORD>(give_up - now), this);
  }
  if (write_pending_) {
    VLOG(1) << "I/O still pending on mailslot.";
    ::CancelIo(handle_);
  }
  ::CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  // The outstanding write still reads the head message until its completion
  // is taken off the port.
  while (write_pending_)
    base::MessageLoopForIO::current()->WaitForIOCompletion(INFINITE, this);
  VLOG(1) << "Messages unsent: " << queue_.size();
}

void MailslotWriter::Write(std::unique_ptr<base::Pickle> message) {
  queue_.push_back(std::move(message));
  if (!write_pending_)
    WriteNext();
}

void MailslotWriter::OnIOCompleted(base::MessageLoopForIO::IOContext* context,
                                   DWORD bytes_transfered,
                                   DWORD error) {
  delete context;
  write_pending_ = false;
  queue_.pop_front();
  WriteNext();
}

void MailslotWriter::WriteNext() {
  if (handle_ == INVALID_HANDLE_VALUE || queue_.empty())
    return;
  const base::Pickle& message = *queue_.front();
  auto* context = new base::MessageLoopForIO::IOContext;
  // A write that succeeds at once still completes on the port.
  if (!::WriteFile(handle_, message.data(), static_cast<DWORD>(message.size()),
                   nullptr, &context->overlapped) &&
      ::GetLastError() != ERROR_IO_PENDING) {
    // The message stays at the head and is tried again with the next one.
    PLOG(ERROR) << "Cannot write to mailslot";
    delete context;
    return;
  }
  write_pending_ = true;
}

}  // namespace installer
