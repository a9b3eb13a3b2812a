#include "crash/crash_generation/crash_generation_server.h"

#include <windows.h>
#include <dbghelp.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/scoped_temp_dir.h"
#include "base/path_service.h"
#include "base/synchronization/lock.h"
#include "base/test/bounded_wait.h"
#include "base/test/test_thread.h"
#include "base/time/time.h"
#include "base/win/system_library.h"
#include "crash/crash_generation/client_info.h"
#include "crash/crash_generation/crash_generation_client.h"
#include "crash/crash_generation/minidump_generator.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

// How the test program ends after its crash filter asked for a dump.
constexpr DWORD kChildDumpDone = 0x600D;
// Generous: a loaded machine may take many seconds to write a dump.
constexpr DWORD kBoundMs = 60000;
constexpr base::TimeDelta kBound = base::TimeDelta::FromMilliseconds(kBoundMs);

// Widens the dump wait of the clients in this process beyond every bound of
// these tests, so that a client's wait that ends within a bound has ended
// for its reason, never for the time.
class ScopedDumpWaitBeyondBounds {
 public:
  ScopedDumpWaitBeyondBounds() {
    CrashGenerationClient::SetDumpWaitForTesting(2 * kBoundMs);
  }
  ~ScopedDumpWaitBeyondBounds() {
    CrashGenerationClient::SetDumpWaitForTesting(0);
  }
};

std::wstring ReporterPipeName() {
  return L"\\\\.\\pipe\\KavorCrashReporter" +
         std::to_wstring(GetCurrentProcessId());
}

std::wstring UniquePipeName() {
  static int counter = 0;
  return ReporterPipeName() + L"-" + std::to_wstring(++counter);
}

// A test program, ended when the test is done with it.
class Child {
 public:
  explicit Child(const std::wstring& args, DWORD flags = 0) {
    base::FilePath bin;
    if (!base::PathService::Get(base::DIR_EXE, &bin))
      return;
    std::wstring command_line =
        L"\"" + bin.Append(L"kavor_crash_client.exe").value() + L"\" " + args;
    // A loaded machine may refuse a start for a moment: say why, and try
    // once more.
    for (int attempt = 1; attempt <= 2; ++attempt) {
      STARTUPINFOW startup = {sizeof(startup)};
      std::wstring writable = command_line;
      if (CreateProcessW(nullptr, &writable[0], nullptr, nullptr, FALSE,
                         flags, nullptr, nullptr, &startup, &info_)) {
        return;
      }
      fprintf(stderr, "starting %ls failed (error %lu)%s\n",
              command_line.c_str(), GetLastError(),
              attempt == 1 ? "; trying once more" : "");
      fflush(stderr);
      info_ = {};
    }
  }
  ~Child() {
    if (!info_.hProcess)
      return;
    TerminateProcess(info_.hProcess, 1);
    WaitForSingleObject(info_.hProcess, kBoundMs);
    CloseHandle(info_.hProcess);
    CloseHandle(info_.hThread);
  }
  bool started() const { return info_.hProcess != nullptr; }
  DWORD pid() const { return info_.dwProcessId; }
  DWORD main_thread_id() const { return info_.dwThreadId; }
  HANDLE process() const { return info_.hProcess; }

  // The exit code, or STILL_ACTIVE when it did not end in time.
  DWORD WaitForExit() {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(info_.hProcess, kBoundMs) == WAIT_OBJECT_0)
      GetExitCodeProcess(info_.hProcess, &code);
    return code;
  }

 private:
  PROCESS_INFORMATION info_ = {};
};

// What the server's callbacks saw. The dump callback plays the reporter's
// part: it writes the dump with what it reads out of the client.
struct Observer {
  Observer()
      : connected(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        dumped(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
        exited(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Observer() {
    CloseHandle(connected);
    CloseHandle(dumped);
    CloseHandle(exited);
  }

  static void OnConnected(void* context, const ClientInfo* client) {
    auto* self = static_cast<Observer*>(context);
    base::AutoLock lock(self->lock);
    self->connected_pids.push_back(client->pid());
    SetEvent(self->connected);
  }

  static void OnDump(void* context,
                     const ClientInfo* client,
                     const std::wstring* dump_path) {
    auto* self = static_cast<Observer*>(context);
    base::AutoLock lock(self->lock);
    self->dump_pid = client->pid();
    self->server_dump_path = dump_path ? *dump_path : L"(none)";
    CustomClientInfo custom = client->GetCustomInfo();
    self->custom_count = custom.count;
    for (size_t i = 0; i < custom.count; ++i) {
      self->custom_names.push_back(custom.entries[i].name);
      self->custom_values.push_back(custom.entries[i].value);
    }
    if (client->GetClientThreadId(&self->thread_id) &&
        client->GetClientExceptionPointers(&self->pointers) &&
        !self->dump_folder.empty()) {
      MinidumpGenerator generator(
          self->dump_folder, client->process_handle(), client->pid(),
          self->thread_id, GetCurrentThreadId(), self->pointers,
          client->assert_info_address(), client->dump_type(), true);
      self->dump_written = generator.GenerateDumpFile(&self->dump_path) &&
                           generator.WriteMinidump();
    }
    SetEvent(self->dumped);
  }

  static void OnExit(void* context, const ClientInfo* client) {
    auto* self = static_cast<Observer*>(context);
    base::AutoLock lock(self->lock);
    self->exited_pids.push_back(client->pid());
    SetEvent(self->exited);
  }

  static void OnUpload(void* context, DWORD crash_id) {
    auto* self = static_cast<Observer*>(context);
    base::AutoLock lock(self->lock);
    self->uploads.push_back(crash_id);
  }

  base::Lock lock;
  HANDLE connected;
  HANDLE dumped;
  HANDLE exited;
  std::wstring dump_folder;
  std::vector<DWORD> connected_pids;
  std::vector<DWORD> exited_pids;
  std::vector<DWORD> uploads;
  DWORD dump_pid = 0;
  DWORD thread_id = 0;
  EXCEPTION_POINTERS* pointers = nullptr;
  std::wstring server_dump_path;
  std::wstring dump_path;
  bool dump_written = false;
  size_t custom_count = 0;
  std::vector<std::wstring> custom_names;
  std::vector<std::wstring> custom_values;
};

class CrashGenerationServerTest : public testing::Test {
 protected:
  std::unique_ptr<CrashGenerationServer> MakeServer(const std::wstring& pipe) {
    return std::make_unique<CrashGenerationServer>(
        pipe, nullptr, Observer::OnConnected, &observer_, Observer::OnDump,
        &observer_, Observer::OnExit, &observer_, Observer::OnUpload,
        &observer_, false, nullptr);
  }

  Observer observer_;
};

testing::AssertionResult Signalled(HANDLE event, const char* what) {
  const DWORD result = WaitForSingleObject(event, kBoundMs);
  if (result == WAIT_OBJECT_0)
    return testing::AssertionSuccess();
  return testing::AssertionFailure()
         << "no " << what << " within " << kBoundMs << " ms (wait result "
         << result << ", error " << GetLastError() << ")";
}

// The test program's exit code; fails naming what it waited for when the
// program did not end within the bound.
testing::AssertionResult EndsWith(DWORD expected, Child* child) {
  const DWORD code = child->WaitForExit();
  if (code == expected)
    return testing::AssertionSuccess();
  if (code == STILL_ACTIVE) {
    return testing::AssertionFailure()
           << "the test program did not end within " << kBoundMs << " ms";
  }
  char codes[64];
  snprintf(codes, sizeof(codes), "0x%lx, not 0x%lx",
           static_cast<unsigned long>(code),
           static_cast<unsigned long>(expected));
  return testing::AssertionFailure() << "the test program ended with "
                                     << codes;
}

// A dump file's stream, or null.
class DumpReader {
 public:
  explicit DumpReader(const std::wstring& path) {
    file_ = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                        OPEN_EXISTING, 0, nullptr);
    if (file_ == INVALID_HANDLE_VALUE)
      return;
    mapping_ = CreateFileMappingW(file_, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping_)
      view_ = MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0);
    dbghelp_ = base::win::LoadSystemLibrary(L"dbghelp.dll");
    if (dbghelp_) {
      read_stream_ = reinterpret_cast<decltype(&MiniDumpReadDumpStream)>(
          GetProcAddress(dbghelp_, "MiniDumpReadDumpStream"));
    }
  }
  ~DumpReader() {
    if (view_)
      UnmapViewOfFile(view_);
    if (mapping_)
      CloseHandle(mapping_);
    if (file_ != INVALID_HANDLE_VALUE)
      CloseHandle(file_);
    if (dbghelp_)
      FreeLibrary(dbghelp_);
  }
  const void* Stream(ULONG type, ULONG* size) {
    void* stream = nullptr;
    if (!view_ || !read_stream_ ||
        !read_stream_(view_, type, nullptr, &stream, size)) {
      return nullptr;
    }
    return stream;
  }

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  HANDLE mapping_ = nullptr;
  void* view_ = nullptr;
  HMODULE dbghelp_ = nullptr;
  decltype(&MiniDumpReadDumpStream) read_stream_ = nullptr;
};

// The dump at |path| shows an access violation of |thread_id| and carries
// the handler information.
void ExpectAccessViolationDump(const std::wstring& path, DWORD thread_id) {
  DumpReader dump(path);
  ULONG size = 0;
  auto* exception = static_cast<const MINIDUMP_EXCEPTION_STREAM*>(
      dump.Stream(ExceptionStream, &size));
  ASSERT_TRUE(exception);
  EXPECT_EQ(thread_id, exception->ThreadId);
  EXPECT_EQ(static_cast<ULONG>(EXCEPTION_ACCESS_VIOLATION),
            exception->ExceptionRecord.ExceptionCode);
  EXPECT_TRUE(dump.Stream(kHandlerInfoStreamType, &size));
  EXPECT_EQ(sizeof(HandlerInfo), size);
}

// The whole road: a program registers on the reporter's pipe, crashes, and
// the dump written in the server's callback shows its crash; its crash
// filter learns that the dump is done, and its end removes it.
TEST_F(CrashGenerationServerTest, CrashOfRegisteredProgramIsDumped) {
  base::ScopedTempDir dumps;
  ASSERT_TRUE(dumps.CreateUniqueTempDir());
  observer_.dump_folder = dumps.GetPath().value();
  std::wstring pipe = ReporterPipeName();
  auto server = MakeServer(pipe);
  ASSERT_TRUE(server->Start());

  Child child(L"crash " + pipe + L" 2");
  ASSERT_TRUE(child.started());
  EXPECT_TRUE(EndsWith(kChildDumpDone, &child));
  ASSERT_TRUE(Signalled(observer_.dumped, "dump request"));
  ASSERT_TRUE(Signalled(observer_.exited, "client exit"));
  ASSERT_TRUE(Signalled(observer_.connected, "client connection"));
  ASSERT_TRUE(
      base::WaitUntil([&] { return server->ClientCountForTesting() == 0; },
                      "the client's removal", kBound));

  base::AutoLock lock(observer_.lock);
  EXPECT_EQ(std::vector<DWORD>{child.pid()}, observer_.connected_pids);
  EXPECT_EQ(std::vector<DWORD>{child.pid()}, observer_.exited_pids);
  EXPECT_EQ(child.pid(), observer_.dump_pid);
  EXPECT_EQ(child.main_thread_id(), observer_.thread_id);
  EXPECT_TRUE(observer_.pointers);
  // The server wrote no dump of its own.
  EXPECT_EQ(L"(none)", observer_.server_dump_path);

  // The program's two keys and its uptime.
  ASSERT_EQ(3u, observer_.custom_count);
  EXPECT_EQ(L"key0", observer_.custom_names[0]);
  EXPECT_EQ(L"value0", observer_.custom_values[0]);
  EXPECT_EQ(L"key1", observer_.custom_names[1]);
  EXPECT_EQ(L"value1", observer_.custom_values[1]);
  EXPECT_EQ(L"ptime", observer_.custom_names[2]);
  EXPECT_FALSE(observer_.custom_values[2].empty());
  EXPECT_EQ(std::wstring::npos,
            observer_.custom_values[2].find_first_not_of(L"0123456789"));

  ASSERT_TRUE(observer_.dump_written);
  ExpectAccessViolationDump(observer_.dump_path, child.main_thread_id());
}

// A server built to write dumps itself names the dump to its callback.
// (A full-memory dump of another process takes Wine many seconds; the
// generator's own tests cover that type.)
TEST_F(CrashGenerationServerTest, ServerWritesTheDumpWhenAsked) {
  base::ScopedTempDir dumps;
  ASSERT_TRUE(dumps.CreateUniqueTempDir());
  const std::wstring folder = dumps.GetPath().value();
  std::wstring pipe = UniquePipeName();
  CrashGenerationServer server(pipe, nullptr, nullptr, nullptr,
                               Observer::OnDump, &observer_, nullptr, nullptr,
                               nullptr, nullptr, true, &folder);
  ASSERT_TRUE(server.Start());

  Child child(L"crash " + pipe + L" 0");
  ASSERT_TRUE(child.started());
  EXPECT_TRUE(EndsWith(kChildDumpDone, &child));
  ASSERT_TRUE(Signalled(observer_.dumped, "dump request"));
  base::AutoLock lock(observer_.lock);
  const std::wstring& path = observer_.server_dump_path;
  ASSERT_EQ(folder + L"\\", path.substr(0, folder.size() + 1));
  ASSERT_EQ(folder.size() + 1 + 36 + 4, path.size());
  EXPECT_EQ(L".dmp", path.substr(path.size() - 4));

  ExpectAccessViolationDump(path, child.main_thread_id());
}

// Crash keys are copied with their limit: none declared gives just the
// uptime; more than the limit gives none, yet the dump request is answered.
TEST_F(CrashGenerationServerTest, CustomInfoLimits) {
  std::wstring pipe = UniquePipeName();
  auto server = MakeServer(pipe);
  ASSERT_TRUE(server->Start());
  {
    Child child(L"crash " + pipe + L" 0");
    ASSERT_TRUE(child.started());
    EXPECT_TRUE(EndsWith(kChildDumpDone, &child));
    ASSERT_TRUE(Signalled(observer_.dumped, "dump request"));
    base::AutoLock lock(observer_.lock);
    ASSERT_EQ(1u, observer_.custom_count);
    EXPECT_EQ(L"ptime", observer_.custom_names[0]);
  }
  ResetEvent(observer_.dumped);
  {
    base::AutoLock lock(observer_.lock);
    observer_.custom_names.clear();
    observer_.dump_pid = 0;
  }
  {
    Child child(L"crash " + pipe + L" 4097");
    ASSERT_TRUE(child.started());
    EXPECT_TRUE(EndsWith(kChildDumpDone, &child));
    ASSERT_TRUE(Signalled(observer_.dumped, "dump request"));
    base::AutoLock lock(observer_.lock);
    EXPECT_EQ(child.pid(), observer_.dump_pid);
    EXPECT_EQ(0u, observer_.custom_count);
    EXPECT_TRUE(observer_.custom_names.empty());
  }
}

// The number of handles open in |process|, counted by trying the low handle
// values (GetProcessHandleCount answers 0 for other processes under Wine).
int HandleCount(HANDLE process) {
  int count = 0;
  for (uintptr_t value = 4; value < 0x4000; value += 4) {
    HANDLE copy = nullptr;
    if (DuplicateHandle(process, reinterpret_cast<HANDLE>(value),
                        GetCurrentProcess(), &copy, 0, FALSE,
                        DUPLICATE_SAME_ACCESS)) {
      CloseHandle(copy);
      ++count;
    }
  }
  return count;
}

// A raw connection to the server's pipe in message mode; tries for a minute
// at most.
HANDLE ConnectRaw(const std::wstring& name) {
  for (int i = 0; i < 600; ++i) {
    HANDLE pipe = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) {
      DWORD mode = PIPE_READMODE_MESSAGE;
      SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
      return pipe;
    }
    WaitNamedPipeW(name.c_str(), 100);
  }
  return INVALID_HANDLE_VALUE;
}

// Sends |size| bytes of |message| and tells whether anything came back
// before the server dropped the connection.
bool GetsAnswer(const std::wstring& name, const void* message, DWORD size) {
  HANDLE pipe = ConnectRaw(name);
  EXPECT_NE(INVALID_HANDLE_VALUE, pipe);
  if (pipe == INVALID_HANDLE_VALUE)
    return false;
  DWORD bytes = 0;
  ProtocolMessage answer = {};
  bool answered = WriteFile(pipe, message, size, &bytes, nullptr) &&
                  ReadFile(pipe, &answer, sizeof(answer), &bytes, nullptr) &&
                  bytes > 0;
  CloseHandle(pipe);
  return answered;
}

// Records the request's addresses point at; valid in this process.
struct OwnRecords {
  DWORD thread_id = 0;
  EXCEPTION_POINTERS* pointers = nullptr;
  AssertionInfo assertion = {};

  ProtocolMessage Request(DWORD pid) {
    ProtocolMessage request = {};
    request.tag = MESSAGE_TAG_REGISTRATION_REQUEST;
    request.id = pid;
    request.thread_id = &thread_id;
    request.exception_pointers = &pointers;
    request.assert_info = &assertion;
    return request;
  }
};

// Any process may open the pipe: one that registers in the name of another
// process gets nothing, and the other process is left alone.
TEST_F(CrashGenerationServerTest, RegistrationForAnotherProcessIsRefused) {
  std::wstring pipe = UniquePipeName();
  auto server = MakeServer(pipe);
  ASSERT_TRUE(server->Start());
  Child victim(L"idle", CREATE_SUSPENDED);
  ASSERT_TRUE(victim.started());
  int handles_before = HandleCount(victim.process());

  OwnRecords records;
  ProtocolMessage forged = records.Request(victim.pid());
  EXPECT_FALSE(GetsAnswer(pipe, &forged, sizeof(forged)));
  EXPECT_EQ(0u, server->ClientCountForTesting());
  // A registration would have put three handles into the victim.
  EXPECT_EQ(handles_before, HandleCount(victim.process()));

  // The pipe serves the next (genuine) client.
  CrashGenerationClient client(pipe, 0, nullptr);
  EXPECT_TRUE(client.Register());
  ASSERT_TRUE(Signalled(observer_.connected, "client connection"));
  EXPECT_EQ(1u, server->ClientCountForTesting());
  base::AutoLock lock(observer_.lock);
  EXPECT_EQ(std::vector<DWORD>{GetCurrentProcessId()},
            observer_.connected_pids);
}

// Malformed requests get no answer; the pipe is recycled after each.
TEST_F(CrashGenerationServerTest, MalformedRequestsAreDropped) {
  std::wstring pipe = UniquePipeName();
  auto server = MakeServer(pipe);
  ASSERT_TRUE(server->Start());
  OwnRecords records;
  const DWORD pid = GetCurrentProcessId();

  ProtocolMessage no_thread = records.Request(pid);
  no_thread.thread_id = nullptr;
  EXPECT_FALSE(GetsAnswer(pipe, &no_thread, sizeof(no_thread)));
  ProtocolMessage no_pointers = records.Request(pid);
  no_pointers.exception_pointers = nullptr;
  EXPECT_FALSE(GetsAnswer(pipe, &no_pointers, sizeof(no_pointers)));
  ProtocolMessage no_assertion = records.Request(pid);
  no_assertion.assert_info = nullptr;
  EXPECT_FALSE(GetsAnswer(pipe, &no_assertion, sizeof(no_assertion)));
  ProtocolMessage no_id = records.Request(0);
  EXPECT_FALSE(GetsAnswer(pipe, &no_id, sizeof(no_id)));
  // Short.
  ProtocolMessage whole = records.Request(pid);
  EXPECT_FALSE(GetsAnswer(pipe, &whole, 40));
  // Unknown tag.
  ProtocolMessage unknown = records.Request(pid);
  unknown.tag = 9;
  EXPECT_FALSE(GetsAnswer(pipe, &unknown, sizeof(unknown)));
  // An upload request is passed on, never answered.
  ProtocolMessage upload = {};
  upload.tag = MESSAGE_TAG_UPLOAD_REQUEST;
  upload.id = 0x12345678;
  EXPECT_FALSE(GetsAnswer(pipe, &upload, sizeof(upload)));
  EXPECT_EQ(0u, server->ClientCountForTesting());

  CrashGenerationClient client(pipe, 0, nullptr);
  EXPECT_TRUE(client.Register());
  EXPECT_EQ(1u, server->ClientCountForTesting());
  base::AutoLock lock(observer_.lock);
  EXPECT_EQ(std::vector<DWORD>{0x12345678}, observer_.uploads);
}

// A server that dies in the middle of a dump lets the waiting client go at
// once: its mutex is abandoned long before the dump wait ends.
TEST_F(CrashGenerationServerTest, ServerDyingMidDumpEndsTheWait) {
  std::wstring pipe = UniquePipeName();
  std::wstring ready_name = pipe.substr(9) + L"-ready";
  std::wstring in_dump_name = pipe.substr(9) + L"-in-dump";
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str());
  HANDLE in_dump = CreateEventW(nullptr, TRUE, FALSE, in_dump_name.c_str());
  ASSERT_TRUE(ready && in_dump);
  Child server(L"serve " + pipe + L" " + ready_name + L" " + in_dump_name);
  ASSERT_TRUE(server.started());
  ASSERT_TRUE(Signalled(ready, "server listening"));

  ScopedDumpWaitBeyondBounds dump_wait;
  CrashGenerationClient client(pipe, 0, nullptr);
  ASSERT_TRUE(client.Register());
  bool dumped = true;
  base::TestThread crashing(
      [&] { dumped = client.RequestDump(nullptr, nullptr); });
  ASSERT_TRUE(Signalled(in_dump, "dump request in the server"));
  TerminateProcess(server.process(), 1);
  // Within the bound, far shorter than the wait for a silent server.
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0),
            WaitForSingleObject(crashing.handle(), kBoundMs))
      << "the dump request did not end after the server died";
  crashing.Join();
  EXPECT_FALSE(dumped);
  CloseHandle(ready);
  CloseHandle(in_dump);
}

// The end of a registered program removes it.
TEST_F(CrashGenerationServerTest, ClientExitRemovesTheClient) {
  std::wstring pipe = UniquePipeName();
  auto server = MakeServer(pipe);
  ASSERT_TRUE(server->Start());
  Child child(L"exit " + pipe);
  ASSERT_TRUE(child.started());
  EXPECT_TRUE(EndsWith(0, &child));
  ASSERT_TRUE(Signalled(observer_.exited, "client exit"));
  EXPECT_TRUE(
      base::WaitUntil([&] { return server->ClientCountForTesting() == 0; },
                      "the client's removal", kBound));
  base::AutoLock lock(observer_.lock);
  EXPECT_EQ(std::vector<DWORD>{child.pid()}, observer_.exited_pids);
}

// Shutdown with a silent client on the pipe and a registered client ends
// within its polls, and the registered client's dump wait ends at once.
TEST_F(CrashGenerationServerTest, ShutdownEndsWithClientsAround) {
  std::wstring pipe = UniquePipeName();
  ScopedDumpWaitBeyondBounds dump_wait;
  CrashGenerationClient client(pipe, 0, nullptr);
  bool registered = false;
  HANDLE silent = INVALID_HANDLE_VALUE;
  base::TestThread serving([&] {
    // The server's mutex belongs to the thread that starts it: start and
    // stop it on one thread.
    auto server = MakeServer(pipe);
    if (!server->Start())
      return;
    registered = client.Register();
    silent = ConnectRaw(pipe);
    server.reset();
  });
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0),
            WaitForSingleObject(serving.handle(), kBoundMs))
      << "the server's start, registration and shutdown did not end";
  serving.Join();
  ASSERT_TRUE(registered);
  EXPECT_NE(INVALID_HANDLE_VALUE, silent);
  CloseHandle(silent);
  // The released mutex answers, long before the dump wait ends.
  bool dumped = true;
  base::TestThread crashing(
      [&] { dumped = client.RequestDump(nullptr, nullptr); });
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0),
            WaitForSingleObject(crashing.handle(), kBoundMs))
      << "the dump request did not end after the server's shutdown";
  crashing.Join();
  EXPECT_FALSE(dumped);
  // The server's client list was freed with it: the exit callback never came
  // for this (still running) process.
  base::AutoLock lock(observer_.lock);
  EXPECT_TRUE(observer_.exited_pids.empty());
}

}  // namespace
}  // namespace crash_reporter
