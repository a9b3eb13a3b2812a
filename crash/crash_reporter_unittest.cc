#include "crash/crash_reporter.h"

#include <windows.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/environment.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/loopback_http_server.h"
#include "base/test/scoped_path_override.h"
#include "crash/crash_key_table.h"
#include "crash/crash_product_info.h"
#include "crash/crash_reporter_process.h"
#include "crash/test/http_body_test_util.h"
#include "crash/test/test_product.h"
#include "crash/test/test_program.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

// Sets environment variables for the life of the test and puts back what
// was there.
class ScopedVariables {
 public:
  ~ScopedVariables() {
    auto environment = base::Environment::Create();
    for (const auto& saved : saved_) {
      if (saved.second.first)
        (void)environment->SetVar(saved.first, saved.second.second);
      else
        (void)environment->UnSetVar(saved.first);
    }
  }

  void Set(const std::string& name, const std::string& value) {
    auto environment = base::Environment::Create();
    std::string old;
    const bool had = environment->GetVar(name, &old);
    saved_.push_back({name, {had, old}});
    if (value.empty())
      (void)environment->UnSetVar(name);
    else
      ASSERT_TRUE(environment->SetVar(name, value));
  }

 private:
  std::vector<std::pair<std::string, std::pair<bool, std::string>>> saved_;
};

CrashProductInfo TestProduct() {
  CrashProductInfo info = test::TestCrashProduct();
  info.build_number = 42;
  return info;
}

std::wstring KeyValue(const char* name) {
  const CustomClientInfo custom = CrashKeyTable::GetInstance()->GetCustomInfo();
  ParsedCrashKeys keys(custom.entries, custom.count);
  return keys.GetValue(name);
}

TEST(CrashReporterClientTest, ObjectNamesFitTheirRoomOrFail) {
  base::string16 name;
  ASSERT_TRUE(FormatCrashReporterObjectName(kCrashReporterInitEventPrefix,
                                            4294967295u, &name));
  EXPECT_EQ(L"KavorCrashReporterInitEvent4294967295", name);
  ASSERT_TRUE(
      FormatCrashReporterObjectName(kCrashReporterPipePrefix, 42, &name));
  EXPECT_EQ(L"\\\\.\\pipe\\KavorCrashReporter42", name);
  // 38 units with the terminator: one more digit's room is not there.
  EXPECT_FALSE(FormatCrashReporterObjectName(L"KavorCrashReporterInitEventX",
                                             4294967295u, &name));
}

// The place of |function| in its class's table of virtual functions, as the
// compiler's pointer to a virtual member encodes it (the table offset plus
// one); the destructor takes the first two places, so the first function
// after it is 1.
template <typename Function>
int SlotOf(Function function) {
  struct {
    uintptr_t offset_plus_one;
    ptrdiff_t adjustment;
  } raw;
  static_assert(sizeof(raw) == sizeof(function), "not a member pointer");
  memcpy(&raw, &function, sizeof(raw));
  if (!(raw.offset_plus_one & 1))
    return -1;  // Not virtual.
  return static_cast<int>((raw.offset_plus_one - 1) / sizeof(void*)) - 1;
}

// Hosts and the reporter share the client through its table: every function
// sits in its agreed place, whatever comes before it.
TEST(CrashReporterClientTest, FunctionsKeepTheirPlacesInTheTable) {
  EXPECT_EQ(1, SlotOf(&CrashReporterClient::IsBrowserProcessType));
  EXPECT_EQ(3, SlotOf(&CrashReporterClient::GetProductInfo));
  EXPECT_EQ(10, SlotOf(&CrashReporterClient::GetDumpFolder));
  EXPECT_EQ(12, SlotOf(&CrashReporterClient::GetCountersPath));
  EXPECT_EQ(15, SlotOf(&CrashReporterClient::ReportsWithoutConsent));
  EXPECT_EQ(16, SlotOf(&CrashReporterClient::IsEnabled));
  // And the table holds the last fixed query too: nothing is cut short.
  EXPECT_EQ(20, SlotOf(&CrashReporterClient::FixedQuery20));
}

// A client's fixed answers: the installer's client answers as any client
// does, except that it reports only with consent and only while enabled.
TEST(CrashReporterClientTest, FixedAnswersOfAClientAndOfTheInstaller) {
  CrashReporterClient base_client;
  CrashReporterClient* installer = InstallerCrashReporterClient::GetInstance();
  using Query = bool (CrashReporterClient::*)();
  const struct {
    Query query;
    bool base_answer;
  } kQueries[] = {
      {&CrashReporterClient::FixedQuery2, false},
      {&CrashReporterClient::FixedQuery4, false},
      {&CrashReporterClient::FixedQuery5, false},
      {&CrashReporterClient::FixedQuery6, false},
      {&CrashReporterClient::FixedQuery7, true},
      {&CrashReporterClient::FixedQuery8, false},
      {&CrashReporterClient::FixedQuery11, false},
      {&CrashReporterClient::FixedQuery13, false},
      {&CrashReporterClient::FixedQuery14, false},
      {&CrashReporterClient::FixedQuery17, true},
      {&CrashReporterClient::FixedQuery18, false},
      {&CrashReporterClient::FixedQuery19, false},
      {&CrashReporterClient::FixedQuery20, false},
  };
  for (const auto& query : kQueries) {
    const int slot = SlotOf(query.query);
    EXPECT_EQ(query.base_answer, (base_client.*query.query)()) << slot;
    EXPECT_EQ(query.base_answer, (installer->*query.query)()) << slot;
  }
  EXPECT_EQ(0, base_client.FixedQuery9());
  EXPECT_EQ(0, installer->FixedQuery9());

  EXPECT_TRUE(base_client.ReportsWithoutConsent());
  EXPECT_FALSE(installer->ReportsWithoutConsent());
  EXPECT_FALSE(base_client.IsEnabled());
  EXPECT_TRUE(installer->IsEnabled());
  EXPECT_TRUE(base_client.IsBrowserProcessType(L"browser"));
  EXPECT_FALSE(base_client.IsBrowserProcessType(L"installer"));

  // A client that is only the interface has no product and no folders.
  base::string16 product = L"untouched";
  base::string16 version, special_build, channel;
  base_client.GetProductInfo(base::FilePath(L"C:\\x.exe"), &product,
                             &version, &special_build, &channel);
  EXPECT_EQ(L"untouched", product);
  base::FilePath path;
  EXPECT_FALSE(base_client.GetDumpFolder(&path));
  EXPECT_FALSE(base_client.GetCountersPath(&path));
}

TEST(CrashReporterClientTest, BuildIdAndReleaseChannel) {
  CrashProductInfo info = TestProduct();
  EXPECT_EQ("20180312000042", ComputeBuildId(info));
  info.build_number = 1234567;
  EXPECT_EQ("20180312234567", ComputeBuildId(info));
  info.build_timestamp = "2018";
  EXPECT_EQ("20180000234567", ComputeBuildId(info));

  EXPECT_EQ("nightly", ComputeReleaseChannel(info));
  info.channel_id = 4;
  EXPECT_EQ("release", ComputeReleaseChannel(info));
  info.channel_id = 3;
  EXPECT_EQ("developer", ComputeReleaseChannel(info));

  EXPECT_EQ("tests-syms",
            SymbolsPackageFor(base::FilePath(L"C:\\a\\x_browsertests.exe")));
  EXPECT_EQ("browser-syms",
            SymbolsPackageFor(base::FilePath(L"C:\\a\\x_BrowserTests.exe")));
  EXPECT_EQ("browser-syms",
            SymbolsPackageFor(base::FilePath(L"C:\\a_browsertests\\x.exe")));
}

TEST(CrashReporterClientTest, InitialCrashKeysAndOrigin) {
  SetCrashProductInfo(TestProduct());
  ScopedVariables variables;
  variables.Set("KAVOR_CRASH_EMAIL", "someone@example.com");
  variables.Set("KAVTEST_RUN_ID", "");
  variables.Set("KAVOR_CRASH_ORIGIN", "lab");
  SetInitialCrashKeys();
  EXPECT_EQ(L"installer", KeyValue("ptype"));
  EXPECT_EQ(L"developer", KeyValue("channel"));
  EXPECT_EQ(L"47.0.4127.0", KeyValue("ver"));
  EXPECT_EQ(L"KavorDesktop", KeyValue("prod"));
  EXPECT_EQ(L"20180312000042", KeyValue("BuildID"));
  EXPECT_EQ(L"nightly", KeyValue("ReleaseChannel"));
  EXPECT_EQ(L"Win64", KeyValue("plat"));
  EXPECT_EQ(L"browser-syms", KeyValue("symbols-package"));
  EXPECT_EQ(L"957861", KeyValue("UBN"));
  EXPECT_EQ(L"0", KeyValue("is_wow64"));
  EXPECT_EQ(L"someone@example.com", KeyValue("Email"));
  EXPECT_EQ(L"lab", KeyValue("Origin"));

  // A run of the test automation is filed under it, whatever the origin
  // variable says.
  variables.Set("KAVTEST_RUN_ID", "run-17");
  SetInitialCrashKeys();
  EXPECT_EQ(L"kavtest", KeyValue("Origin"));
  EXPECT_EQ(L"run-17", KeyValue("kavtest_run"));
}

TEST(CrashReporterClientTest, FoldersComeFromTheVariableOrOverrides) {
  ScopedVariables variables;
  variables.Set("KAVOR_CRASH_LOG_DIR", "");
  InstallerCrashReporterClient* client =
      InstallerCrashReporterClient::GetInstance();
  base::FilePath path;
  // Nothing provides these keys: without an override there is no answer.
  EXPECT_FALSE(client->GetDumpFolder(&path));
  EXPECT_FALSE(client->GetCountersPath(&path));

  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  base::ScopedPathOverride dumps(kCrashDumpsFolderKey,
                                 temp.GetPath().Append(L"dumps"));
  base::ScopedPathOverride counters(kCrashCountersFileKey,
                                    temp.GetPath().Append(L"counters.json"));
  ASSERT_TRUE(client->GetDumpFolder(&path));
  EXPECT_EQ(temp.GetPath().Append(L"dumps"), path);
  ASSERT_TRUE(client->GetCountersPath(&path));
  EXPECT_EQ(temp.GetPath().Append(L"counters.json"), path);

  variables.Set("KAVOR_CRASH_LOG_DIR", "C:\\crash logs");
  ASSERT_TRUE(client->GetDumpFolder(&path));
  EXPECT_EQ(base::FilePath(L"C:\\crash logs"), path);
}

TEST(CrashReporterClientTest, NoReporterForBuildsWithoutUbn) {
  CrashProductInfo info = TestProduct();
  info.ubn = -1;
  SetCrashProductInfo(info);
  EXPECT_FALSE(EnsureCrashReporterProcess());
  SetCrashProductInfo(TestProduct());
}

// The reporter's life with a real process tree: kavor_crash_host plays an
// installer process and starts the reporter as the installer does.
class CrashReporterLifecycleTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    dumps_ = temp_.GetPath().Append(L"dumps");
    counters_ = temp_.GetPath().Append(L"counters.json");
    ASSERT_TRUE(server_.Start());
    server_.Serve("/submit", 200, "CrashID=bp-1");
    base::FilePath exe_dir;
    ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &exe_dir));
    host_ = exe_dir.Append(L"kavor_crash_host.exe");
    variables_.Set("KAVOR_CRASH_LOG_DIR", base::WideToUTF8(dumps_.value()));
    variables_.Set("KAVOR_ALTERNATIVE_CRASH_SERVER_URL",
                   base::WideToUTF8(server_.Url("/submit")));
    variables_.Set("KAVOR_CRASH_UPLOAD_WITH_LENGTH", "1");
    variables_.Set("KAVOR_CRASH_KEEP_LOGS", "");
  }

  // Runs the host with the switches |args| ("name=value") and gives its
  // standard output.
  std::string RunHost(const std::vector<std::wstring>& args) {
    base::CommandLine command_line(host_);
    command_line.AppendSwitchPath("counters-file", counters_);
    for (const std::wstring& arg : args) {
      const size_t equals = arg.find(L'=');
      command_line.AppendSwitchNative(base::WideToUTF8(arg.substr(0, equals)),
                                      arg.substr(equals + 1));
    }
    std::string output;
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    if (!::CreatePipe(&read_end, &write_end, &inherit, 0)) {
      ADD_FAILURE() << "no pipe for the host's output: " << ::GetLastError();
      return output;
    }
    ::SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    base::LaunchOptions options;
    options.stdout_handle = write_end;
    options.stderr_handle = ::GetStdHandle(STD_ERROR_HANDLE);
    options.handles_to_inherit.push_back(write_end);
    base::Process host = test::StartTestProgram(
        command_line.GetCommandLineString(), options);
    ::CloseHandle(write_end);
    if (!host.IsValid()) {
      ::CloseHandle(read_end);
      ADD_FAILURE() << "the crash host did not start";
      return output;
    }
    // The host writes a few lines, far less than the pipe holds: read them
    // once it has ended, so that the wait is bounded.
    int exit_code = -1;
    const bool ended = host.WaitForExitWithTimeout(
        base::TimeDelta::FromMinutes(1), &exit_code);
    if (!ended)
      host.Terminate(1, true);
    char buffer[4096];
    DWORD available = 0;
    DWORD read = 0;
    while (::PeekNamedPipe(read_end, nullptr, 0, nullptr, &available,
                           nullptr) &&
           available &&
           ::ReadFile(read_end, buffer, sizeof(buffer), &read, nullptr) &&
           read) {
      output.append(buffer, read);
    }
    ::CloseHandle(read_end);
    if (!ended)
      ADD_FAILURE() << "the crash host did not end within a minute: " << output;
    else
      EXPECT_EQ(0, exit_code) << output;
    base::ReplaceSubstringsAfterOffset(&output, 0, "\r", "");
    return output;
  }

  static DWORD ReporterOf(const std::string& output) {
    const size_t at = output.find("reporter ");
    if (at == std::string::npos)
      return 0;
    unsigned int pid = 0;
    const size_t end = output.find_first_of("\r\n", at);
    EXPECT_TRUE(base::StringToUint(
        output.substr(at + 9, end == std::string::npos ? end : end - at - 9),
        &pid));
    return pid;
  }

  // Whether the reporter has ended within a minute (generous: its upload
  // may be slow on a loaded machine).
  static testing::AssertionResult ReporterEnds(HANDLE reporter) {
    if (::WaitForSingleObject(reporter, 60000) == WAIT_OBJECT_0)
      return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << "the reporter did not end within a minute";
  }

  base::FilePath DumpOf(DWORD reporter, int sequence) const {
    return dumps_.Append(L"kavor-crashlog-" + base::UintToString16(reporter) +
                         L"-" + base::IntToString16(sequence) + L".dmp");
  }

  base::ScopedTempDir temp_;
  base::FilePath dumps_;
  base::FilePath counters_;
  base::FilePath host_;
  base::LoopbackHttpServer server_;
  ScopedVariables variables_;
};

TEST_F(CrashReporterLifecycleTest, ChildCrashIsDumpedCountedAndUploaded) {
  variables_.Set("KAVOR_CRASH_KEEP_LOGS", "1");
  const std::string output =
      RunHost({L"action=crash-child", L"set-key=late_key=set after start"});
  const DWORD reporter = ReporterOf(output);
  ASSERT_NE(0u, reporter) << output;
  // The child joined the parent's reporter rather than starting its own.
  EXPECT_NE(std::string::npos,
            output.find("reporter " + base::UintToString(reporter) +
                        "\nreporter " + base::UintToString(reporter)))
      << output;
  EXPECT_NE(std::string::npos, output.find("child-exit 0xc0000005")) << output;
  HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, reporter);
  if (process) {
    EXPECT_TRUE(ReporterEnds(process));
    ::CloseHandle(process);
  }

  // Kept: the variable says so.
  std::string dump;
  ASSERT_TRUE(base::ReadFileToString(DumpOf(reporter, 1), &dump));
  EXPECT_EQ(0u, dump.find("MDMP"));
  EXPECT_LE(static_cast<int64_t>(dump.size()), kClientDumpSizeLimit);
  EXPECT_FALSE(base::PathExists(DumpOf(reporter, 2)));
  std::string counters;
  ASSERT_TRUE(base::ReadFileToString(counters_, &counters));
  EXPECT_EQ("{\"installer\":1}", counters);

  const std::vector<base::LoopbackHttpServer::Request> requests =
      server_.RequestsFor("/submit");
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("POST", requests[0].method);
  EXPECT_EQ("gzip", requests[0].Header("Content-Encoding"));
  std::string body;
  ASSERT_TRUE(test::GunzipOneMember(requests[0].body, &body));
  for (const char* field :
       {"name=\"ptype\"\r\n\r\ninstaller\r\n",
        "name=\"prod\"\r\n\r\nKavorDesktop\r\n",
        // Read out of the crashed process when it crashed.
        "name=\"late_key\"\r\n\r\nset after start\r\n",
        "name=\"ver\"\r\n\r\n47.0.4127.0\r\n", "name=\"UBN\"\r\n\r\n957861\r\n",
        "name=\"BuildID\"\r\n\r\n20180312234567\r\n", "name=\"StartupTime\"",
        "name=\"CrashTime\"", "name=\"mem_physical_total\"",
        "name=\"upload_file_minidump\"; filename=\"kavor-crashlog-"}) {
    EXPECT_NE(std::string::npos, body.find(field)) << field;
  }
  EXPECT_EQ(std::string::npos, body.find("name=\"ptime\""));
  EXPECT_EQ(std::string::npos, body.find("name=\"crash_guid\""));
}

TEST_F(CrashReporterLifecycleTest, DumpIsDeletedAfterTheUpload) {
  const DWORD reporter = ReporterOf(RunHost({L"action=crash-child"}));
  ASSERT_NE(0u, reporter);
  HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, reporter);
  if (process) {
    EXPECT_TRUE(ReporterEnds(process));
    ::CloseHandle(process);
  }
  EXPECT_EQ(1u, server_.RequestsFor("/submit").size());
  EXPECT_FALSE(base::PathExists(DumpOf(reporter, 1)));
}

TEST_F(CrashReporterLifecycleTest, ReporterStaysWhileItsParentRuns) {
  const base::FilePath go = temp_.GetPath().Append(L"go");
  base::CommandLine command_line(host_);
  command_line.AppendSwitchPath("counters-file", counters_);
  command_line.AppendSwitchPath("wait-for", go);
  base::LaunchOptions options;
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  ASSERT_TRUE(::CreatePipe(&read_end, &write_end, &inherit, 0));
  ::SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  options.stdout_handle = write_end;
  options.stderr_handle = write_end;
  options.handles_to_inherit.push_back(write_end);
  base::Process host =
      test::StartTestProgram(command_line.GetCommandLineString(), options);
  ::CloseHandle(write_end);
  ASSERT_TRUE(host.IsValid()) << "the crash host did not start";
  char line[64] = {};
  DWORD read = 0;
  ASSERT_TRUE(::ReadFile(read_end, line, sizeof(line) - 1, &read, nullptr));
  ::CloseHandle(read_end);
  const DWORD reporter = ReporterOf(line);
  ASSERT_NE(0u, reporter) << line;
  HANDLE process = ::OpenProcess(
      SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, reporter);
  ASSERT_TRUE(process);
  EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT),
            ::WaitForSingleObject(process, 0));

  ASSERT_TRUE(base::WriteFile(go, "", 0) == 0);
  int exit_code = -1;
  EXPECT_TRUE(host.WaitForExitWithTimeout(base::TimeDelta::FromMinutes(1),
                                          &exit_code))
      << "the crash host did not end within a minute";
  EXPECT_EQ(0, exit_code);
  EXPECT_TRUE(ReporterEnds(process));
  DWORD reporter_exit = 1;
  EXPECT_TRUE(::GetExitCodeProcess(process, &reporter_exit));
  EXPECT_EQ(0u, reporter_exit);
  ::CloseHandle(process);
}

TEST_F(CrashReporterLifecycleTest, ReporterThatCannotServeMeansNoReporter) {
  // The user turned crash reports off: the reporter ends before its event,
  // and the parent goes on without one.
  const base::FilePath flags = temp_.GetPath().Append(L"flags.json");
  const std::string off =
      "{\"user_experience_metrics\":{\"reporting_enabled\":false}}";
  ASSERT_EQ(static_cast<int>(off.size()),
            base::WriteFile(flags, off.data(), static_cast<int>(off.size())));
  const std::string output =
      RunHost({L"flags-file=" + flags.value(), L"action=crash-child"});
  EXPECT_NE(std::string::npos, output.find("reporter 0\nreporter 0\n"))
      << output;
  EXPECT_TRUE(server_.RequestsFor("/submit").empty());

  // A parent without a reporter passes 0, and its child starts its own.
  const std::string own = RunHost({L"crash-reporter-pid=0"});
  EXPECT_NE(0u, ReporterOf(own)) << own;
}

TEST_F(CrashReporterLifecycleTest, ThreadsCrashingTogetherMakeOneDump) {
  variables_.Set("KAVOR_CRASH_KEEP_LOGS", "1");
  const std::string output = RunHost({L"action=crash-child-two-threads"});
  const DWORD reporter = ReporterOf(output);
  ASSERT_NE(0u, reporter) << output;
  EXPECT_NE(std::string::npos, output.find("child-exit 0xc0000005")) << output;
  HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, reporter);
  if (process) {
    EXPECT_TRUE(ReporterEnds(process));
    ::CloseHandle(process);
  }
  EXPECT_TRUE(base::PathExists(DumpOf(reporter, 1)));
  EXPECT_FALSE(base::PathExists(DumpOf(reporter, 2)));
  EXPECT_EQ(1u, server_.RequestsFor("/submit").size());
}

}  // namespace
}  // namespace crash_reporter
