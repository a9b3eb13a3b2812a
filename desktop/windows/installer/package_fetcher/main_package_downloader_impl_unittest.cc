#include "desktop/windows/installer/package_fetcher/main_package_downloader_impl.h"

#include <memory>
#include <string>
#include <vector>

#include "base/at_exit.h"
#include "base/base_paths.h"
#include "base/bind.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/test/loopback_http_server.h"
#include "base/test/scoped_path_override.h"
#include "base/test/test_task_runner.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/values.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/package_fetcher/checksum_checker.h"
#include "desktop/windows/installer/package_fetcher/package_metadata.h"
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
  void RunUICallbackAndPostReply(
      UICallback,
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

  bool Download(const std::wstring& url, const base::FilePath& folder) {
    return downloader_.Download(
        url, folder, &wininet_,
        base::BindOnce(
            [](MainPackageDownloadTest* test, bool success,
               std::vector<FetchChunkStatistics> statistics) {
              ++test->calls_;
              test->success_ = success;
              test->chunks_ = statistics.size();
            },
            this));
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
  size_t chunks_ = 0;
};

TEST_F(MainPackageDownloadTest, DownloadsEndOnceNamingTheirCause) {
  server_.Serve("/missing", 404, "gone");
  wininet_.SetMaxRetries(0);
  ASSERT_TRUE(Download(server_.Url("/missing"), folder_));
  RunUntilEnded();
  EXPECT_EQ(1, calls_);
  EXPECT_FALSE(success_);
  EXPECT_EQ(1u, chunks_);
  EXPECT_EQ(RESULT_PACKAGE_FETCH_FAILED, GetLastInstallerErrorCode());
  EXPECT_EQ(
      "Request completed with an unexpected HTTP status 404\n"
      "Main package download failed with wininet state: *4*",
      ErrorMessage());

  // Refused before anything is sent: no callback.
  EXPECT_FALSE(Download(L"not a url", folder_));
  EXPECT_EQ("Failed starting downloading the Kavor package", ErrorMessage());
  EXPECT_FALSE(Download(server_.Url("/missing"), folder_.Append(L"absent")));
  EXPECT_EQ("Failed initializing the file to use as download destination",
            ErrorMessage());

  const std::string body = base::LoopbackHttpServer::Bytes(300000);
  server_.Serve("/package", 200, body);
  // A restriction left from the metadata request does not apply.
  wininet_.SetAllowedDomains({L".example.com"});
  ASSERT_TRUE(Download(server_.Url("/package"), folder_));
  RunUntilEnded();
  EXPECT_EQ(2, calls_);
  EXPECT_TRUE(success_);
  EXPECT_TRUE(body == ReadAll(Package()));
  const std::string digest =
      Sha256Hex(reinterpret_cast<const uint8_t*>(body.data()), body.size());
  EXPECT_TRUE(downloader_.CheckChecksum(folder_, digest));
  const std::string wrong(64, '0');
  EXPECT_FALSE(downloader_.CheckChecksum(folder_, wrong));
  EXPECT_EQ(RESULT_PACKAGE_FETCH_FAILED, GetLastInstallerErrorCode());
  EXPECT_EQ("Checksum incorrect for the downloaded package, actual " + digest +
                ", expected " + wrong + ", file length 300000",
            ErrorMessage());

  ASSERT_TRUE(Download(server_.Url("/package"), folder_));
  downloader_.Cancel();
  RunUntilEnded();
  EXPECT_EQ(WininetDownloader::STATE_COMPLETED, wininet_.GetState());
  EXPECT_EQ(2, calls_);
}

// Packages signed under the test root, which is trusted meanwhile.
TEST_F(MainPackageDownloaderTest, SignatureIsCheckedOnlyBySignedInstallers) {
  base::FilePath fixtures;
  ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &fixtures));
  fixtures = fixtures.AppendASCII("signature_fixtures");
  test::ScopedTestRoot root;
  ASSERT_TRUE(root.Trust(fixtures.AppendASCII("root.cer")));
  const struct {
    const char* own_exe;
    const char* package;
    bool accepted;
  } kCases[] = {
      {"maker.exe", "package.exe", true},
      {"maker.exe", "package_other.exe", false},
      {"maker.exe", "package_unsigned.exe", false},
      // Signed, with an unsigned archive in its certificate table.
      {"maker.exe", "padded_archive.exe", false},
      {"unsigned.exe", "package_unsigned.exe", true},
      {"unsigned.exe", "package_other.exe", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.own_exe) + " " + c.package);
    base::ScopedPathOverride own(base::FILE_EXE,
                                 fixtures.AppendASCII(c.own_exe));
    ASSERT_TRUE(base::CopyFile(fixtures.AppendASCII(c.package), Package()));
    SetLastInstallerError(RESULT_SUCCESS, "");
    EXPECT_EQ(c.accepted, downloader_.CheckSignature(folder_));
    EXPECT_EQ(
        c.accepted ? "" : "Signature incorrect for the downloaded package",
        ErrorMessage());
  }
}

// Whether another file can be put in place of the package, or the package
// written: what a swap between the front end's checks and the backend's
// unpacking would do.
bool PackageCanBeSwapped(const base::FilePath& package) {
  const base::FilePath other = package.DirName().Append(L"other");
  EXPECT_EQ(5, base::WriteFile(other, "other", 5));
  base::win::ScopedHandle writer(
      ::CreateFileW(package.value().c_str(), GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  const bool written = writer.IsValid();
  writer.Close();
  const bool replaced = ::MoveFileExW(other.value().c_str(),
                                      package.value().c_str(),
                                      MOVEFILE_REPLACE_EXISTING) != 0;
  base::DeleteFile(other, false);
  return written || replaced;
}

// The package checked is held from the first check until the fetch ends,
// while the backend can still read it; a refused package is let go at once.
TEST_F(MainPackageDownloaderTest, CheckedPackageIsHeldUntilCancel) {
  const std::string body = "the package";
  ASSERT_EQ(static_cast<int>(body.size()),
            base::WriteFile(Package(), body.data(), body.size()));
  const std::string digest =
      Sha256Hex(reinterpret_cast<const uint8_t*>(body.data()), body.size());
  ASSERT_TRUE(downloader_.CheckChecksum(folder_, digest));
  EXPECT_TRUE(downloader_.CheckSignature(folder_));  // An unsigned test.
  EXPECT_FALSE(PackageCanBeSwapped(Package()));
  EXPECT_EQ(body, ReadAll(Package()));
  downloader_.Cancel();
  EXPECT_TRUE(PackageCanBeSwapped(Package()));

  EXPECT_FALSE(downloader_.CheckChecksum(folder_, digest));
  EXPECT_TRUE(PackageCanBeSwapped(Package()));
}

TEST_F(MainPackageDownloaderTest, InstallerCopyTakesTheHostsLibraryAlong) {
  const base::FilePath host = folder_.Append(L"kavor_setup.exe");
  const base::FilePath library = folder_.Append(L"KAVOR_INSTALLER.dll");
  const base::FilePath package_dir = folder_.Append(L"package");
  ASSERT_TRUE(base::CreateDirectory(package_dir));
  ASSERT_EQ(4, base::WriteFile(host, "host", 4));
  ASSERT_EQ(3, base::WriteFile(library, "lib", 3));
  const base::FilePath library_copy =
      package_dir.Append(L"kavor_installer.dll");
  base::ScopedPathOverride exe(base::FILE_EXE, host);

  // The code is the executable itself, or its library lies elsewhere (and
  // the copy finds it the same way): no library beside the copy.
  for (const base::FilePath& module :
       {host, package_dir.Append(L"lib.dll"), library}) {
    base::ScopedPathOverride own_module(base::FILE_MODULE, module);
    ASSERT_TRUE(downloader_.CopyInstallerExecutable(package_dir));
    EXPECT_EQ("host", ReadAll(package_dir.Append(L"installer.exe")));
    EXPECT_EQ(module == library, base::PathExists(library_copy));
  }
  EXPECT_EQ("lib", ReadAll(library_copy));

  EXPECT_FALSE(downloader_.CopyInstallerExecutable(folder_.Append(L"absent")));
  EXPECT_EQ(RESULT_PACKAGE_FETCH_FAILED, GetLastInstallerErrorCode());
  EXPECT_EQ("Unable to copy installer.exe to download dir", ErrorMessage());
}

// The preferences store writes on the shared pool, which needs a message
// loop.
TEST_F(MainPackageDownloaderTest, SmallFilesAreWrittenOnlyWhenDue) {
  base::MessageLoop loop;
  base::AtExitManager exit_manager;
  downloader_.WriteServerTrackingData(folder_, "");
  EXPECT_FALSE(base::PathExists(folder_.Append(L"server_tracking_data")));
  downloader_.WriteServerTrackingData(folder_, "utm_source=test");
  EXPECT_EQ("utm_source=test",
            ReadAll(folder_.Append(L"server_tracking_data")));

  EXPECT_TRUE(downloader_.WriteReadyMarker(folder_));
  EXPECT_EQ("", ReadAll(folder_.Append(L"ready")));
  EXPECT_FALSE(downloader_.WriteReadyMarker(folder_.Append(L"absent")));
  EXPECT_EQ(RESULT_PACKAGE_FETCH_FAILED, GetLastInstallerErrorCode());
  EXPECT_EQ("Cannot write the package ready marker.", ErrorMessage());

  const base::FilePath prefs = folder_.Append(L"installer_prefs_include.json");
  PackageMetadata metadata;
  downloader_.WriteWelcomeUrl(metadata, folder_);
  metadata.reply = std::make_unique<base::DictionaryValue>();
  metadata.reply->SetInteger("url_welcome", 5);
  downloader_.WriteWelcomeUrl(metadata, folder_);
  EXPECT_FALSE(base::PathExists(prefs));
  metadata.reply->SetString("url_welcome", "https://welcome.example/first");
  downloader_.WriteWelcomeUrl(metadata, folder_);
  // On disk when the call returns, as the backend may read it at once.
  EXPECT_EQ("{\"welcome-url\":\"https://welcome.example/first\"}",
            ReadAll(prefs));
}

}  // namespace
}  // namespace installer
