#include "base/process/launch.h"

#include <windows.h>
#include <tlhelp32.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "base/base_paths.h"
#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/path_service.h"
#include "base/process/kill.h"
#include "base/process/process.h"
#include "base/strings/string_number_conversions.h"
#include "base/synchronization/waitable_event.h"
#include "base/test/bounded_wait.h"
#include "base/time/time.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace base {

namespace {

const wchar_t kChildName[] = L"kavor_test_child.exe";

FilePath ChildPath() {
  FilePath exe_dir;
  EXPECT_TRUE(PathService::Get(DIR_EXE, &exe_dir));
  return exe_dir.Append(kChildName);
}

CommandLine ChildCommandLine(const std::string& mode) {
  CommandLine command_line(ChildPath());
  command_line.AppendArg(mode);
  return command_line;
}

CommandLine ChildCommandLine(const std::string& mode,
                             const std::string& argument) {
  CommandLine command_line = ChildCommandLine(mode);
  command_line.AppendArg(argument);
  return command_line;
}

// A command line that makes the child signal |event| by its handle value.
CommandLine SignalHandleCommandLine(HANDLE event) {
  return ChildCommandLine("signal-handle",
                          Uint64ToString(static_cast<uint64_t>(
                              reinterpret_cast<uintptr_t>(event))));
}

HANDLE CreateTestEvent(bool inheritable) {
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr,
                                    inheritable ? TRUE : FALSE};
  return ::CreateEventW(&attributes, TRUE, FALSE, nullptr);
}

bool IsSignaled(HANDLE event) {
  return ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

int WaitForExitCode(const Process& process) {
  int exit_code = -1;
  EXPECT_TRUE(process.WaitForExit(&exit_code));
  return exit_code;
}

// The number of running test children of this process, by executable name
// (another test process may run children of the same name meanwhile).
int CountRunningChildren() {
  const DWORD self = ::GetCurrentProcessId();
  win::ScopedHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.IsValid())
    return -1;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  int count = 0;
  for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
       more = ::Process32NextW(snapshot.Get(), &entry)) {
    if (entry.th32ParentProcessID == self &&
        _wcsicmp(entry.szExeFile, kChildName) == 0) {
      ++count;
    }
  }
  return count;
}

}  // namespace

// The child signals the event if it got the handle (exit 0), else exits 2.
// The inherit-all row shows that an inheritable handle does reach a child
// that inherits everything, so the default row really missed it; a listed
// handle is made inheritable.
TEST(LaunchProcessTest, OnlyListedHandlesAreInherited) {
  const struct {
    bool inheritable;
    LaunchOptions::Inherit mode;
    bool listed;
    int exit_code;
  } kCases[] = {
      {true, LaunchOptions::INHERIT_SPECIFIC, false, 2},
      {true, LaunchOptions::INHERIT_ALL, false, 0},
      {false, LaunchOptions::INHERIT_SPECIFIC, true, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(&c - kCases);
    win::ScopedHandle event(CreateTestEvent(c.inheritable));
    ASSERT_TRUE(event.IsValid());
    LaunchOptions options;
    options.inherit_mode = c.mode;
    if (c.listed)
      options.handles_to_inherit.push_back(event.Get());
    Process child =
        LaunchProcess(SignalHandleCommandLine(event.Get()), options);
    ASSERT_TRUE(child.IsValid());
    EXPECT_EQ(c.exit_code, WaitForExitCode(child));
    EXPECT_EQ(c.exit_code == 0, IsSignaled(event.Get()));
    DWORD flags = 0;
    ASSERT_TRUE(::GetHandleInformation(event.Get(), &flags));
    EXPECT_EQ(c.inheritable || c.listed, (flags & HANDLE_FLAG_INHERIT) != 0);
  }
}

TEST(LaunchProcessTest, StandardHandlesAndWorkingFolder) {
  ScopedTempDir temp_dir;
  ASSERT_TRUE(temp_dir.CreateUniqueTempDir());
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  ASSERT_TRUE(::CreatePipe(&read_end, &write_end, nullptr, 0));
  win::ScopedHandle scoped_read(read_end);
  win::ScopedHandle scoped_write(write_end);

  LaunchOptions options;
  options.stdout_handle = write_end;
  options.handles_to_inherit.push_back(write_end);
  options.current_directory = temp_dir.GetPath();
  options.start_hidden = true;
  options.wait = true;
  Process child = LaunchProcess(ChildCommandLine("print-cwd"), options);
  ASSERT_TRUE(child.IsValid());
  // With |wait| the child has ended by now.
  int exit_code = -1;
  EXPECT_TRUE(child.WaitForExitWithTimeout(TimeDelta(), &exit_code));
  EXPECT_EQ(0, exit_code);

  scoped_write.Close();
  std::string output;
  char buffer[512];
  DWORD read = 0;
  while (::ReadFile(read_end, buffer, sizeof(buffer), &read, nullptr) && read)
    output.append(buffer, read);
  EXPECT_EQ(
      0, FilePath::CompareIgnoreCase(
             FilePath::FromUTF8Unsafe(output).StripTrailingSeparators().value(),
             temp_dir.GetPath().StripTrailingSeparators().value()))
      << output;
}

TEST(LaunchProcessTest, JobLaunchPutsTheChildInTheJobAndRunsIt) {
  win::ScopedHandle job(::CreateJobObjectW(nullptr, nullptr));
  ASSERT_TRUE(job.IsValid());

  LaunchOptions options;
  options.job_handle = job.Get();
  Process sleeper = LaunchProcess(ChildCommandLine("sleep"), options);
  ASSERT_TRUE(sleeper.IsValid());
  BOOL in_job = FALSE;
  ASSERT_TRUE(::IsProcessInJob(sleeper.Handle(), job.Get(), &in_job));
  EXPECT_TRUE(in_job);
  EXPECT_TRUE(sleeper.Terminate(3, true));

  // The child was resumed after its assignment: it runs to its own end.
  Process runner = LaunchProcess(ChildCommandLine("exit", "7"), options);
  ASSERT_TRUE(runner.IsValid());
  EXPECT_EQ(7, WaitForExitCode(runner));
}

TEST(LaunchProcessTest, FailedJobAssignmentKillsTheUnstartedChild) {
  win::ScopedHandle event(CreateTestEvent(false));
  ASSERT_TRUE(event.IsValid());
  // An event is no job, so the assignment fails.
  win::ScopedHandle not_a_job(CreateTestEvent(false));
  ASSERT_TRUE(not_a_job.IsValid());
  const int children_before = CountRunningChildren();
  ASSERT_GE(children_before, 0);

  LaunchOptions options;
  options.job_handle = not_a_job.Get();
  options.handles_to_inherit.push_back(event.Get());
  Process child = LaunchProcess(SignalHandleCommandLine(event.Get()), options);
  EXPECT_FALSE(child.IsValid());
  // Started suspended and killed: it never ran a line of its own, and it is
  // gone.
  EXPECT_FALSE(IsSignaled(event.Get()));
  EXPECT_EQ(children_before, CountRunningChildren());
}

TEST(LaunchProcessTest, DesktopChoices) {
  for (bool thread_desktop : {true, false}) {
    LaunchOptions options;
    options.use_thread_desktop = thread_desktop;
    options.empty_desktop_name = !thread_desktop;
    Process child = LaunchProcess(ChildCommandLine("exit", "5"), options);
    ASSERT_TRUE(child.IsValid()) << thread_desktop;
    EXPECT_EQ(5, WaitForExitCode(child));
  }
}

int WaitForExitCodeWithin30s(const Process& process) {
  int exit_code = -1;
  if (!process.WaitForExitWithTimeout(TimeDelta::FromSeconds(30), &exit_code)) {
    process.Terminate(1, true);
    ADD_FAILURE() << "child did not end within 30 s";
  }
  return exit_code;
}

// The process's own token stands in for another user's: what is exercised
// is the path through the token's environment block and CreateProcessAsUserW.
TEST(LaunchProcessTest, LaunchesUnderAGivenToken) {
  HANDLE token = nullptr;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(),
                                 TOKEN_DUPLICATE | TOKEN_QUERY, &token));
  win::ScopedHandle scoped_token(token);
  HANDLE primary = nullptr;
  ASSERT_TRUE(::DuplicateTokenEx(token, MAXIMUM_ALLOWED, nullptr,
                                 SecurityImpersonation, TokenPrimary,
                                 &primary));
  win::ScopedHandle scoped_primary(primary);

  LaunchOptions options;
  options.user_token = primary;
  options.start_hidden = true;
  Process child = LaunchProcess(ChildCommandLine("exit", "7"), options);
  ASSERT_TRUE(child.IsValid());
  EXPECT_EQ(7, WaitForExitCodeWithin30s(child));
}

// A child in a job that allows breakaway launches a grandchild, which
// reports whether it is in a job.
TEST(LaunchProcessTest, BreakawayFromJobLeavesTheParentsJob) {
  FilePath exe_dir;
  ASSERT_TRUE(PathService::Get(DIR_EXE, &exe_dir));
  struct {
    const char* breakaway;
    int expected;  // kavor_base_child: 0 outside any job, 5 inside one.
  } const kCases[] = {{"", 5}, {"breakaway", 0}};
  for (const auto& c : kCases) {
    win::ScopedHandle job(::CreateJobObjectW(nullptr, nullptr));
    ASSERT_TRUE(job.IsValid());
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_BREAKAWAY_OK | JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    ASSERT_TRUE(::SetInformationJobObject(
        job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits)));
    CommandLine command(exe_dir.Append(L"kavor_base_child.exe"));
    command.AppendArg("launch-in-job");
    command.AppendArg(c.breakaway);
    LaunchOptions options;
    options.job_handle = job.Get();
    options.start_hidden = true;
    Process child = LaunchProcess(command, options);
    ASSERT_TRUE(child.IsValid());
    EXPECT_EQ(c.expected, WaitForExitCodeWithin30s(child)) << c.breakaway;
  }
}

TEST(LaunchProcessTest, MissingProgramGivesAnInvalidProcess) {
  CommandLine command_line(ChildPath().DirName().Append(L"no_such_child.exe"));
  EXPECT_FALSE(LaunchProcess(command_line, LaunchOptions()).IsValid());
}

// A GetAppOutput call on a thread of its own, with a bounded wait: a read
// that never sees the end of the pipe (a write end left open somewhere)
// fails the test with a named assertion instead of hanging the executable.
// A hung call's thread keeps its state alive; the process ends with the run.
struct OutputCall {
  std::string output;
  int exit_code = -1;
  bool result = false;
  WaitableEvent done;
};

bool RunBounded(std::function<bool(std::string*, int*)> run,
                std::string* output,
                int* exit_code) {
  auto call = std::make_shared<OutputCall>();
  call->output = *output;
  std::thread([call, run] {
    call->result = run(&call->output, &call->exit_code);
    call->done.Signal();
  }).detach();
  if (!WaitWithin(&call->done, "GetAppOutput's return")) {
    ADD_FAILURE() << "GetAppOutput did not return";
    return false;
  }
  *output = call->output;
  if (exit_code)
    *exit_code = call->exit_code;
  return call->result;
}

bool BoundedGetAppOutput(const CommandLine& command, std::string* output) {
  return RunBounded(
      [command](std::string* out, int*) { return GetAppOutput(command, out); },
      output, nullptr);
}

bool BoundedGetAppOutputInternal(const std::wstring& command,
                                 bool include_stderr,
                                 std::string* output,
                                 int* exit_code) {
  return RunBounded(
      [command, include_stderr](std::string* out, int* code) {
        return GetAppOutputInternal(command, include_stderr, out, code, true);
      },
      output, exit_code);
}

// An exit code of 1 reads as "killed", which is no failure here. Standard
// error is not collected. The "count-pipe-reads" child holds the pipe's write
// end only: with the read end too, the pipe stayed open as long as the child
// or anything it started lived.
TEST(GetAppOutputTest, CollectsStandardOutputAndExitCodeDecidesSuccess) {
  const struct {
    const char* mode;
    const char* argument;
    bool result;
    const char* output;
  } kCases[] = {
      {"print", "hello child", true, "hello child"},
      {"print-stderr", "noise", true, ""},
      {"silent", nullptr, true, ""},
      {"count-pipe-reads", nullptr, true, "0"},
      {"exit", "1", true, ""},
      {"exit", "0xC0000005", false, nullptr},
      {"crash", nullptr, false, nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.mode);
    std::string output;
    EXPECT_EQ(c.result, BoundedGetAppOutput(
                            c.argument ? ChildCommandLine(c.mode, c.argument)
                                       : ChildCommandLine(c.mode),
                            &output));
    if (c.output) {
      EXPECT_EQ(c.output, output);
    }
  }
}

TEST(GetAppOutputTest, InternalCollectsStandardErrorAndTheExitCode) {
  std::string output;
  int exit_code = -1;
  EXPECT_TRUE(BoundedGetAppOutputInternal(
      ChildCommandLine("print-stderr", "to stderr").GetCommandLineString(),
      true, &output, &exit_code));
  EXPECT_EQ("to stderr", output);
  EXPECT_EQ(0, exit_code);

  output.clear();
  EXPECT_FALSE(BoundedGetAppOutputInternal(
      ChildCommandLine("exit", "3").GetCommandLineString(), false, &output,
      &exit_code));
  EXPECT_EQ(3, exit_code);

  // A program that cannot start leaves the output alone.
  output = "untouched";
  EXPECT_FALSE(BoundedGetAppOutputInternal(L"\"C:\\no\\such\\program.exe\"",
                                           false, &output, &exit_code));
  EXPECT_EQ("untouched", output);
}

TEST(GetTerminationStatusTest, RunningChildIsStillRunning) {
  Process child = LaunchProcess(ChildCommandLine("sleep"), LaunchOptions());
  ASSERT_TRUE(child.IsValid());
  int exit_code = -1;
  EXPECT_EQ(STILL_RUNNING, GetTerminationStatus(child.Handle(), &exit_code));
  EXPECT_EQ(static_cast<int>(WAIT_TIMEOUT), exit_code);

  EXPECT_TRUE(child.Terminate(1, true));
  EXPECT_EQ(PROCESS_WAS_KILLED,
            GetTerminationStatus(child.Handle(), &exit_code));
  EXPECT_EQ(1, exit_code);
}

TEST(GetTerminationStatusTest, ClassifiesExitCodes) {
  const struct {
    const char* code;
    TerminationStatus status;
    int exit_code;
  } kCases[] = {
      {"0", NORMAL_TERMINATION, 0},
      {"1", PROCESS_WAS_KILLED, 1},
      {"0x40010004", PROCESS_WAS_KILLED, static_cast<int>(0x40010004)},
      {"0xC000013A", PROCESS_WAS_KILLED, static_cast<int>(0xC000013A)},
      {"0xC0000354", PROCESS_WAS_KILLED, static_cast<int>(0xC0000354)},
      {"7012", OUT_OF_MEMORY, 7012},
      {"0xE0000008", OUT_OF_MEMORY, static_cast<int>(0xE0000008)},
      {"2", PROCESS_CRASHED, 2},
      {"0xC0000005", PROCESS_CRASHED, static_cast<int>(0xC0000005)},
      // The "still active" code cannot be told from a running process.
      {"259", ABNORMAL_TERMINATION, -1},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.code);
    Process child = LaunchProcess(ChildCommandLine("exit", test_case.code),
                                  LaunchOptions());
    ASSERT_TRUE(child.IsValid());
    ASSERT_TRUE(child.WaitForExit(nullptr));
    int exit_code = -1;
    EXPECT_EQ(test_case.status,
              GetTerminationStatus(child.Handle(), &exit_code));
    EXPECT_EQ(test_case.exit_code, exit_code);
  }
}

TEST(GetTerminationStatusTest, FailedQueryIsAbnormalNotClean) {
  // An event handle cannot be asked for an exit code.
  win::ScopedHandle not_a_process(CreateTestEvent(false));
  ASSERT_TRUE(not_a_process.IsValid());
  int exit_code = -1;
  EXPECT_EQ(ABNORMAL_TERMINATION,
            GetTerminationStatus(not_a_process.Get(), &exit_code));
  EXPECT_EQ(0, exit_code);
  EXPECT_EQ(ABNORMAL_TERMINATION, GetTerminationStatus(nullptr, nullptr));
}

}  // namespace base
