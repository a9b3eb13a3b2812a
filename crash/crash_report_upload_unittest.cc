#include "crash/crash_report_upload.h"

#include <windows.h>

#include <memory>
#include <string>
#include <utility>

#include "base/files/file.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/process/process.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/bounded_wait.h"
#include "base/test/loopback_http_server.h"
#include "base/time/time.h"
#include "crash/crash_key_table.h"
#include "crash/crash_product_info.h"
#include "crash/crash_reporter_process.h"
#include "crash/test/crash_upload_test_util.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

// Generous: an upload over loopback may take many seconds on a loaded
// machine.
constexpr base::TimeDelta kUploadBound = base::TimeDelta::FromMinutes(1);

using test::ReceivedUpload;
using test::ScopedTestProduct;
using test::ScopedVariable;

// Crash keys as a client's table would hold them.
class KeyEntries {
 public:
  void Add(const wchar_t* name, const wchar_t* value) {
    CustomInfoEntry entry = {};
    wcsncpy(entry.name, name, CustomInfoEntry::kNameMaxLength - 1);
    wcsncpy(entry.value, value, CustomInfoEntry::kValueMaxLength - 1);
    entries_.push_back(entry);
  }
  std::unique_ptr<ParsedCrashKeys> Parse() const {
    return std::make_unique<ParsedCrashKeys>(entries_.data(), entries_.size());
  }

 private:
  std::vector<CustomInfoEntry> entries_;
};

int64_t Seconds(base::Time time) {
  return time.ToJavaTime() / 1000;
}

std::string Field(const CrashReportFields& fields, const char* name) {
  auto it = fields.fields().find(base::UTF8ToWide(name));
  return it == fields.fields().end() ? "<absent>"
                                     : base::WideToUTF8(it->second);
}

int64_t NumberField(const CrashReportFields& fields, const char* name) {
  int64_t value = -1;
  EXPECT_TRUE(base::StringToInt64(Field(fields, name), &value)) << name;
  return value;
}

// A live child process to gather fields of, and what the test knows of it.
class CrashFieldsTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    program_ = test::TestProgram(L"kavor_selfcrash_child.exe");
  }
  void TearDown() override {
    if (child_.IsValid())
      child_.Terminate(0, true);
  }

  void StartChild(const base::FilePath& program) {
    child_ =
        test::StartChild(program, L"sleep", temp_.GetPath().Append(L"out.txt"));
    ASSERT_TRUE(child_.IsValid());
    FILETIME creation, exit, kernel, user;
    ASSERT_TRUE(
        ::GetProcessTimes(child_.Handle(), &creation, &exit, &kernel, &user));
    started_ = base::Time::FromFileTime(creation);
    base::File file(program, base::File::FLAG_OPEN | base::File::FLAG_READ);
    base::File::Info info;
    ASSERT_TRUE(file.GetInfo(&info));
    installed_ = info.creation_time;
  }

  void ExpectMemoryFields(const CrashReportFields& fields, bool of_process) {
    for (const char* name :
         {"mem_load", "mem_page_file_avail", "mem_page_file_total",
          "mem_physical_avail", "mem_physical_total"}) {
      EXPECT_TRUE(fields.Has(name)) << name;
    }
    EXPECT_GT(NumberField(fields, "mem_physical_total"), 0);
    for (const char* name :
         {"mem_virtual_size", "process_page_file_peak_usage",
          "process_page_file_usage", "process_private_usage",
          "process_working_set_peak_size", "process_working_set_size"}) {
      EXPECT_EQ(of_process, fields.Has(name)) << name;
    }
    if (of_process) {
      EXPECT_GT(NumberField(fields, "mem_virtual_size"), 0);
      EXPECT_GT(NumberField(fields, "process_working_set_size"), 0);
    }
  }

  ScopedTestProduct product_;
  base::ScopedTempDir temp_;
  base::FilePath program_;
  base::Process child_;
  base::Time started_;
  base::Time installed_;
};

TEST_F(CrashFieldsTest, ClientKeysComeFirstAndTimesFollowTheUptime) {
  ASSERT_NO_FATAL_FAILURE(StartChild(program_));
  KeyEntries keys;
  keys.Add(L"prod", L"ClientProd");
  keys.Add(L"crash_guid", L"0123");
  keys.Add(L"ptime", L"5000");
  keys.Add(L"note", L"kept");
  keys.Add(L"symbols-package", L"own-syms");
  CrashReportFields fields;
  CollectClientCrashFields(child_.Handle(), *keys.Parse(), &fields);

  EXPECT_EQ("ClientProd", Field(fields, "prod"));
  EXPECT_EQ("kept", Field(fields, "note"));
  EXPECT_EQ("own-syms", Field(fields, "symbols-package"));
  EXPECT_FALSE(fields.Has("crash_guid"));
  EXPECT_FALSE(fields.Has("ptime"));
  EXPECT_EQ(Seconds(started_), NumberField(fields, "StartupTime"));
  EXPECT_EQ(Seconds(started_ + base::TimeDelta::FromSeconds(5)),
            NumberField(fields, "CrashTime"));
  EXPECT_EQ(Seconds(installed_), NumberField(fields, "InstallTime"));
  EXPECT_EQ("47.0.4127.0", Field(fields, "ver"));
  EXPECT_EQ("957861", Field(fields, "UBN"));
  EXPECT_EQ("20180312234567", Field(fields, "BuildID"));
  EXPECT_EQ("nightly", Field(fields, "ReleaseChannel"));
  ExpectMemoryFields(fields, true);
}

TEST_F(CrashFieldsTest, UnreadableUptimeFallsBackToCreationAndNow) {
  ASSERT_NO_FATAL_FAILURE(StartChild(program_));
  KeyEntries keys;
  keys.Add(L"ptime", L"abc");
  const int64_t before = Seconds(base::Time::Now());
  CrashReportFields fields;
  CollectClientCrashFields(child_.Handle(), *keys.Parse(), &fields);
  const int64_t after = Seconds(base::Time::Now());

  EXPECT_EQ(Seconds(started_), NumberField(fields, "StartupTime"));
  EXPECT_GE(NumberField(fields, "CrashTime"), before);
  EXPECT_LE(NumberField(fields, "CrashTime"), after);
  EXPECT_EQ("KavorDesktop", Field(fields, "prod"));
  EXPECT_EQ("browser-syms", Field(fields, "symbols-package"));
}

TEST_F(CrashFieldsTest, TestProgramsGetTheTestSymbols) {
  const base::FilePath copy = temp_.GetPath().Append(L"kavor_browsertests.exe");
  ASSERT_TRUE(base::CopyFile(program_, copy));
  ASSERT_NO_FATAL_FAILURE(StartChild(copy));
  CrashReportFields fields;
  CollectClientCrashFields(child_.Handle(), *KeyEntries().Parse(), &fields);
  EXPECT_EQ("tests-syms", Field(fields, "symbols-package"));
}

TEST_F(CrashFieldsTest, WithoutAProcessTheUptimeCountsBackFromNow) {
  KeyEntries keys;
  keys.Add(L"ptime", L"60000");
  const int64_t before = Seconds(base::Time::Now());
  CrashReportFields fields;
  CollectClientCrashFields(nullptr, *keys.Parse(), &fields);
  const int64_t after = Seconds(base::Time::Now());

  const int64_t crash = NumberField(fields, "CrashTime");
  EXPECT_GE(crash, before);
  EXPECT_LE(crash, after);
  EXPECT_NEAR(crash - 60, NumberField(fields, "StartupTime"), 1);
  EXPECT_FALSE(fields.Has("InstallTime"));
  EXPECT_FALSE(fields.Has("symbols-package"));
  ExpectMemoryFields(fields, false);

  // An invalid handle is no process either (its value is also that of
  // this process's pseudo handle).
  CrashReportFields invalid;
  CollectClientCrashFields(INVALID_HANDLE_VALUE, *keys.Parse(), &invalid);
  EXPECT_NEAR(NumberField(invalid, "CrashTime") - 60,
              NumberField(invalid, "StartupTime"), 1);
  EXPECT_FALSE(invalid.Has("InstallTime"));
  ExpectMemoryFields(invalid, false);

  // An uptime beyond any clock saturates instead of wrapping around.
  KeyEntries huge;
  huge.Add(L"ptime", L"9223372036854775807");
  CrashReportFields saturated;
  CollectClientCrashFields(nullptr, *huge.Parse(), &saturated);
  EXPECT_LT(NumberField(saturated, "StartupTime"), 0);
}

TEST_F(CrashFieldsTest, ReporterCrashesSayWhoCrashed) {
  ASSERT_NO_FATAL_FAILURE(StartChild(program_));
  {
    ScopedVariable email("KAVOR_CRASH_EMAIL", "tester@example.org");
    CrashReportFields fields;
    CollectReporterCrashFields(child_.Pid(), &fields);
    EXPECT_EQ("tester@example.org", Field(fields, "Email"));
    EXPECT_EQ("crash_reporter", Field(fields, "ptype"));
    EXPECT_EQ(Seconds(started_), NumberField(fields, "StartupTime"));
    EXPECT_EQ(Seconds(installed_), NumberField(fields, "InstallTime"));
    EXPECT_EQ("KavorDesktop", Field(fields, "prod"));
    EXPECT_EQ("browser-syms", Field(fields, "symbols-package"));
    ExpectMemoryFields(fields, true);
  }
  ScopedVariable empty("KAVOR_CRASH_EMAIL", "");
  CrashReportFields fields;
  CollectReporterCrashFields(child_.Pid(), &fields);
  EXPECT_FALSE(fields.Has("Email"));
}

// --- Uploads to a loopback crash service.

class CrashUploadTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    ASSERT_TRUE(server_.Start());
    SetUrl("/submit");
    dump_bytes_ = "MDMP" + base::LoopbackHttpServer::Bytes(100000, 7);
    dump_path_ = temp_.GetPath().Append(L"kavor-crashlog-1-1.dmp");
    ASSERT_EQ(static_cast<int>(dump_bytes_.size()),
              base::WriteFile(dump_path_, dump_bytes_.data(),
                              static_cast<int>(dump_bytes_.size())));
    PendingWorkCounter::GetInstance()->ResetForTesting();
  }
  void TearDown() override {
    PendingWorkCounter::GetInstance()->ResetForTesting();
  }

  void SetUrl(const std::string& target) {
    ScopedVariable url("KAVOR_ALTERNATIVE_CRASH_SERVER_URL",
                       base::WideToUTF8(server_.Url(target)).c_str());
    InitCrashUploadUrl();
  }

  std::unique_ptr<CrashReportFields> SomeFields() {
    auto fields = std::make_unique<CrashReportFields>();
    fields->SetText("prod", "KavorDesktop");
    fields->SetText("ptype", "installer");
    fields->SetText("note", "caf\xc3\xa9");
    return fields;
  }

  // The one request to |target|, taken apart.
  ReceivedUpload OnlyUpload(const std::string& target = "/submit") {
    auto requests = server_.RequestsFor(target);
    EXPECT_EQ(1u, requests.size());
    if (requests.empty())
      return ReceivedUpload();
    EXPECT_EQ("POST", requests[0].method);
    return test::ParseRequest(requests[0]);
  }

  void ExpectSomeFieldsAndTheDump(const ReceivedUpload& upload) {
    EXPECT_TRUE(upload.well_formed);
    EXPECT_EQ("KavorDesktop", upload.Field("prod"));
    EXPECT_EQ("installer", upload.Field("ptype"));
    EXPECT_EQ("caf\xc3\xa9", upload.Field("note"));
    EXPECT_EQ(3u, upload.fields.size());
    EXPECT_TRUE(upload.has_dump);
    EXPECT_EQ("kavor-crashlog-1-1.dmp", upload.dump_file_name);
    EXPECT_TRUE(upload.dump == dump_bytes_) << upload.dump.size();
  }

  ScopedTestProduct product_;
  // The loopback service needs its body with a length.
  ScopedVariable with_length_{"KAVOR_CRASH_UPLOAD_WITH_LENGTH", "1"};
  base::ScopedTempDir temp_;
  base::LoopbackHttpServer server_;
  std::string dump_bytes_;
  base::FilePath dump_path_;
};

TEST_F(CrashUploadTest, SendsFieldsAndDumpAndDeletesTheDump) {
  server_.Serve("/submit", 200, "id=1");
  EXPECT_TRUE(UploadCrashReport(dump_path_, SomeFields(), false));
  EXPECT_FALSE(base::PathExists(dump_path_));
  auto requests = server_.RequestsFor("/submit");
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("", requests[0].Header("Content-Encoding"));
  // Measured: the length sent is the length of the body.
  EXPECT_EQ(base::Uint64ToString(requests[0].body.size()),
            requests[0].Header("Content-Length"));
  ExpectSomeFieldsAndTheDump(test::ParseRequest(requests[0]));
}

TEST_F(CrashUploadTest, GzippedBodyIsMeasuredAsItIsSent) {
  server_.Serve("/submit", 200, "id=1");
  EXPECT_TRUE(UploadCrashReport(dump_path_, SomeFields(), true));
  auto requests = server_.RequestsFor("/submit");
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("gzip", requests[0].Header("Content-Encoding"));
  EXPECT_EQ(base::Uint64ToString(requests[0].body.size()),
            requests[0].Header("Content-Length"));
  // The second pass made the same bytes as the measured one: the body
  // inflates whole, with the boundary of the header.
  ExpectSomeFieldsAndTheDump(test::ParseRequest(requests[0]));
}

TEST_F(CrashUploadTest, OnlyA200IsSuccessAndTheDumpGoesEitherWay) {
  server_.Serve("/submit", 500, "busy");
  EXPECT_FALSE(UploadCrashReport(dump_path_, SomeFields(), false));
  EXPECT_FALSE(base::PathExists(dump_path_));
  EXPECT_EQ(1u, server_.RequestsFor("/submit").size());

  // 204 is no acceptance of the report either.
  ASSERT_EQ(4, base::WriteFile(dump_path_, "MDMP", 4));
  server_.Serve("/submit", 204, "");
  EXPECT_FALSE(UploadCrashReport(dump_path_, SomeFields(), false));

  // No dump: nothing is sent.
  EXPECT_FALSE(UploadCrashReport(temp_.GetPath().Append(L"missing.dmp"),
                                 SomeFields(), false));
  EXPECT_EQ(2u, server_.RequestsFor("/submit").size());
}

TEST_F(CrashUploadTest, DefaultRoadDeliversTheReport) {
  // No setting asks for the length: the body goes in chunks where WinHTTP
  // can send them, else again with its length. Either way the service gets
  // the whole report once.
  ScopedVariable chunked("KAVOR_CRASH_UPLOAD_WITH_LENGTH", nullptr);
  server_.Serve("/submit", 200, "id=1");
  EXPECT_TRUE(UploadCrashReport(dump_path_, SomeFields(), false));
  EXPECT_FALSE(base::PathExists(dump_path_));
  std::vector<base::LoopbackHttpServer::Request> whole;
  std::vector<base::LoopbackHttpServer::Request> empty;
  for (const auto& request : server_.RequestsFor("/submit")) {
    (request.body.empty() ? empty : whole).push_back(request);
  }
  ASSERT_EQ(1u, whole.size());
  ExpectSomeFieldsAndTheDump(test::ParseRequest(whole[0]));
  // An attempt that came without its body was one in chunks, and the
  // report then went with its length.
  for (const auto& request : empty)
    EXPECT_EQ("chunked", request.Header("Transfer-Encoding"));
  if (!empty.empty()) {
    EXPECT_EQ(base::Uint64ToString(whole[0].body.size()),
              whole[0].Header("Content-Length"));
  }
}

TEST_F(CrashUploadTest, AsyncUploadIsPendingWorkUntilDone) {
  server_.Serve("/submit", 200, "id=1");
  ASSERT_TRUE(UploadCrashReportAsync(dump_path_, SomeFields(), true));
  ASSERT_TRUE(base::WaitUntil(
      [] { return PendingWorkCounter::GetInstance()->count() == 0; },
      "the upload's release", kUploadBound));
  EXPECT_FALSE(base::PathExists(dump_path_));
  auto requests = server_.RequestsFor("/submit");
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("gzip", requests[0].Header("Content-Encoding"));
  ExpectSomeFieldsAndTheDump(test::ParseRequest(requests[0]));
}

TEST_F(CrashUploadTest, AsyncUploadKeepsTheDumpWhenAskedAndReleasesOnFailure) {
  server_.Serve("/submit", 503, "");
  ASSERT_TRUE(UploadCrashReportAsync(dump_path_, SomeFields(), false));
  ASSERT_TRUE(base::WaitUntil(
      [] { return PendingWorkCounter::GetInstance()->count() == 0; },
      "the failed upload's release", kUploadBound));
  EXPECT_EQ(1u, server_.RequestsFor("/submit").size());
  EXPECT_TRUE(base::PathExists(dump_path_));

  // A service that cannot be reached at all: released, and deleted.
  {
    base::LoopbackHttpServer gone;
    ASSERT_TRUE(gone.Start());
    ScopedVariable url("KAVOR_ALTERNATIVE_CRASH_SERVER_URL",
                       base::WideToUTF8(gone.Url("/submit")).c_str());
    InitCrashUploadUrl();
  }
  ASSERT_TRUE(UploadCrashReportAsync(dump_path_, SomeFields(), true));
  ASSERT_TRUE(base::WaitUntil(
      [] { return PendingWorkCounter::GetInstance()->count() == 0; },
      "the unreachable upload's release", kUploadBound));
  EXPECT_FALSE(base::PathExists(dump_path_));
}

TEST(CrashReportFieldsTest, FirstValueWins) {
  CrashReportFields fields;
  fields.SetText("ver", "1.0");
  fields.SetText("ver", "2.0");
  fields.SetUint32("n", 4000000000u);
  fields.SetInt64("n", -1);
  fields.SetInt64("m", -9000000000LL);
  fields.SetUint64("u", 18446744073709551615ULL);
  EXPECT_EQ("1.0", Field(fields, "ver"));
  EXPECT_EQ("4000000000", Field(fields, "n"));
  EXPECT_EQ("-9000000000", Field(fields, "m"));
  EXPECT_EQ("18446744073709551615", Field(fields, "u"));
  EXPECT_TRUE(fields.Has("m"));
  EXPECT_FALSE(fields.Has("x"));
}

}  // namespace
}  // namespace crash_reporter
