#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/strings/string_number_conversions.h"
#include "base/synchronization/waitable_event.h"
#include "base/test/bounded_wait.h"
#include "base/test/thread_safe_log.h"
#include "base/threading/thread.h"
#include "desktop/windows/installer/ipc/installer_message_recorder.h"
#include "desktop/windows/installer/ipc/installer_messages.h"
#include "desktop/windows/installer/ipc/ipc_receiver.h"
#include "desktop/windows/installer/ipc/ipc_sender.h"
#include "desktop/windows/installer/ipc/mailslot_reader.h"
#include "desktop/windows/installer/ipc/mailslot_writer.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// The receiver and the sender live on a thread of their own with a message
// loop, as on the main thread of the front end and the backend; the test
// waits for what reaches that thread.
class IpcChannelTest : public testing::Test, public IpcReceiver::Delegate {
 protected:
  void SetUp() override {
    static int serial = 0;
    name_ = L"kavor_installer\\ipc_test_" +
            base::IntToString16(static_cast<int>(::GetCurrentProcessId())) +
            L"_" + base::IntToString16(++serial);
    ASSERT_TRUE(owner_.Start());
    bool connected = false;
    RunOnOwner([&] {
      receiver_ = std::make_unique<IpcReceiver>(this);
      connected = receiver_->Connect(name_);
      sender_ = std::make_unique<IpcSender>();
    });
    ASSERT_TRUE(connected);
    // The front end creates the slot before the backend opens it.
    ASSERT_TRUE(base::WaitUntil(
        [this] {
          HANDLE slot = OpenSlot(0);
          if (slot == INVALID_HANDLE_VALUE)
            return false;
          ::CloseHandle(slot);
          return true;
        },
        "the mailslot to be created"));
  }

  void TearDown() override {
    RunOnOwner([this] {
      sender_.reset();
      receiver_.reset();
    });
    owner_.Stop();
  }

  // IpcReceiver::Delegate:
  void OnMessageReceived(const base::Pickle& message) override {
    deliveries_.Add(std::to_string(message.size()));
    recorder_.Dispatch(message);
  }

  void RunOnOwner(std::function<void()> task) { RunOn(&owner_, task); }

  static void RunOn(base::Thread* thread, std::function<void()> task) {
    base::WaitableEvent done;
    thread->task_runner()->PostTask(
        FROM_HERE,
        base::BindOnce(
            [](std::function<void()> task, base::WaitableEvent* done) {
              task();
              done->Signal();
            },
            std::move(task), &done));
    ASSERT_TRUE(base::WaitWithin(&done, "the task on the test's thread"));
  }

  HANDLE OpenSlot(DWORD flags) {
    const base::string16 path = L"\\\\.\\mailslot\\" + name_;
    return ::CreateFileW(path.c_str(), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, flags, nullptr);
  }

  testing::AssertionResult WaitForCalls(size_t count) {
    return base::WaitUntil(
        [this, count] { return recorder_.calls().size() >= count; },
        "the observer calls of the sent messages");
  }

  base::string16 name_;
  base::Thread owner_{"IPC test owner"};
  std::unique_ptr<IpcReceiver> receiver_;
  std::unique_ptr<IpcSender> sender_;
  base::ThreadSafeLog deliveries_;
  MessageRecorder recorder_;
};

// Each type's reading is covered with the messages; here the transport:
// order, messages sent before the slot is open, a message of the full size.
TEST_F(IpcChannelTest, MessagesArriveInOrder) {
  // Sent at once after Connect, before its task could open the slot.
  RunOnOwner([this] {
    ASSERT_TRUE(sender_->Connect(name_));
    sender_->Send(CreateStepStartingMessage("copy"));
    sender_->Send(CreateErrorMessage(6, L"C:\\x", std::string(3000, 'e')));
    sender_->Send(CreateSuccessMessage());
  });
  const std::vector<std::string> expected = {
      "OnStepStarting(copy)",
      // 2048 bytes less the 52 of the other fields.
      "OnError(6,C:\\x," + std::string(1996, 'e') + ")",
      "OnSuccess()",
  };
  ASSERT_TRUE(WaitForCalls(expected.size()));
  EXPECT_EQ(expected, recorder_.calls());
}

// A backend sends its outcome and closes the sender at once: the writes
// still queued behind a pending one go out before the slot is closed, the
// outcome last.
TEST_F(IpcChannelTest, ClosingWriterSendsWhatWasQueued) {
  const int kSteps = 50;
  base::Thread io_thread("mailslot writer");
  ASSERT_TRUE(io_thread.StartWithOptions(
      base::Thread::Options(base::MessageLoop::TYPE_IO, 0)));
  RunOn(&io_thread, [&] {
    HANDLE slot = OpenSlot(FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, slot);
    std::unique_ptr<MailslotWriter> writer = MailslotWriter::Create(slot);
    ASSERT_TRUE(writer);
    // One task: no completion is taken off the port before the close.
    for (int i = 0; i < kSteps; ++i)
      writer->Write(CreateStepStartingMessage(std::to_string(i)));
    writer->Write(CreateSuccessMessage());
    writer.reset();
  });
  ASSERT_TRUE(WaitForCalls(kSteps + 1));
  EXPECT_EQ("OnSuccess()", recorder_.calls().back());
}

TEST_F(IpcChannelTest, EmptyDatagramReachesNobody) {
  HANDLE slot = OpenSlot(0);
  ASSERT_NE(INVALID_HANDLE_VALUE, slot);
  DWORD written = 0;
  EXPECT_TRUE(::WriteFile(slot, "", 0, &written, nullptr));
  ::CloseHandle(slot);
  // Sent after the empty datagram: once it is there, the empty one was read.
  RunOnOwner([this] {
    ASSERT_TRUE(sender_->Connect(name_));
    sender_->Send(CreateSuccessMessage());
  });
  ASSERT_TRUE(WaitForCalls(1));
  EXPECT_EQ(std::vector<std::string>(
                {std::to_string(CreateSuccessMessage()->size())}),
            deliveries_.entries());
}

// Wine can't put a mailslot handle on a completion port, so the reader's
// overlapped road runs here on a message-mode pipe, which reads alike.
TEST_F(IpcChannelTest, OverlappedReadsComeThroughThePort) {
  base::Thread io_thread("pipe reader");
  ASSERT_TRUE(io_thread.StartWithOptions(
      base::Thread::Options(base::MessageLoop::TYPE_IO, 0)));
  const base::string16 pipe_name = L"\\\\.\\pipe\\" + name_;
  HANDLE server = ::CreateNamedPipeW(
      pipe_name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1, 0, kMaxInstallerMessageSize,
      0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, server);
  HANDLE client = ::CreateFileW(pipe_name.c_str(), GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, client);
  std::unique_ptr<MailslotReader> reader;
  RunOn(&io_thread, [&] {
    reader = std::make_unique<MailslotReader>(server, receiver_.get());
    reader->Start();
  });
  DWORD written = 0;
  for (const char* name : {"one", "two"}) {
    const auto message = CreateStepStartingMessage(name);
    EXPECT_TRUE(::WriteFile(client, message->data(),
                            static_cast<DWORD>(message->size()), &written,
                            nullptr));
  }
  ASSERT_TRUE(WaitForCalls(2));
  EXPECT_EQ(
      std::vector<std::string>({"OnStepStarting(one)", "OnStepStarting(two)"}),
      recorder_.calls());
  // Destroyed with the next read outstanding: it is cancelled and waited
  // for.
  RunOn(&io_thread, [&] { reader.reset(); });
  ::CloseHandle(client);
}

// The backend is started as soon as Connect returns and opens the slot at
// once: the slot must be there by then, and a name already taken fails the
// connect instead of leaving a receiver that hears nothing.
TEST_F(IpcChannelTest, MailslotExistsWhenConnectReturns) {
  const base::string16 first_name = name_;
  name_ += L"_own";
  RunOnOwner([this, first_name] {
    IpcReceiver receiver(this);
    ASSERT_TRUE(receiver.Connect(name_));
    HANDLE slot = OpenSlot(0);
    EXPECT_NE(INVALID_HANDLE_VALUE, slot) << "no mailslot yet";
    if (slot != INVALID_HANDLE_VALUE)
      ::CloseHandle(slot);
    IpcReceiver second(this);
    EXPECT_FALSE(second.Connect(first_name)) << "a taken name was accepted";
  });
}

}  // namespace
}  // namespace installer
