#include "crash/handler/exception_handler.h"

#include <windows.h>
#include <dbghelp.h>
#include <stdio.h>
#include <stdlib.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/time/time.h"
#include "crash/crash_generation/client_info.h"
#include "crash/crash_generation/crash_generation_server.h"
#include "crash/test/minidump_file.h"
#include "crash/test/test_program.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

using test::FileNamesIn;
using test::IsUuidName;
using test::MinidumpFile;

// --- The memory around the faulting instruction and the dump callback.

TEST(InstructionMemoryRangeTest, StaysInsideTheRegion) {
  const ULONG64 base = 0x10000;
  const ULONG64 end = 0x11000;
  // 16 bytes after the region start: nothing before the start is taken.
  AppMemory near_start = InstructionMemoryRange(base, end, base + 16);
  EXPECT_EQ(base, near_start.address);
  EXPECT_EQ(144u, near_start.length);
  // Well inside: 128 bytes on either side.
  AppMemory inside = InstructionMemoryRange(base, end, base + 0x800);
  EXPECT_EQ(base + 0x800 - 128, inside.address);
  EXPECT_EQ(256u, inside.length);
  // 10 bytes before the region end.
  AppMemory near_end = InstructionMemoryRange(base, end, end - 10);
  EXPECT_EQ(end - 10 - 128, near_end.address);
  EXPECT_EQ(138u, near_end.length);
  // A region smaller than the reach on both sides.
  AppMemory small = InstructionMemoryRange(base, base + 64, base + 32);
  EXPECT_EQ(base, small.address);
  EXPECT_EQ(64u, small.length);
  // At the very top of the address space the sum must not wrap.
  const ULONG64 top = ~0ULL - 0xfff;
  AppMemory high = InstructionMemoryRange(top, ~0ULL, ~0ULL - 4);
  EXPECT_EQ(~0ULL - 4 - 128, high.address);
  EXPECT_EQ(132u, high.length);
}

BOOL Callback(AppMemoryCursor* cursor,
              ULONG type,
              MINIDUMP_CALLBACK_OUTPUT* output) {
  MINIDUMP_CALLBACK_INPUT input = {};
  input.CallbackType = type;
  return AppMemoryDumpCallback(cursor, &input, output);
}

TEST(AppMemoryDumpCallbackTest, WalksTheRangesAndSkipsAnEmptyFirstEntry) {
  AppMemoryList list = {{0, 0}, {0x5000, 16}, {0x9000, 32}};
  AppMemoryCursor cursor = StartAppMemoryWalk(list);
  MINIDUMP_CALLBACK_OUTPUT output = {};
  ASSERT_TRUE(Callback(&cursor, MemoryCallback, &output));
  EXPECT_EQ(0x5000u, output.MemoryBase);
  EXPECT_EQ(16u, output.MemorySize);
  ASSERT_TRUE(Callback(&cursor, MemoryCallback, &output));
  EXPECT_EQ(0x9000u, output.MemoryBase);
  EXPECT_EQ(32u, output.MemorySize);
  EXPECT_FALSE(Callback(&cursor, MemoryCallback, &output));
  EXPECT_FALSE(Callback(&cursor, MemoryCallback, &output));

  // Once the instruction range is known it comes first.
  list[0] = {0x7000, 144};
  cursor = StartAppMemoryWalk(list);
  ASSERT_TRUE(Callback(&cursor, MemoryCallback, &output));
  EXPECT_EQ(0x7000u, output.MemoryBase);
  EXPECT_EQ(144u, output.MemorySize);

  // Only the reserved entry, still empty: nothing at all.
  AppMemoryList reserved_only = {{0, 0}};
  cursor = StartAppMemoryWalk(reserved_only);
  EXPECT_FALSE(Callback(&cursor, MemoryCallback, &output));
}

TEST(AppMemoryDumpCallbackTest, IncludesEverythingAndNeverCancels) {
  AppMemoryList list = {{0, 0}};
  AppMemoryCursor cursor = StartAppMemoryWalk(list);
  MINIDUMP_CALLBACK_OUTPUT output = {};
  for (ULONG type : {ModuleCallback, ThreadCallback, IncludeThreadCallback,
                     IncludeModuleCallback}) {
    EXPECT_TRUE(Callback(&cursor, type, &output)) << type;
  }
  output.CheckCancel = TRUE;
  output.Cancel = TRUE;
  EXPECT_TRUE(Callback(&cursor, CancelCallback, &output));
  EXPECT_FALSE(output.CheckCancel);
  EXPECT_FALSE(output.Cancel);
  EXPECT_FALSE(Callback(&cursor, ThreadExCallback, &output));
  EXPECT_FALSE(Callback(&cursor, WriteKernelMinidumpCallback, &output));
}

// --- What a handler leaves installed behind it.

LONG WINAPI FilterOfBefore(EXCEPTION_POINTERS*) {
  return EXCEPTION_CONTINUE_SEARCH;
}

void __cdecl InvalidParameterOfBefore(const wchar_t*,
                                      const wchar_t*,
                                      const wchar_t*,
                                      unsigned int,
                                      uintptr_t) {}

void __cdecl PureCallOfBefore() {}

// The filter in place, read back by putting it back.
LPTOP_LEVEL_EXCEPTION_FILTER CurrentFilter() {
  LPTOP_LEVEL_EXCEPTION_FILTER filter = ::SetUnhandledExceptionFilter(nullptr);
  ::SetUnhandledExceptionFilter(filter);
  return filter;
}

_invalid_parameter_handler CurrentInvalidParameterHandler() {
  _invalid_parameter_handler handler = _set_invalid_parameter_handler(nullptr);
  _set_invalid_parameter_handler(handler);
  return handler;
}

_purecall_handler CurrentPureCallHandler() {
  _purecall_handler handler = _set_purecall_handler(nullptr);
  _set_purecall_handler(handler);
  return handler;
}

// A destroyed handler that left its entry points installed would have the
// next crash call into freed memory: each one puts back what it replaced,
// the newest first.
TEST(ExceptionHandlerTest, DestroyedHandlerPutsBackWhatItReplaced) {
  base::ScopedTempDir dumps;
  ASSERT_TRUE(dumps.CreateUniqueTempDir());
  const LPTOP_LEVEL_EXCEPTION_FILTER outer_filter =
      ::SetUnhandledExceptionFilter(&FilterOfBefore);
  const _invalid_parameter_handler outer_iph =
      _set_invalid_parameter_handler(&InvalidParameterOfBefore);
  const _purecall_handler outer_pch = _set_purecall_handler(&PureCallOfBefore);

  auto older = std::make_unique<ExceptionHandler>(
      dumps.GetPath().value(), nullptr, nullptr, nullptr,
      ExceptionHandler::HANDLER_ALL, MiniDumpNormal, nullptr, nullptr);
  const LPTOP_LEVEL_EXCEPTION_FILTER older_filter = CurrentFilter();
  EXPECT_NE(&FilterOfBefore, older_filter);
  auto newer = std::make_unique<ExceptionHandler>(
      dumps.GetPath().value(), nullptr, nullptr, nullptr,
      ExceptionHandler::HANDLER_EXCEPTION, MiniDumpNormal, nullptr, nullptr);
  newer.reset();
  EXPECT_EQ(older_filter, CurrentFilter());
  older.reset();
  EXPECT_EQ(&FilterOfBefore, CurrentFilter());
  EXPECT_EQ(&InvalidParameterOfBefore, CurrentInvalidParameterHandler());
  EXPECT_EQ(&PureCallOfBefore, CurrentPureCallHandler());

  ::SetUnhandledExceptionFilter(outer_filter);
  _set_invalid_parameter_handler(outer_iph);
  _set_purecall_handler(outer_pch);
}

// --- Real crashes of a child that installed the handler without a server.

// What a child run left behind.
struct ChildRun {
  std::string output;
  DWORD exit_code = 0;

  // The number after |key| at the start of a line; 0 when missing.
  unsigned long Number(const std::string& key) const {
    size_t at = Find(key + " ");
    return at == std::string::npos
               ? 0
               : strtoul(output.c_str() + at + key.size() + 1, nullptr, 10);
  }
  // The word after "id " on the line of the n-th dump callback.
  std::wstring DumpId(int n) const {
    size_t at = 0;
    for (int i = 0; i <= n; ++i) {
      at = output.find(" id ", at == 0 ? 0 : at + 1);
      if (at == std::string::npos)
        return std::wstring();
    }
    size_t end = output.find_first_of("\r\n", at + 4);
    std::string id = output.substr(at + 4, end - at - 4);
    return std::wstring(id.begin(), id.end());
  }
  bool Has(const std::string& line) const {
    return Find(line) != std::string::npos;
  }
  size_t Count(const std::string& text) const {
    size_t count = 0;
    for (size_t at = output.find(text); at != std::string::npos;
         at = output.find(text, at + 1)) {
      ++count;
    }
    return count;
  }

 private:
  size_t Find(const std::string& text) const {
    for (size_t at = output.find(text); at != std::string::npos;
         at = output.find(text, at + 1)) {
      if (at == 0 || output[at - 1] == '\n')
        return at;
    }
    return std::string::npos;
  }
};

class ExceptionHandlerChildTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dumps_.CreateUniqueTempDir());
    ASSERT_TRUE(scratch_.CreateUniqueTempDir());
  }

  const base::FilePath& folder() const { return dumps_.GetPath(); }

  // Runs the crash child with |mode| and |arguments|, its standard output
  // and error going to a file, and waits for its end (bounded).
  void Run(const std::wstring& mode,
           const std::vector<std::wstring>& arguments,
           ChildRun* run) {
    base::FilePath exe_dir;
    ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &exe_dir));
    std::wstring command = L"\"" +
                           exe_dir.Append(L"kavor_crash_child.exe").value() +
                           L"\" " + mode;
    for (const std::wstring& argument : arguments)
      command += L" \"" + argument + L"\"";

    base::FilePath output_path = scratch_.GetPath().Append(L"output.txt");
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    HANDLE output =
        ::CreateFileW(output_path.value().c_str(), GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, output);
    base::LaunchOptions options;
    options.start_hidden = true;
    options.stdout_handle = output;
    options.stderr_handle = output;
    options.handles_to_inherit.push_back(output);
    base::Process child = test::StartTestProgram(command, options);
    ::CloseHandle(output);
    ASSERT_TRUE(child.IsValid()) << "the crash child did not start";
    int exit_code = 0;
    if (!child.WaitForExitWithTimeout(base::TimeDelta::FromSeconds(60),
                                      &exit_code)) {
      child.Terminate(1, true);
      FAIL() << "the crash child never ended";
    }
    run->exit_code = static_cast<DWORD>(exit_code);
    ASSERT_TRUE(base::ReadFileToString(output_path, &run->output));
  }

  void RunInFolder(const std::wstring& mode, ChildRun* run) {
    Run(mode, {folder().value()}, run);
  }

  // The only dump in the folder, named after the callback's id.
  void OpenOnlyDump(const ChildRun& run, MinidumpFile* dump) {
    std::vector<std::wstring> names = FileNamesIn(folder());
    ASSERT_EQ(1u, names.size()) << run.output;
    EXPECT_TRUE(IsUuidName(names[0], L".dmp")) << names[0];
    EXPECT_EQ(run.DumpId(0) + L".dmp", names[0]) << run.output;
    ASSERT_TRUE(dump->Open(folder().Append(names[0])));
  }

  // The dump was written on the handler thread for the crashing thread.
  void ExpectHandlerThreadDump(const ChildRun& run,
                               const MinidumpFile& dump,
                               DWORD code) {
    unsigned long crashing = run.Number("crashing-thread");
    unsigned long dumping = run.Number("dump-thread");
    ASSERT_NE(0u, crashing) << run.output;
    EXPECT_NE(crashing, dumping) << run.output;
    const HandlerInfo* info = dump.handler_info();
    ASSERT_TRUE(info);
    EXPECT_EQ(3u, info->validity);
    EXPECT_EQ(dumping, info->dump_thread_id);
    EXPECT_EQ(crashing, info->requesting_thread_id);
    const MINIDUMP_EXCEPTION_STREAM* exception = dump.exception();
    ASSERT_TRUE(exception);
    EXPECT_EQ(crashing, exception->ThreadId);
    EXPECT_EQ(code, exception->ExceptionRecord.ExceptionCode);
  }

  base::ScopedTempDir dumps_;
  base::ScopedTempDir scratch_;
};

TEST_F(ExceptionHandlerChildTest, AccessViolationIsDumpedOnTheHandlerThread) {
  ChildRun run;
  ASSERT_NO_FATAL_FAILURE(RunInFolder(L"access-violation", &run));
  EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), run.exit_code);
  EXPECT_TRUE(run.Has("dump-thread")) << run.output;
  EXPECT_FALSE(run.Has("previous-filter")) << run.output;
  EXPECT_FALSE(run.Has("survived")) << run.output;
  MinidumpFile dump;
  ASSERT_NO_FATAL_FAILURE(OpenOnlyDump(run, &dump));
  ExpectHandlerThreadDump(run, dump, EXCEPTION_ACCESS_VIOLATION);
  EXPECT_FALSE(dump.HasStream(kAssertionInfoStreamType));
}

TEST_F(ExceptionHandlerChildTest, RefusedOrDebugEventsGoToThePreviousFilter) {
  // The filter callback refuses: no dump, and the filter that was there
  // before hears of the exception.
  ChildRun refused;
  ASSERT_NO_FATAL_FAILURE(RunInFolder(L"refused", &refused));
  EXPECT_TRUE(refused.Has("filter")) << refused.output;
  EXPECT_TRUE(refused.Has("previous-filter c0000005")) << refused.output;
  EXPECT_FALSE(refused.Has("dump-thread")) << refused.output;

  // A breakpoint is for a debugger, not for a dump.
  ChildRun breakpoint;
  ASSERT_NO_FATAL_FAILURE(RunInFolder(L"breakpoint", &breakpoint));
  EXPECT_TRUE(breakpoint.Has("previous-filter 80000003")) << breakpoint.output;
  EXPECT_FALSE(breakpoint.Has("filter")) << breakpoint.output;
  EXPECT_FALSE(breakpoint.Has("dump-thread")) << breakpoint.output;
  EXPECT_EQ(static_cast<DWORD>(EXCEPTION_BREAKPOINT), breakpoint.exit_code);

  EXPECT_TRUE(FileNamesIn(folder()).empty());
}

TEST_F(ExceptionHandlerChildTest, FaultOnTheHandlerThreadEndsTheProcess) {
  // The crashing thread waits for the handler thread, which faults while
  // the older handler's filter is in place: the process must end rather
  // than hang.
  ChildRun run;
  ASSERT_NO_FATAL_FAILURE(RunInFolder(L"faulting-filter", &run));
  EXPECT_TRUE(run.Has("filter-thread")) << run.output;
  EXPECT_NE(run.Number("crashing-thread"), run.Number("filter-thread"));
  EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), run.exit_code);
  EXPECT_FALSE(run.Has("dump-thread")) << run.output;
  EXPECT_FALSE(run.Has("previous-filter")) << run.output;
}

TEST_F(ExceptionHandlerChildTest, InvalidHandle) {
  ChildRun consumed;
  ASSERT_NO_FATAL_FAILURE(
      Run(L"invalid-handle", {folder().value(), L"consume"}, &consumed));
  EXPECT_TRUE(consumed.Has("continued")) << consumed.output;
  EXPECT_FALSE(consumed.Has("dump-thread")) << consumed.output;
  EXPECT_EQ(0u, consumed.exit_code);
  EXPECT_TRUE(FileNamesIn(folder()).empty());

  ChildRun dumped;
  ASSERT_NO_FATAL_FAILURE(RunInFolder(L"invalid-handle", &dumped));
  EXPECT_FALSE(dumped.Has("continued")) << dumped.output;
  EXPECT_EQ(static_cast<DWORD>(STATUS_INVALID_HANDLE), dumped.exit_code);
  MinidumpFile dump;
  ASSERT_NO_FATAL_FAILURE(OpenOnlyDump(dumped, &dump));
  ExpectHandlerThreadDump(dumped, dump, STATUS_INVALID_HANDLE);
}

TEST_F(ExceptionHandlerChildTest, InvalidParameterIsDumpedWithItsAssertion) {
  ChildRun run;
  ASSERT_NO_FATAL_FAILURE(RunInFolder(L"invalid-parameter", &run));
  // Dumped, and still a failure to whoever waits for the process.
  EXPECT_EQ(0xC000000Du, run.exit_code);
  EXPECT_FALSE(run.Has("survived")) << run.output;
  MinidumpFile dump;
  ASSERT_NO_FATAL_FAILURE(OpenOnlyDump(run, &dump));
  ExpectHandlerThreadDump(run, dump, 0xC000000D);
  const AssertionInfo* assertion = dump.assertion();
  ASSERT_TRUE(assertion);
  EXPECT_EQ(static_cast<uint32_t>(ASSERTION_INVALID_PARAMETER),
            assertion->type);
  EXPECT_STREQ(L"buffer != NULL", assertion->expression);
  EXPECT_STREQ(L"strcpy_s", assertion->function);
  EXPECT_STREQ(L"string.c", assertion->file);
  EXPECT_EQ(77u, assertion->line);
  const MINIDUMP_EXCEPTION& record = dump.exception()->ExceptionRecord;
  ASSERT_EQ(3u, record.NumberParameters);
  EXPECT_EQ(77u, record.ExceptionInformation[2]);
  EXPECT_NE(0u, record.ExceptionInformation[0]);
  EXPECT_NE(0u, record.ExceptionInformation[1]);
}

TEST_F(ExceptionHandlerChildTest, PureVirtualCallIsDumpedWithItsAssertion) {
  ChildRun run;
  ASSERT_NO_FATAL_FAILURE(RunInFolder(L"pure-call", &run));
  EXPECT_EQ(0xC0000025u, run.exit_code);
  EXPECT_FALSE(run.Has("square")) << run.output;
  MinidumpFile dump;
  ASSERT_NO_FATAL_FAILURE(OpenOnlyDump(run, &dump));
  ExpectHandlerThreadDump(run, dump, 0xC0000025);
  const AssertionInfo* assertion = dump.assertion();
  ASSERT_TRUE(assertion);
  EXPECT_EQ(static_cast<uint32_t>(ASSERTION_PURE_CALL), assertion->type);
  EXPECT_STREQ(L"", assertion->expression);
  EXPECT_EQ(0u, assertion->line);
  EXPECT_EQ(0u, dump.exception()->ExceptionRecord.ExceptionInformation[2]);
}

TEST_F(ExceptionHandlerChildTest, EachRequestGetsANewNameAndNeverOverwrites) {
  ChildRun run;
  ASSERT_NO_FATAL_FAILURE(RunInFolder(L"on-request", &run));
  EXPECT_EQ(0u, run.exit_code);
  // The first name was taken: that dump fails; the next two succeed.
  EXPECT_TRUE(run.Has("results 0 1 1")) << run.output;
  std::wstring taken = run.DumpId(0);
  std::wstring second = run.DumpId(1);
  std::wstring third = run.DumpId(2);
  EXPECT_NE(taken, second);
  EXPECT_NE(second, third);

  std::string kept;
  ASSERT_TRUE(base::ReadFileToString(folder().Append(taken + L".dmp"), &kept));
  EXPECT_EQ("kept", kept);
  std::vector<std::wstring> expected = {taken + L".dmp", second + L".dmp",
                                        third + L".dmp"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, FileNamesIn(folder()));

  MinidumpFile dump;
  ASSERT_TRUE(dump.Open(folder().Append(second + L".dmp")));
  const HandlerInfo* info = dump.handler_info();
  ASSERT_TRUE(info);
  EXPECT_EQ(run.Number("crashing-thread"), info->requesting_thread_id);
  EXPECT_NE(info->requesting_thread_id, info->dump_thread_id);
  ASSERT_TRUE(dump.exception());
  EXPECT_EQ(0xE0000001u, dump.exception()->ExceptionRecord.ExceptionCode);
}

TEST_F(ExceptionHandlerChildTest, TheNewestHandlerAnswers) {
  base::ScopedTempDir newer;
  ASSERT_TRUE(newer.CreateUniqueTempDir());
  ChildRun run;
  ASSERT_NO_FATAL_FAILURE(
      Run(L"newest-first", {folder().value(), newer.GetPath().value()}, &run));
  EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), run.exit_code);
  EXPECT_EQ(1u, run.Count("dump-thread")) << run.output;
  EXPECT_TRUE(FileNamesIn(folder()).empty());
  std::vector<std::wstring> names = FileNamesIn(newer.GetPath());
  ASSERT_EQ(1u, names.size());
  EXPECT_EQ(run.DumpId(0) + L".dmp", names[0]);
}

TEST_F(ExceptionHandlerChildTest, OutOfOrderDestructionWarnsOnce) {
  ChildRun run;
  ASSERT_NO_FATAL_FAILURE(Run(L"out-of-order", {}, &run));
  EXPECT_EQ(0u, run.exit_code);
  EXPECT_EQ(1u, run.Count("warning: removing Kavor handler out of order"))
      << run.output;
}

// What the server in this test process saw of a served child's dump.
struct ServedDump {
  int requests = 0;
  DWORD process_id = 0;
  std::wstring path;

  static void OnDumpRequest(void* context,
                            const ClientInfo* client,
                            const std::wstring* dump_path) {
    auto* self = static_cast<ServedDump*>(context);
    ++self->requests;
    self->process_id = client->pid();
    if (dump_path)
      self->path = *dump_path;
  }
};

class ExceptionHandlerServedTest : public ExceptionHandlerChildTest {
 protected:
  void SetUp() override {
    ExceptionHandlerChildTest::SetUp();
    pipe_ = L"\\\\.\\pipe\\KavorCrashHandlerTest" +
            std::to_wstring(::GetCurrentProcessId());
    std::wstring dump_folder = folder().value();
    server_ = std::make_unique<CrashGenerationServer>(
        pipe_, nullptr, nullptr, nullptr, &ServedDump::OnDumpRequest, &served_,
        nullptr, nullptr, nullptr, nullptr, true, &dump_folder);
    ASSERT_TRUE(server_->Start());
  }
  void TearDown() override { server_.reset(); }

  // The dump the server wrote for the child, which asked from the thread
  // that crashed.
  void OpenServedDump(const ChildRun& run, MinidumpFile* dump) {
    EXPECT_EQ(1, served_.requests) << run.output;
    ASSERT_FALSE(served_.path.empty()) << run.output;
    EXPECT_EQ(run.Number("crashing-thread"), run.Number("dump-thread"))
        << run.output;
    EXPECT_TRUE(run.Has("dump-thread " +
                        std::to_string(run.Number("crashing-thread")) +
                        " succeeded 1"))
        << run.output;
    ASSERT_TRUE(dump->Open(base::FilePath(served_.path)));
    ASSERT_TRUE(dump->exception());
    EXPECT_EQ(run.Number("crashing-thread"), dump->exception()->ThreadId);
  }

  std::wstring pipe_;
  ServedDump served_;
  std::unique_ptr<CrashGenerationServer> server_;
};

TEST_F(ExceptionHandlerServedTest, CrashIsDumpedByTheServer) {
  ChildRun run;
  ASSERT_NO_FATAL_FAILURE(Run(L"served-access-violation", {pipe_}, &run));
  ASSERT_NE(98u, run.exit_code) << "the child could not register";
  EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), run.exit_code);
  MinidumpFile dump;
  ASSERT_NO_FATAL_FAILURE(OpenServedDump(run, &dump));
  EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION),
            dump.exception()->ExceptionRecord.ExceptionCode);
  // The server always reads the client's assertion record; it says none.
  const AssertionInfo* assertion = dump.assertion();
  if (assertion) {
    EXPECT_EQ(static_cast<uint32_t>(ASSERTION_NONE), assertion->type);
  }
}

TEST_F(ExceptionHandlerServedTest, AssertionReachesTheServer) {
  ChildRun run;
  ASSERT_NO_FATAL_FAILURE(Run(L"served-invalid-parameter", {pipe_}, &run));
  ASSERT_NE(98u, run.exit_code) << "the child could not register";
  EXPECT_EQ(0xC000000Du, run.exit_code);
  MinidumpFile dump;
  ASSERT_NO_FATAL_FAILURE(OpenServedDump(run, &dump));
  EXPECT_EQ(0xC000000Du, dump.exception()->ExceptionRecord.ExceptionCode);
  const AssertionInfo* assertion = dump.assertion();
  ASSERT_TRUE(assertion);
  EXPECT_EQ(static_cast<uint32_t>(ASSERTION_INVALID_PARAMETER),
            assertion->type);
  EXPECT_STREQ(L"buffer != NULL", assertion->expression);
  EXPECT_EQ(77u, assertion->line);
}

// Requests from several threads at once each get their own dump, of their
// own thread and exception.
TEST_F(ExceptionHandlerServedTest, RequestsOfSeveralThreadsAreServedInTurn) {
  ChildRun run;
  ASSERT_NO_FATAL_FAILURE(Run(L"served-together", {pipe_}, &run));
  ASSERT_NE(98u, run.exit_code) << "the child could not register";
  EXPECT_EQ(0u, run.exit_code) << run.output;

  std::multiset<std::pair<unsigned long, unsigned long>> asked;
  for (size_t at = run.output.find("request-thread "); at != std::string::npos;
       at = run.output.find("request-thread ", at + 1)) {
    unsigned long thread = 0, code = 0;
    int succeeded = 0;
    ASSERT_EQ(3, sscanf(run.output.c_str() + at,
                        "request-thread %lu code %lu succeeded %d", &thread,
                        &code, &succeeded));
    EXPECT_EQ(1, succeeded) << run.output;
    asked.insert({thread, code});
  }
  EXPECT_EQ(4u, asked.size()) << run.output;

  std::multiset<std::pair<unsigned long, unsigned long>> dumped;
  for (const std::wstring& name : FileNamesIn(folder())) {
    MinidumpFile dump;
    ASSERT_TRUE(dump.Open(folder().Append(name))) << name;
    ASSERT_TRUE(dump.exception()) << name;
    dumped.insert({dump.exception()->ThreadId,
                   dump.exception()->ExceptionRecord.ExceptionCode});
  }
  EXPECT_EQ(asked, dumped) << run.output;
}

}  // namespace
}  // namespace crash_reporter
