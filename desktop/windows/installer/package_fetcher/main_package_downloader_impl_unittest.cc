#include "desktop/windows/installer/package_fetcher/main_package_downloader_impl.h"

#include <memory>
#include <string>
#include <vector>

#include "base/at_exit.h"
#include "base/base_paths.h"
#include "base/bind.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/json/json_reader.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/test/loopback_http_server.h"
#include "base/test/scoped_path_override.h"
#include "base/test/test_task_runner.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/values.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/package_fetcher/checksum_checker.h"
#include "desktop/windows/installer/package_fetcher/package_metadata.h"
#include "desktop/windows/installer/package_fetcher/payload_manager.h"
#include "desktop/windows/installer/test/scoped_test_root.h"
#include "desktop/windows/installer/wininet/wininet_impl.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

std::string ErrorMessage() {
  std::string message;
  GetLastInstallerError(nullptr, &message, nullptr);
  return message;
}

// The JSON reader makes every dictionary as a DictionaryValue.
std::unique_ptr<base::DictionaryValue> ParseDictionary(const std::string& json) {
  std::unique_ptr<base::Value> value = base::JSONReader::Read(json);
  if (!value || !value->is_dict())
    return nullptr;
  return std::unique_ptr<base::DictionaryValue>(
      static_cast<base::DictionaryValue*>(value.release()));
}

std::string ReadAll(const base::FilePath& path) {
  std::string data;
  EXPECT_TRUE(base::ReadFileToString(path, &data)) << path.value();
  return data;
}

class MainPackageDownloaderTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    folder_ = temp_.GetPath();
  }

  base::FilePath Package() const { return folder_.Append(L"kavor_package"); }

  ScopedInstallerErrorRecord error_record_;
  base::ScopedTempDir temp_;
  base::FilePath folder_;
  MainPackageDownloaderImpl downloader_;
};

struct NoUiRunner : UICallbackRunner {
  void RunUICallbackAndPostReply(UICallback,
                                 base::scoped_refptr<base::SingleThreadTaskRunner>,
                                 Reply) override {
    ADD_FAILURE() << "no prompt expected";
  }
};

// The real downloader against the loopback server; its reports run when
// the test runs the owner thread's runner.
class MainPackageDownloadTest : public MainPackageDownloaderTest {
 protected:
  void SetUp() override {
    MainPackageDownloaderTest::SetUp();
    ASSERT_TRUE(server_.Start());
  }

  MainPackageDownloader::DownloadCallback Callback() {
    return base::BindOnce(
        [](MainPackageDownloadTest* test, bool success,
           std::vector<FetchChunkStatistics> statistics) {
          ++test->calls_;
          test->success_ = success;
          test->statistics_ = std::move(statistics);
        },
        this);
  }

  // Runs the owner thread until the downloader has ended, moving the clock
  // over retry pauses.
  void RunUntilEnded() {
    while (true) {
      runner_->RunDueTasks();
      if (wininet_.GetState() == WininetDownloader::STATE_COMPLETED ||
          wininet_.GetState() == WininetDownloader::STATE_FAILED) {
        break;
      }
      if (runner_->pending_count() != 0)
        runner_->FastForwardBy(base::TimeDelta::FromSeconds(6));
      else if (!runner_->WaitForPost())
        return;
    }
    runner_->RunUntilIdle();
  }

  base::scoped_refptr<base::TestTaskRunner> runner_ =
      base::MakeRefCounted<base::TestTaskRunner>();
  base::ThreadTaskRunnerHandle runner_handle_{runner_};
  base::LoopbackHttpServer server_;
  NoUiRunner ui_runner_;
  WininetImpl wininet_{&ui_runner_, nullptr};
  int calls_ = 0;
  bool success_ = false;
  std::vector<FetchChunkStatistics> statistics_;
};

TEST_F(MainPackageDownloadTest, PackageIsFetchedIntoTheFolderAndChecked) {
  const std::string body = base::LoopbackHttpServer::Bytes(300000);
  server_.Serve("/package", 200, body);
  // A restriction left from the metadata request does not apply.
  wininet_.SetAllowedDomains({L".example.com"});
  ASSERT_TRUE(downloader_.Download(server_.Url("/package"), folder_, &wininet_,
                                   Callback()));
  RunUntilEnded();
  EXPECT_EQ(1, calls_);
  EXPECT_TRUE(success_);
  EXPECT_EQ(1u, statistics_.size());
  EXPECT_TRUE(body == ReadAll(Package()));

  const std::string digest = Sha256Hex(
      reinterpret_cast<const uint8_t*>(body.data()), body.size());
  EXPECT_TRUE(downloader_.CheckChecksum(folder_, digest));
  const std::string wrong(64, '0');
  EXPECT_FALSE(downloader_.CheckChecksum(folder_, wrong));
  EXPECT_EQ(RESULT_PACKAGE_FETCH_FAILED, GetLastInstallerErrorCode());
  EXPECT_EQ("Checksum incorrect for the downloaded package, actual " + digest +
                ", expected " + wrong + ", file length 300000",
            ErrorMessage());
  // A package that is not there.
  ASSERT_TRUE(base::DeleteFile(Package(), false));
  EXPECT_FALSE(downloader_.CheckChecksum(folder_, digest));
  EXPECT_EQ(0u, ErrorMessage().find("Checksum incorrect")) << ErrorMessage();
}

TEST_F(MainPackageDownloadTest, FailuresNameTheirCause) {
  server_.Serve("/missing", 404, "gone");
  wininet_.SetMaxRetries(0);
  ASSERT_TRUE(downloader_.Download(server_.Url("/missing"), folder_, &wininet_,
                                   Callback()));
  RunUntilEnded();
  EXPECT_EQ(1, calls_);
  EXPECT_FALSE(success_);
  EXPECT_EQ(1u, statistics_.size());
  EXPECT_EQ(RESULT_PACKAGE_FETCH_FAILED, GetLastInstallerErrorCode());
  EXPECT_EQ(
      "Request completed with an unexpected HTTP status 404\n"
      "Main package download failed with wininet state: *4*",
      ErrorMessage());

  // Refused before anything is sent: the callback never runs.
  EXPECT_FALSE(
      downloader_.Download(L"not a url", folder_, &wininet_, Callback()));
  EXPECT_EQ("Failed starting downloading the Kavor package", ErrorMessage());
  EXPECT_FALSE(downloader_.Download(server_.Url("/missing"),
                                    folder_.Append(L"absent"), &wininet_,
                                    Callback()));
  EXPECT_EQ("Failed initializing the file to use as download destination",
            ErrorMessage());
  runner_->RunUntilIdle();
  EXPECT_EQ(1, calls_);
}

TEST_F(MainPackageDownloadTest, CancelDropsTheReply) {
  server_.Serve("/package", 200, "data");
  ASSERT_TRUE(downloader_.Download(server_.Url("/package"), folder_, &wininet_,
                                   Callback()));
  downloader_.Cancel();
  RunUntilEnded();
  EXPECT_EQ(WininetDownloader::STATE_COMPLETED, wininet_.GetState());
  EXPECT_EQ(0, calls_);
}

// Packages signed by the test root's publishers, with that root trusted.
class MainPackageSignatureTest : public MainPackageDownloaderTest {
 protected:
  void SetUp() override {
    MainPackageDownloaderTest::SetUp();
    base::FilePath bin;
    ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &bin));
    fixtures_ = bin.AppendASCII("signature_fixtures");
    ASSERT_TRUE(root_.Trust(fixtures_.AppendASCII("root.cer")));
  }

  // Whether the package |name| passes with |own_exe| as the running
  // installer.
  bool Check(const char* own_exe, const char* name) {
    base::ScopedPathOverride own(base::FILE_EXE,
                                 fixtures_.AppendASCII(own_exe));
    EXPECT_TRUE(base::CopyFile(fixtures_.AppendASCII(name), Package()));
    SetLastInstallerError(RESULT_SUCCESS, "");
    const bool accepted = downloader_.CheckSignature(folder_);
    EXPECT_EQ(accepted ? "" : "Signature incorrect for the downloaded package",
              ErrorMessage())
        << name;
    EXPECT_EQ(accepted ? RESULT_SUCCESS : RESULT_PACKAGE_FETCH_FAILED,
              GetLastInstallerErrorCode());
    return accepted;
  }

  test::ScopedTestRoot root_;
  base::FilePath fixtures_;
};

TEST_F(MainPackageSignatureTest, SignedInstallerWantsTheMakersSignature) {
  EXPECT_TRUE(Check("maker.exe", "package.exe"));
  EXPECT_FALSE(Check("maker.exe", "package_other.exe"));
  EXPECT_FALSE(Check("maker.exe", "package_unsigned.exe"));
}

TEST_F(MainPackageSignatureTest, UnsignedInstallerTakesAnyPackage) {
  EXPECT_TRUE(Check("unsigned.exe", "package_unsigned.exe"));
  EXPECT_TRUE(Check("unsigned.exe", "package_other.exe"));
}

TEST_F(MainPackageDownloaderTest, SmallFilesAreWrittenOnlyWhenDue) {
  downloader_.WriteServerTrackingData(folder_, "");
  EXPECT_FALSE(base::PathExists(folder_.Append(L"server_tracking_data")));
  downloader_.WriteServerTrackingData(folder_, "utm_source=test");
  EXPECT_EQ("utm_source=test", ReadAll(folder_.Append(L"server_tracking_data")));

  EXPECT_TRUE(downloader_.WriteReadyMarker(folder_));
  EXPECT_EQ("", ReadAll(folder_.Append(L"ready")));
  EXPECT_FALSE(downloader_.WriteReadyMarker(folder_.Append(L"absent")));
  EXPECT_EQ(RESULT_PACKAGE_FETCH_FAILED, GetLastInstallerErrorCode());
  EXPECT_EQ("Cannot write the package ready marker.", ErrorMessage());
}

class FakePayload : public PayloadManager {
 public:
  explicit FakePayload(uint32_t type) : type_(type) {}
  uint32_t GetPayloadType() const override { return type_; }
  std::string GetPayload() const override { return "7z"; }
  bool WritePayloadToFile(const base::FilePath& path) const override {
    return base::WriteFile(path, "7z", 2) == 2;
  }
  void SetPayload(const std::string&) override {}

 private:
  const uint32_t type_;
};

TEST_F(MainPackageDownloaderTest, OnlyAFullPackagePayloadIsWritten) {
  FakePayload tracking(PAYLOAD_TRACKING_DATA);
  EXPECT_FALSE(downloader_.WritePayloadPackage(&tracking, folder_));
  EXPECT_FALSE(base::PathExists(Package()));
  FakePayload full(PAYLOAD_FULL_PACKAGE);
  EXPECT_TRUE(downloader_.WritePayloadPackage(&full, folder_));
  EXPECT_EQ("7z", ReadAll(Package()));
  EXPECT_FALSE(
      downloader_.WritePayloadPackage(&full, folder_.Append(L"absent")));
  EXPECT_EQ(RESULT_PACKAGE_FETCH_FAILED, GetLastInstallerErrorCode());
}

TEST_F(MainPackageDownloaderTest, InstallerCopyTakesTheHostsLibraryAlong) {
  const base::FilePath host_dir = folder_.Append(L"host");
  const base::FilePath other_dir = folder_.Append(L"other");
  const base::FilePath package_dir = folder_.Append(L"package");
  for (const auto& dir : {host_dir, other_dir, package_dir})
    ASSERT_TRUE(base::CreateDirectory(dir));
  const base::FilePath host = host_dir.Append(L"kavor_setup.exe");
  const base::FilePath library = host_dir.Append(L"KAVOR_INSTALLER.dll");
  ASSERT_EQ(4, base::WriteFile(host, "host", 4));
  ASSERT_EQ(3, base::WriteFile(library, "lib", 3));
  const base::FilePath copy = package_dir.Append(L"installer.exe");
  const base::FilePath library_copy = package_dir.Append(L"kavor_installer.dll");

  base::ScopedPathOverride exe(base::FILE_EXE, host);
  {
    base::ScopedPathOverride module(base::FILE_MODULE, library);
    ASSERT_TRUE(downloader_.CopyInstallerExecutable(package_dir));
    EXPECT_EQ("host", ReadAll(copy));
    EXPECT_EQ("lib", ReadAll(library_copy));
  }
  ASSERT_TRUE(base::DeleteFile(library_copy, false));
  // The code is the executable itself, or its library lies elsewhere: the
  // copy runs on its own, or finds the library the way the original did.
  for (const base::FilePath& path : {host, other_dir.Append(L"lib.dll")}) {
    base::ScopedPathOverride module(base::FILE_MODULE, path);
    ASSERT_TRUE(downloader_.CopyInstallerExecutable(package_dir));
    EXPECT_EQ("host", ReadAll(copy));
    EXPECT_FALSE(base::PathExists(library_copy));
  }

  base::ScopedPathOverride module(base::FILE_MODULE, library);
  EXPECT_FALSE(
      downloader_.CopyInstallerExecutable(folder_.Append(L"absent")));
  EXPECT_EQ(RESULT_PACKAGE_FETCH_FAILED, GetLastInstallerErrorCode());
  EXPECT_EQ("Unable to copy installer.exe to download dir", ErrorMessage());
}

// The preferences file is written on the shared pool.
class WelcomeUrlTest : public MainPackageDownloaderTest {
 protected:
  // Writes the welcome page of the reply |json|.
  void Write(const char* json) {
    PackageMetadata metadata;
    metadata.reply = ParseDictionary(json);
    ASSERT_TRUE(metadata.reply) << json;
    downloader_.WriteWelcomeUrl(metadata, folder_);
  }

  base::FilePath Prefs() const {
    return folder_.Append(L"installer_prefs_include.json");
  }

  base::MessageLoop loop_;
  base::AtExitManager exit_manager_;
};

TEST_F(WelcomeUrlTest, FileIsOnDiskWhenTheCallReturns) {
  Write("{\"url_welcome\": \"https://welcome.example/first\"}");
  // Read at once, as the backend may.
  std::unique_ptr<base::DictionaryValue> prefs =
      ParseDictionary(ReadAll(Prefs()));
  ASSERT_TRUE(prefs);
  std::string url;
  EXPECT_TRUE(prefs->GetString("welcome-url", &url));
  EXPECT_EQ("https://welcome.example/first", url);
}

TEST_F(WelcomeUrlTest, NoStringNoFile) {
  Write("{\"url_welcome\": 5}");
  Write("{\"url_welcome\": {\"a\": \"b\"}}");
  Write("{\"other\": \"x\"}");
  downloader_.WriteWelcomeUrl(PackageMetadata(), folder_);
  EXPECT_FALSE(base::PathExists(Prefs()));
}

}  // namespace
}  // namespace installer
