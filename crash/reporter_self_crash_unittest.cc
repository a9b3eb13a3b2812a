#include "crash/reporter_self_crash.h"

#include <windows.h>
#include <tlhelp32.h>

#include <stdlib.h>

#include <deque>
#include <memory>
#include <string>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/json/json_reader.h"
#include "base/path_service.h"
#include "base/process/process.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/bounded_wait.h"
#include "base/test/loopback_http_server.h"
#include "base/values.h"
#include "base/win/registry.h"
#include "crash/crash_reporter.h"
#include "crash/crash_reporter_process.h"
#include "crash/test/crash_upload_test_util.h"
#include "crash/test/minidump_file.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

// Generous: starting processes and writing dumps may take many seconds on a
// loaded machine.
constexpr base::TimeDelta kBound = base::TimeDelta::FromMinutes(1);

using test::ReceivedUpload;
using test::ScopedTestProduct;
using test::ScopedVariable;

constexpr wchar_t kLastCrashValue[] = L"Last crash in crash reporter";
constexpr uint64_t kTicksPerDay = 864000000000ULL;

uint64_t NowTicks() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

SYSTEMTIME SystemTimeOf(uint64_t ticks) {
  FILETIME time = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME system = {};
  EXPECT_TRUE(::FileTimeToSystemTime(&time, &system));
  return system;
}

// The stored time; false when there is no REG_QWORD.
bool ReadStored(const ScopedTestProduct& product, uint64_t* ticks) {
  base::win::RegKey key;
  if (key.Open(HKEY_CURRENT_USER, product.company_key().c_str(),
               KEY_QUERY_VALUE) != ERROR_SUCCESS) {
    return false;
  }
  DWORD size = sizeof(*ticks);
  DWORD type = REG_NONE;
  return key.ReadValue(kLastCrashValue, ticks, &size, &type) == ERROR_SUCCESS &&
         type == REG_QWORD && size == sizeof(*ticks);
}

TEST(ReporterCrashTimeTest, WithoutAStoredTimeTheFirstCrashIsReported) {
  ScopedTestProduct product;
  int64_t days = -1;
  const uint64_t before = NowTicks();
  ASSERT_TRUE(GetDaysSinceLastReporterCrash(&days));
  const uint64_t after = NowTicks();
  // Counted from the zero it stored: the days since 1601.
  EXPECT_GE(days, static_cast<int64_t>(before / kTicksPerDay));
  EXPECT_LE(days, static_cast<int64_t>(after / kTicksPerDay));
  EXPECT_GE(days, kSelfCrashReportIntervalDays);
  uint64_t stored = 1;
  ASSERT_TRUE(ReadStored(product, &stored));
  EXPECT_EQ(0u, stored);
}

TEST(ReporterCrashTimeTest, StoredTimesCountInWholeDays) {
  ScopedTestProduct product;
  const uint64_t two_days_ago = NowTicks() - 2 * kTicksPerDay - 1000;
  StoreLastReporterCrash(SystemTimeOf(two_days_ago));
  uint64_t stored = 0;
  ASSERT_TRUE(ReadStored(product, &stored));
  // SYSTEMTIME keeps milliseconds.
  EXPECT_EQ(two_days_ago / 10000, stored / 10000);
  int64_t days = -1;
  ASSERT_TRUE(GetDaysSinceLastReporterCrash(&days));
  EXPECT_EQ(2, days);

  StoreLastReporterCrash(SystemTimeOf(NowTicks() - 3 * kTicksPerDay - 1000));
  ASSERT_TRUE(GetDaysSinceLastReporterCrash(&days));
  EXPECT_EQ(3, days);

  // A time ahead holds reports back until it has passed.
  StoreLastReporterCrash(SystemTimeOf(NowTicks() + kTicksPerDay));
  EXPECT_FALSE(GetDaysSinceLastReporterCrash(&days));
}

TEST(ReporterCrashTimeTest, AnUnreadableValueIsStartedAfresh) {
  ScopedTestProduct product;
  {
    base::win::RegKey key(HKEY_CURRENT_USER, product.company_key().c_str(),
                          KEY_SET_VALUE);
    ASSERT_EQ(ERROR_SUCCESS,
              key.WriteStringValue(kLastCrashValue, L"last tuesday"));
  }
  int64_t days = -1;
  ASSERT_TRUE(GetDaysSinceLastReporterCrash(&days));
  EXPECT_GE(days, kSelfCrashReportIntervalDays);
  uint64_t stored = 1;
  ASSERT_TRUE(ReadStored(product, &stored));
  EXPECT_EQ(0u, stored);
}

TEST(ReporterCrashTimeTest, NoCompanyKeyNoReports) {
  ScopedTestProduct product;
  CrashProductInfo info = GetCrashProductInfo();
  info.company_registry_key.clear();
  SetCrashProductInfo(info);
  int64_t days = -1;
  EXPECT_FALSE(GetDaysSinceLastReporterCrash(&days));
  // Nothing was written to HKCU itself.
  base::win::RegKey root(HKEY_CURRENT_USER, L"", KEY_QUERY_VALUE);
  EXPECT_FALSE(root.HasValue(kLastCrashValue));
}

// The processes |parent| started that still run.
std::vector<DWORD> ChildrenOf(DWORD parent) {
  std::vector<DWORD> children;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE)
    return children;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
       more = ::Process32NextW(snapshot, &entry)) {
    if (entry.th32ParentProcessID == parent)
      children.push_back(entry.th32ProcessID);
  }
  ::CloseHandle(snapshot);
  return children;
}

// --- The exception-info mode against a crashed reporter stand-in.

class SelfCrashTest : public testing::Test {
 protected:
  void SetUp() override {
    saved_command_line_ = *base::CommandLine::ForCurrentProcess();
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    counters_ = temp_.GetPath().Append(L"counters.json");
    ASSERT_TRUE(base::PathService::OverrideAndCreateIfNeeded(
        kCrashCountersFileKey, counters_, true, false));
    ASSERT_TRUE(server_.Start());
    server_.Serve("/submit", 200, "id=1");
    url_ = std::make_unique<ScopedVariable>(
        "KAVOR_ALTERNATIVE_CRASH_SERVER_URL",
        base::WideToUTF8(server_.Url("/submit")).c_str());
  }
  void TearDown() override {
    *base::CommandLine::ForCurrentProcess() = saved_command_line_;
    EXPECT_TRUE(
        base::PathService::RemoveOverrideForTesting(kCrashCountersFileKey));
    for (auto& child : children_) {
      if (child.IsValid())
        child.Terminate(1, true);
    }
  }

  // Starts the stand-in with |arguments|; its output goes to |output|.
  base::Process& Start(const std::wstring& arguments,
                       const base::FilePath& output) {
    children_.push_back(test::StartChild(
        test::TestProgram(L"kavor_selfcrash_child.exe"), arguments, output));
    return children_.back();
  }

  // A stand-in that crashed and waits for the copy; |record| is the
  // address of its exception record.
  void StartHeld(base::Process** child,
                 base::FilePath* output,
                 std::string* record) {
    *output = temp_.GetPath().Append(
        L"held" + base::UintToString16(children_.size()) + L".txt");
    children_.push_back(test::StartChild(
        test::TestProgram(L"kavor_selfcrash_hold.exe"), L"", *output));
    *child = &children_.back();
    ASSERT_TRUE((*child)->IsValid());
    std::string text;
    ASSERT_TRUE(base::WaitUntil(
        [&] {
          return base::ReadFileToString(*output, &text) &&
                 text.find('\n') != std::string::npos;
        },
        "the stand-in's record", kBound));
    ASSERT_EQ(0u, text.find("record ")) << text;
    *record = text.substr(7, text.find_first_of("\r\n") - 7);
  }

  void RunExceptionInfoMode(DWORD process_id, const std::string& record) {
    base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
    *command_line = saved_command_line_;
    command_line->AppendSwitchASCII(kCrashReporterParentIdSwitch,
                                    base::UintToString(process_id));
    command_line->AppendSwitchASCII(kCrashReporterExceptionInfoSwitch, record);
    RunCrashReporterWithExceptionInfo();
  }

  // The stand-in ends once released, with its exception as exit code.
  void ExpectReleased(base::Process* child, const base::FilePath& output) {
    int exit_code = 0;
    ASSERT_TRUE(child->WaitForExitWithTimeout(kBound, &exit_code))
        << "the stand-in did not end once released";
    EXPECT_EQ(static_cast<int>(EXCEPTION_ACCESS_VIOLATION), exit_code);
    std::string text;
    ASSERT_TRUE(base::ReadFileToString(output, &text));
    EXPECT_NE(std::string::npos, text.find("\nreleased")) << text;
  }

  int ReporterCount() {
    std::string text;
    if (!base::ReadFileToString(counters_, &text))
      return 0;
    std::unique_ptr<base::Value> value = base::JSONReader::Read(text);
    const base::DictionaryValue* dictionary = nullptr;
    int count = 0;
    if (!value || !value->GetAsDictionary(&dictionary) ||
        !dictionary->GetInteger("crash_reporter", &count)) {
      return -1;
    }
    return count;
  }

  // The dump that was sent, as a file to read.
  void ExpectReporterUpload(const ReceivedUpload& upload,
                            test::MinidumpFile* dump) {
    EXPECT_TRUE(upload.well_formed);
    EXPECT_EQ("crash_reporter", upload.Field("ptype"));
    EXPECT_EQ("KavorDesktop", upload.Field("prod"));
    EXPECT_EQ("47.0.4127.0", upload.Field("ver"));
    EXPECT_TRUE(upload.Has("StartupTime"));
    EXPECT_TRUE(upload.Has("process_working_set_size"));
    ASSERT_TRUE(upload.has_dump);
    EXPECT_EQ(0u, upload.dump_file_name.find("kavor-crashlog-"))
        << upload.dump_file_name;
    EXPECT_LE(upload.dump.size(), 512000u);
    const base::FilePath copy = temp_.GetPath().Append(L"sent.dmp");
    ASSERT_EQ(static_cast<int>(upload.dump.size()),
              base::WriteFile(copy, upload.dump.data(),
                              static_cast<int>(upload.dump.size())));
    ASSERT_TRUE(dump->Open(copy));
  }

  ScopedTestProduct product_;
  ScopedVariable with_length_{"KAVOR_CRASH_UPLOAD_WITH_LENGTH", "1"};
  std::unique_ptr<ScopedVariable> url_;
  base::CommandLine saved_command_line_{base::CommandLine::NO_PROGRAM};
  base::ScopedTempDir temp_;
  base::FilePath counters_;
  base::LoopbackHttpServer server_;
  // A deque: references to its elements stay valid as it grows.
  std::deque<base::Process> children_;
};

TEST_F(SelfCrashTest, FirstCrashIsReportedAndASecondWithinDaysOnlyReleased) {
  base::Process* child = nullptr;
  base::FilePath output;
  std::string record;
  ASSERT_NO_FATAL_FAILURE(StartHeld(&child, &output, &record));
  const uint64_t before = NowTicks();
  RunExceptionInfoMode(child->Pid(), record);
  const uint64_t after = NowTicks();
  ASSERT_NO_FATAL_FAILURE(ExpectReleased(child, output));

  auto requests = server_.RequestsFor("/submit");
  ASSERT_EQ(1u, requests.size());
  // Sent as it is: no compression for the reporter's own dumps.
  EXPECT_EQ("", requests[0].Header("Content-Encoding"));
  const ReceivedUpload upload = test::ParseRequest(requests[0]);
  test::MinidumpFile dump;
  ASSERT_NO_FATAL_FAILURE(ExpectReporterUpload(upload, &dump));
  const MINIDUMP_EXCEPTION_STREAM* exception = dump.exception();
  ASSERT_TRUE(exception);
  EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION),
            exception->ExceptionRecord.ExceptionCode);
  // The dump is gone from the temporary folder.
  base::FilePath temp;
  ASSERT_TRUE(base::GetTempDir(&temp));
  EXPECT_FALSE(
      base::PathExists(temp.Append(base::UTF8ToWide(upload.dump_file_name))));

  uint64_t stored = 0;
  ASSERT_TRUE(ReadStored(product_, &stored));
  EXPECT_GE(stored / 10000, before / 10000);
  EXPECT_LE(stored / 10000, after / 10000);
  EXPECT_EQ(1, ReporterCount());

  // A second crash so soon: released, neither counted nor reported.
  ASSERT_NO_FATAL_FAILURE(StartHeld(&child, &output, &record));
  RunExceptionInfoMode(child->Pid(), record);
  ASSERT_NO_FATAL_FAILURE(ExpectReleased(child, output));
  EXPECT_EQ(1u, server_.RequestsFor("/submit").size());
  EXPECT_EQ(1, ReporterCount());
}

TEST_F(SelfCrashTest, ARecordThatCannotBeReadReleasesWithoutAReport) {
  for (const char* record : {"16", "not-an-address"}) {
    base::Process* child = nullptr;
    base::FilePath output;
    std::string real_record;
    ASSERT_NO_FATAL_FAILURE(StartHeld(&child, &output, &real_record));
    RunExceptionInfoMode(child->Pid(), record);
    ASSERT_NO_FATAL_FAILURE(ExpectReleased(child, output)) << record;
  }
  EXPECT_EQ(0u, server_.RequestsFor("/submit").size());
  // Still free to report the next crash.
  uint64_t stored = 1;
  ASSERT_TRUE(ReadStored(product_, &stored));
  EXPECT_EQ(0u, stored);
}

// The whole road from the crash: the stand-in installs the reporter's own
// handlers, gets its relaunch ready and dies; its copy starts from the
// prepared command line, counts the crash and lets the stand-in end. (Its
// dump is the copy's own business, tested above with a small stand-in: a
// process of this size dumps beyond the self-crash limit on some systems.)
TEST_F(SelfCrashTest, CrashedReporterStartsItsCopy) {
  struct Case {
    const wchar_t* kind;
    int exit_code;
  };
  int crashes = 0;
  size_t reported = 0;
  for (const Case& c :
       {Case{L"access-violation", static_cast<int>(EXCEPTION_ACCESS_VIOLATION)},
        // The runtime's reports end the process normally.
        Case{L"invalid-parameter", 0}, Case{L"pure-call", 0}}) {
    SCOPED_TRACE(c.kind);
    // Each crash with no record of an earlier one.
    ScopedTestProduct product;
    ScopedVariable company("KAVOR_TEST_COMPANY_KEY",
                           base::WideToUTF8(product.company_key()).c_str());
    ScopedVariable counters("KAVOR_TEST_COUNTERS_FILE",
                            base::WideToUTF8(counters_.value()).c_str());
    const base::FilePath output =
        temp_.GetPath().Append(std::wstring(c.kind) + L".txt");
    base::Process& child = Start(std::wstring(L"crash ") + c.kind, output);
    ASSERT_TRUE(child.IsValid());
    // The copy, once it runs: the stand-in's only child. A copy that has
    // already done its work and gone is found no more; the stand-in has
    // ended then too.
    std::vector<DWORD> copies;
    ASSERT_TRUE(base::WaitUntil(
        [&] {
          copies = ChildrenOf(child.Pid());
          return !copies.empty() ||
                 child.WaitForExitWithTimeout(base::TimeDelta(), nullptr);
        },
        "the copy's start", kBound));
    ASSERT_LE(copies.size(), 1u);
    base::Process copy;
    if (!copies.empty()) {
      copy = base::Process(::OpenProcess(
          SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, copies[0]));
    }

    int exit_code = -1;
    ASSERT_TRUE(child.WaitForExitWithTimeout(kBound, &exit_code))
        << "the crashed stand-in did not end";
    EXPECT_EQ(c.exit_code, exit_code);
    std::string text;
    ASSERT_TRUE(base::ReadFileToString(output, &text));
    EXPECT_EQ(std::string::npos, text.find("survived")) << text;
    if (copy.IsValid()) {
      int copy_exit_code = -1;
      ASSERT_TRUE(copy.WaitForExitWithTimeout(kBound, &copy_exit_code))
          << "the reporter's copy did not end";
      EXPECT_EQ(0, copy_exit_code);
    }

    ++crashes;
    EXPECT_EQ(crashes, ReporterCount());
    // A report only with a dump within the limit, and the time stored
    // only with a report.
    const auto requests = server_.RequestsFor("/submit");
    uint64_t stored = 1;
    ASSERT_TRUE(ReadStored(product, &stored));
    if (requests.size() > reported) {
      ASSERT_EQ(reported + 1, requests.size());
      ++reported;
      const ReceivedUpload upload = test::ParseRequest(requests.back());
      EXPECT_EQ("crash_reporter", upload.Field("ptype"));
      EXPECT_LE(upload.dump.size(), 512000u);
      EXPECT_NE(0u, stored);
    } else {
      EXPECT_EQ(0u, stored);
    }
  }
}

}  // namespace
}  // namespace crash_reporter
