#include "crash/crash_generation/crash_generation_client.h"

#include <windows.h>
#include <string.h>

#include <string>

#include "base/test/test_thread.h"
#include "crash/crash_generation/crash_generation_server.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

std::wstring TestPipeName(const wchar_t* what) {
  static int counter = 0;
  return L"\\\\.\\pipe\\KavorCrashClientTest" +
         std::to_wstring(GetCurrentProcessId()) + L"-" + what +
         std::to_wstring(++counter);
}

// A pipe the test serves by hand, and the client's end of it, for checking
// what the client sends and how it takes malformed answers.
class HandServedPipe {
 public:
  HandServedPipe() {
    std::wstring name = TestPipeName(L"hand");
    server_ =
        CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX,
                         PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                         1, 4096, 4096, 0, nullptr);
    client_ = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                          nullptr, OPEN_EXISTING, 0, nullptr);
    if (server_ != INVALID_HANDLE_VALUE && client_ != INVALID_HANDLE_VALUE &&
        !ConnectNamedPipe(server_, nullptr) &&
        GetLastError() != ERROR_PIPE_CONNECTED) {
      CloseHandle(server_);
      server_ = INVALID_HANDLE_VALUE;
    }
  }
  ~HandServedPipe() {
    if (server_ != INVALID_HANDLE_VALUE)
      CloseHandle(server_);
  }
  bool ok() const {
    return server_ != INVALID_HANDLE_VALUE && client_ != INVALID_HANDLE_VALUE;
  }
  // Given to the client, which closes it.
  HANDLE client_end() const { return client_; }

  // Reads one request, answers |reply| and reads what comes next; false
  // when the client closed the pipe instead.
  bool Serve(const ProtocolMessage& reply, ProtocolMessage* next) {
    DWORD bytes = 0;
    if (!ReadFile(server_, &request_, sizeof(request_), &bytes, nullptr) ||
        bytes != sizeof(request_)) {
      return false;
    }
    if (!WriteFile(server_, &reply, sizeof(reply), &bytes, nullptr))
      return false;
    return ReadFile(server_, next, sizeof(*next), &bytes, nullptr) &&
           bytes == sizeof(*next);
  }
  const ProtocolMessage& request() const { return request_; }

 private:
  HANDLE server_ = INVALID_HANDLE_VALUE;
  HANDLE client_ = INVALID_HANDLE_VALUE;
  ProtocolMessage request_ = {};
};

struct Events {
  Events()
      : request(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        done(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        // Stands in for the server's mutex: a mutex owned by this thread
        // would answer this thread's wait at once.
        alive(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Events() {
    CloseHandle(request);
    CloseHandle(done);
    CloseHandle(alive);
  }
  // Copies the client can own: it closes what it was given.
  ProtocolMessage Response() const {
    ProtocolMessage reply = {};
    reply.tag = MESSAGE_TAG_REGISTRATION_RESPONSE;
    reply.id = 4242;
    DuplicateHandle(GetCurrentProcess(), request, GetCurrentProcess(),
                    &reply.dump_request_handle, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    DuplicateHandle(GetCurrentProcess(), done, GetCurrentProcess(),
                    &reply.dump_generated_handle, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    DuplicateHandle(GetCurrentProcess(), alive, GetCurrentProcess(),
                    &reply.server_alive_handle, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    return reply;
  }
  HANDLE request;
  HANDLE done;
  HANDLE alive;
};

// The request names this process and the client's own records, the
// acknowledgement follows a good answer, and a dump request hands the
// exception, the thread and the assertion over through those records.
TEST(CrashGenerationClientTest, RegistersAndHandsItsRecordsOver) {
  // The answering thread may be slow on a loaded machine: the dump wait
  // lasts as long as that thread's own wait.
  struct ScopedDumpWait {
    ScopedDumpWait() { CrashGenerationClient::SetDumpWaitForTesting(60000); }
    ~ScopedDumpWait() { CrashGenerationClient::SetDumpWaitForTesting(0); }
  } dump_wait;
  HandServedPipe pipe;
  ASSERT_TRUE(pipe.ok());
  Events events;
  CustomInfoEntry keys[3] = {};
  CustomClientInfo custom_info = {keys, 3};
  CrashGenerationClient client(pipe.client_end(), 0x2, &custom_info);

  ProtocolMessage ack = {};
  bool served = false;
  {
    ProtocolMessage reply = events.Response();
    base::TestThread server([&] { served = pipe.Serve(reply, &ack); });
    EXPECT_TRUE(client.Register());
  }
  ASSERT_TRUE(served);
  const ProtocolMessage& request = pipe.request();
  EXPECT_EQ(MESSAGE_TAG_REGISTRATION_REQUEST, request.tag);
  EXPECT_EQ(GetCurrentProcessId(), request.id);
  EXPECT_EQ(0x2u, request.dump_type);
  EXPECT_EQ(keys, request.custom_client_info.entries);
  EXPECT_EQ(3u, request.custom_client_info.count);
  EXPECT_FALSE(request.dump_request_handle);
  EXPECT_FALSE(request.dump_generated_handle);
  EXPECT_FALSE(request.server_alive_handle);
  ASSERT_TRUE(request.thread_id);
  ASSERT_TRUE(request.exception_pointers);
  ASSERT_TRUE(request.assert_info);
  ProtocolMessage expected_ack = {};
  expected_ack.tag = MESSAGE_TAG_REGISTRATION_ACK;
  EXPECT_EQ(0, memcmp(&expected_ack, &ack, sizeof(ack)));

  // The "server" answers the dump request from another thread, reading the
  // records where the request said they are.
  EXCEPTION_RECORD record = {};
  EXCEPTION_POINTERS pointers = {&record, nullptr};
  AssertionInfo assertion = {};
  wcscpy(assertion.expression, L"x != nullptr");
  assertion.line = 17;
  assertion.type = ASSERTION_INVALID_PARAMETER;
  DWORD seen_thread = 0;
  EXCEPTION_POINTERS* seen_pointers = nullptr;
  AssertionInfo seen_assertion = {};
  bool dumped = false;
  {
    base::TestThread dumper([&] {
      // Generous: a loaded machine may be slow to run either thread.
      if (WaitForSingleObject(events.request, 60000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "the client's dump request never came";
        return;
      }
      seen_thread = *request.thread_id;
      seen_pointers = *request.exception_pointers;
      seen_assertion = *request.assert_info;
      SetEvent(events.done);
    });
    dumped = client.RequestDump(&pointers, &assertion);
  }
  EXPECT_TRUE(dumped);
  EXPECT_EQ(GetCurrentThreadId(), seen_thread);
  EXPECT_EQ(&pointers, seen_pointers);
  EXPECT_EQ(0, memcmp(&assertion, &seen_assertion, sizeof(assertion)));

  // Without an assertion the record is cleared, so no stale one is dumped.
  {
    base::TestThread dumper([&] {
      // Generous: a loaded machine may be slow to run either thread.
      if (WaitForSingleObject(events.request, 60000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "the client's dump request never came";
        return;
      }
      seen_assertion = *request.assert_info;
      SetEvent(events.done);
    });
    ResetEvent(events.request);
    EXPECT_TRUE(client.RequestDump(nullptr, nullptr));
  }
  EXPECT_EQ(0u, seen_assertion.type);
  EXPECT_EQ(0u, seen_assertion.line);
  EXPECT_EQ(L'\0', seen_assertion.expression[0]);
}

// Answers that cannot be used fail the registration, and nothing is
// acknowledged: the client closes the pipe instead.
TEST(CrashGenerationClientTest, UnusableAnswersFailRegistration) {
  Events events;
  for (int variant = 0; variant < 5; ++variant) {
    SCOPED_TRACE(variant);
    HandServedPipe pipe;
    ASSERT_TRUE(pipe.ok());
    ProtocolMessage reply = events.Response();
    switch (variant) {
      case 0:
        reply.id = 0;
        break;
      case 1:
        reply.dump_request_handle = nullptr;
        break;
      case 2:
        reply.dump_generated_handle = nullptr;
        break;
      case 3:
        reply.server_alive_handle = nullptr;
        break;
      case 4:
        reply.tag = MESSAGE_TAG_REGISTRATION_ACK;
        break;
    }
    CrashGenerationClient client(pipe.client_end(), 0, nullptr);
    bool acknowledged = true;
    {
      base::TestThread server([&] {
        ProtocolMessage ack = {};
        acknowledged = pipe.Serve(reply, &ack);
      });
      EXPECT_FALSE(client.Register());
    }
    EXPECT_FALSE(acknowledged);
    EXPECT_FALSE(client.IsRegistered());
    EXPECT_FALSE(client.RequestDump(nullptr, nullptr));
  }
}

TEST(CrashGenerationClientTest, WithoutServerNothingIsRegistered) {
  CrashGenerationClient client(TestPipeName(L"none"), 0, nullptr);
  EXPECT_FALSE(client.Register());
  EXPECT_FALSE(client.RequestDump(nullptr, nullptr));
}

struct ServerOnPipe {
  explicit ServerOnPipe(const std::wstring& name)
      : server(name,
               nullptr,
               nullptr,
               nullptr,
               nullptr,
               nullptr,
               nullptr,
               nullptr,
               nullptr,
               nullptr,
               false,
               nullptr) {}
  CrashGenerationServer server;
};

// Holds the server's single pipe instance; tries for a minute at most.
HANDLE OccupyPipe(const std::wstring& name) {
  for (int i = 0; i < 600; ++i) {
    HANDLE pipe = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe != INVALID_HANDLE_VALUE)
      return pipe;
    WaitNamedPipeW(name.c_str(), 100);
  }
  return INVALID_HANDLE_VALUE;
}

// A busy pipe is waited for once: freed during the wait it is opened the
// second time; still busy, registration fails.
TEST(CrashGenerationClientTest, BusyPipeIsWaitedForOnce) {
  std::wstring name = TestPipeName(L"busy");
  ServerOnPipe server(name);
  ASSERT_TRUE(server.server.Start());

  HANDLE occupier = OccupyPipe(name);
  ASSERT_NE(INVALID_HANDLE_VALUE, occupier);
  CrashGenerationClient gives_up(name, 0, nullptr);
  EXPECT_FALSE(gives_up.Register());

  // The server may be slow to free its pipe on a loaded machine: the
  // waiting client waits for that, not for the usual time.
  struct ScopedPipeBusyWait {
    ScopedPipeBusyWait() {
      CrashGenerationClient::SetPipeBusyWaitForTesting(60000);
    }
    ~ScopedPipeBusyWait() {
      CrashGenerationClient::SetPipeBusyWaitForTesting(0);
    }
  } pipe_busy_wait;
  CrashGenerationClient client(name, 0, nullptr);
  bool registered = false;
  base::TestThread registering([&] { registered = client.Register(); });
  // Still waiting for the pipe while it is held.
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT),
            WaitForSingleObject(registering.handle(), 300));
  // The server drops the silent client and serves the waiting one.
  CloseHandle(occupier);
  registering.Join();
  EXPECT_TRUE(registered);
  EXPECT_EQ(1u, server.server.ClientCountForTesting());
}

// A registered client needs the pipe no more.
TEST(CrashGenerationClientTest, RegisterAgainKeepsTheRegistration) {
  std::wstring name = TestPipeName(L"again");
  CrashGenerationClient client(name, 0, nullptr);
  {
    ServerOnPipe server(name);
    ASSERT_TRUE(server.server.Start());
    ASSERT_TRUE(client.Register());
  }
  EXPECT_TRUE(client.Register());
  EXPECT_TRUE(client.IsRegistered());
}

}  // namespace
}  // namespace crash_reporter
