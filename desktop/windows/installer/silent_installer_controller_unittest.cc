#include "desktop/windows/installer/silent_installer_controller.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/synchronization/waitable_event.h"
#include "base/threading/thread.h"
#include "base/test/bounded_wait.h"
#include "base/test/loopback_http_server.h"
#include "base/test/scoped_log_lines.h"
#include "base/threading/thread_task_runner_handle.h"
#include "desktop/windows/installer/avro_stats/avro_stats_sender.h"
#include "desktop/windows/installer/common/installer_result.h"
#include "desktop/windows/installer/package_fetcher/payload_manager.h"
#include "desktop/windows/installer/runner/main_process_installer_runner.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "desktop/windows/installer/steps/downloadable_resources.h"
#include "desktop/windows/installer/test/fake_runner.h"
#include "desktop/windows/installer/test/fake_settings.h"
#include "desktop/windows/installer/test/recording_stats_sender.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using test::RecordingStatsSender;

using test::FakeRunner;
using test::RunnerLog;

struct WritableFolderDetails : test::FakeFolderDetails {
  using test::FakeFolderDetails::FakeFolderDetails;
  bool HasWriteAccess() const override { return true; }
  bool HasExistingInstallation() const override { return existing; }
  const InstallationStatus* GetInstallationStatus() const override {
    return installed ? installed
                     : test::FakeFolderDetails::GetInstallationStatus();
  }
  bool existing = false;
  const InstallationStatus* installed = nullptr;
};

// Settings that take a mode and a folder as the real ones do, without
// examining the folder.
class ModeSettings : public test::FakeSettings {
 public:
  bool all_users = true;

  InstallMode GetInstallMode() const override {
    return all_users ? INSTALL_MODE_ALL_USERS : INSTALL_MODE_CURRENT_USER;
  }
  bool GetAllUsers() const override { return all_users; }
  bool SetMode(InstallMode mode) override {
    all_users = mode == INSTALL_MODE_ALL_USERS;
    return true;
  }
  void SetInstallFolder(const base::FilePath& path) override { folder = path; }
  base::FilePath GetDefaultInstallFolder(uint32_t sources) const override {
    return base::FilePath(L"C:\\Default").Append(std::to_wstring(sources));
  }
  const InstallationFolderDetails& GetFolderDetails() const override {
    return details;
  }

  WritableFolderDetails details{&folder};
};

// Counts the fetch's starts up to its first failure, which ends the run
// instead of a retry.
class FetchWatchingController : public SilentInstallerController {
 public:
  using SilentInstallerController::SilentInstallerController;
  void NotifyPackageFetcherStatusChanged(Status status) override {
    if (status == 0)
      ++starts;
  }
  void NotifyPackageFetcherError(
      FailureKind kind,
      const std::string& description,
      const std::vector<FetchChunkStatistics>& details) override {
    errors.push_back(base::IntToString(kind) + " " + description);
    starts_at_error = starts;
    InstallerController::NotifyPackageFetcherError(kind, description, details);
    Terminate();
  }
  bool StartFetcherThread(base::Thread* thread) override {
    if (!thread_starts ||
        !SilentInstallerController::StartFetcherThread(thread)) {
      return false;
    }
    if (hold_fetcher) {
      // Everything asked of the fetcher queues behind this until the test
      // lets it go.
      thread->task_runner()->PostTask(
          FROM_HERE, base::BindOnce(
                         [](base::WaitableEvent* hold) {
                           EXPECT_TRUE(base::WaitWithin(
                               hold, "the release of the fetcher thread"));
                         },
                         hold_fetcher));
    }
    return true;
  }

  bool thread_starts = true;
  base::WaitableEvent* hold_fetcher = nullptr;
  int starts = 0;
  int starts_at_error = -1;
  std::vector<std::string> errors;
};

class StandardUser : public SecurityUtilsImpl {
 protected:
  bool GetElevationType(TOKEN_ELEVATION_TYPE* type) override {
    *type = TokenElevationTypeDefault;
    return true;
  }
  bool IsAdministratorsMember(bool) override { return false; }
};

class SilentInstallerControllerTest : public testing::Test {
 protected:
  SilentInstallerControllerTest() {
    // The overrides request ends at once instead of going out to the service.
    base::CommandLine::ForCurrentProcess()->AppendSwitchNative(
        "local-pref-default-overrides-server", L"no url");
    SecurityUtilsImpl::SetInstanceForTesting(&standard_user_);
    SetAvroStatsSenderForTesting(
        std::make_unique<RecordingStatsSender>(&events_));
    settings_.folder = base::FilePath(L"C:\\Program Files\\Kavor");
    controller_ = std::make_unique<SilentInstallerController>(
        std::make_unique<FakeRunner>(&runner_log_), &settings_);
  }
  ~SilentInstallerControllerTest() override {
    controller_.reset();
    DisableAvroStatsSender();
    SecurityUtilsImpl::SetInstanceForTesting(nullptr);
    *base::CommandLine::ForCurrentProcess() = saved_command_line_;
  }

  // Starts the controller and runs the loop until it quits; |after_start|,
  // when given, runs once the loop has nothing else to do.
  testing::AssertionResult StartAndRunUntilQuit(
      PayloadManager* payload,
      const base::FilePath& download_folder,
      void (*after_start)(SilentInstallerController*)) {
    base::RunLoop run_loop;
    const int started = controller_->Start(
        payload, download_folder,
        base::BindOnce([](base::OnceClosure quit) { std::move(quit).Run(); },
                       run_loop.QuitClosure()));
    if (started != 0)
      return testing::AssertionFailure() << "Start gave " << started;
    if (after_start) {
      // The settings are taken and the backend started first.
      base::RunLoop idle;
      idle.QuitWhenIdle();
      idle.Run();
      after_start(controller_.get());
    }
    return base::RunWithin(&run_loop, "the controller's quit");
  }

  const base::CommandLine saved_command_line_ =
      *base::CommandLine::ForCurrentProcess();
  base::MessageLoop message_loop_;
  StandardUser standard_user_;
  std::vector<std::string> events_;
  RunnerLog runner_log_;
  ModeSettings settings_;
  // Outlives the controller, whose fetcher thread may wait on it.
  base::WaitableEvent backend_started_{
      base::WaitableEvent::ResetPolicy::MANUAL,
      base::WaitableEvent::InitialState::NOT_SIGNALED};
  std::unique_ptr<SilentInstallerController> controller_;
};

TEST_F(SilentInstallerControllerTest, UiRequestIsAnsweredWithOneAndNotShown) {
  bool shown = false;
  int reply = -1;
  controller_->RunUICallbackAndPostReply(
      base::BindOnce(
          [](bool* flag, HWND) {
            *flag = true;
            return 0;
          },
          &shown),
      base::ThreadTaskRunnerHandle::Get(),
      base::BindOnce([](int* out, int32_t value) { *out = value; }, &reply));
  base::RunLoop idle;
  idle.QuitWhenIdle();
  idle.Run();
  EXPECT_FALSE(shown);
  EXPECT_EQ(1, reply);
}

// An all-users run asked for by a standard user goes ahead for the current
// user in the default folder; success and the backend's exit both end it.
TEST_F(SilentInstallerControllerTest, StandardUserRunsAndEveryEndTerminates) {
  const struct {
    const char* name;
    void (*end)(SilentInstallerController*);
    int result;
  } kEnds[] = {
      {"success", [](SilentInstallerController* c) { c->OnSuccess(); }, 0},
      // Without an outcome reported even exit code 0 is no success.
      {"backend exit",
       [](SilentInstallerController* c) { c->OnBackendProcessTerminated(0); },
       RESULT_NOT_FINISHED},
  };
  for (const auto& c : kEnds) {
    SCOPED_TRACE(c.name);
    events_.clear();
    runner_log_ = RunnerLog();
    settings_.all_users = true;
    controller_ = std::make_unique<SilentInstallerController>(
        std::make_unique<FakeRunner>(&runner_log_), &settings_);
    ASSERT_TRUE(StartAndRunUntilQuit(nullptr, base::FilePath(), c.end));
    EXPECT_EQ(c.result, controller_->result());
    EXPECT_EQ(1, runner_log_.starts);
    EXPECT_EQ(INSTALL_MODE_CURRENT_USER, runner_log_.started_mode);
    EXPECT_EQ(settings_.GetDefaultInstallFolder(DEFAULT_FOLDER_STANDARD |
                                                DEFAULT_FOLDER_REGISTRY),
              runner_log_.started_folder);

    base::ScopedLogLines lines(-2, base::logging::LOG_INFO);
    controller_->Terminate();
    EXPECT_NE(std::string::npos,
              lines.text().find("Controller already terminated"));
    EXPECT_EQ(1, runner_log_.stops);
    EXPECT_EQ(
        (std::vector<std::string>{"controller_launched", "settings_accepted",
                                  "controller_quitting"}),
        events_);
  }
}

// A runner that fails to start without saying why still fails the run: an
// empty error record must not read as success.
TEST_F(SilentInstallerControllerTest, FailedStartWithoutErrorIsAGeneralError) {
  runner_log_.start_result = RESULT_GENERAL_ERROR;
  ASSERT_TRUE(StartAndRunUntilQuit(nullptr, base::FilePath(), nullptr));
  EXPECT_EQ(1, runner_log_.starts);
  EXPECT_EQ(RESULT_GENERAL_ERROR, controller_->result());
  EXPECT_NE(events_.end(), std::find(events_.begin(), events_.end(),
                                     std::string("controller_quitting")));
}

// A service that answers the package request with nothing: the fetcher
// gives up after its retries (three, since every answer was 204) and the run
// ends with the fetch failure rather than waiting for a package.
TEST_F(SilentInstallerControllerTest, DownloadRoadEndsWithFetchFailure) {
  base::LoopbackHttpServer server;
  ASSERT_TRUE(server.Start());
  server.Serve("/package", 204, "");
  base::CommandLine::ForCurrentProcess()->AppendSwitchNative(
      "internal-package-server", server.Url("/package"));
  base::ScopedTempDir download;
  ASSERT_TRUE(download.CreateUniqueTempDir());
  PayloadManagerImpl payload(base::FilePath(L"C:\\no-such-installer.exe"));
  base::RunLoop run_loop;
  ASSERT_EQ(0, controller_->Start(
                   &payload, download.GetPath(),
                   base::BindOnce(
                       [](base::OnceClosure quit) { std::move(quit).Run(); },
                       run_loop.QuitClosure())));
  ASSERT_TRUE(base::RunWithin(&run_loop, "the controller's quit",
                              base::TimeDelta::FromSeconds(60)));
  EXPECT_EQ(RESULT_PACKAGE_FETCH_FAILED, controller_->result());
  EXPECT_EQ(3u, server.RequestsFor("/package").size());
  // Whether the settings were taken before the fetcher failed varies.
  EXPECT_EQ(1, std::count(events_.begin(), events_.end(), "error"));
  EXPECT_EQ("controller_quitting", events_.back());
  // The fetcher deleted the package folders it made when the controller
  // terminated.
  base::FileEnumerator left(
      download.GetPath(), false,
      base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES);
  EXPECT_TRUE(left.Next().empty());
}

// The overrides request goes out once, however package-ready and the
// backend's start are ordered: a second request would restart the first one's
// downloader and drop its reply.
TEST_F(SilentInstallerControllerTest, OverridesAreFetchedOnce) {
  ASSERT_TRUE(StartAndRunUntilQuit(
      nullptr, base::FilePath(), [](SilentInstallerController* c) {
        c->NotifyPackageReady(base::FilePath(L"C:\\no-such-package"));
        c->OnSuccess();
      }));
  EXPECT_EQ(1, runner_log_.starts);
  EXPECT_EQ(1, runner_log_.packages_ready);
}

TEST_F(SilentInstallerControllerTest, UnknownBackendFailureKeepsEarlierError) {
  const struct {
    int exit_result;
    int expected;
  } kCases[] = {{13, 10}, {15, 10}, {9, 9}, {0, 10}};
  for (const auto& c : kCases) {
    SilentInstallerController controller(
        std::make_unique<FakeRunner>(&runner_log_), &settings_);
    // The common handling only: the silent one would also end the run.
    controller.InstallerController::OnError(10, base::string16(), "copy");
    controller.InstallerController::OnBackendProcessTerminated(c.exit_result);
    EXPECT_EQ(c.expected, controller.result()) << c.exit_result;
  }
}

// A backend that ends without reporting an outcome (killed, crashed) failed,
// whatever its exit code says; only a reported success is one.
TEST_F(SilentInstallerControllerTest, BackendEndWithoutOutcomeIsAFailure) {
  const struct {
    int exit_result;
    bool success_reported;
    int error_reported;  // after the success, if any; 0 for none
    int expected;
  } kCases[] = {
      {0, false, 0, RESULT_NOT_FINISHED},
      {RESULT_PROCESS_EXIT_1, false, 0, RESULT_NOT_FINISHED},
      {RESULT_PROCESS_EXIT_UNKNOWN, false, 0, RESULT_NOT_FINISHED},
      {RESULT_INITIAL_PROCESS_FAILED, false, 0, RESULT_INITIAL_PROCESS_FAILED},
      {0, true, 0, 0},
      // The package's installer succeeded, the backend that ran it failed.
      {0, true, RESULT_FILE_IN_USE, RESULT_FILE_IN_USE},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message()
                 << c.exit_result << " " << c.error_reported);
    SilentInstallerController controller(
        std::make_unique<FakeRunner>(&runner_log_), &settings_);
    if (c.success_reported)
      controller.InstallerController::OnSuccess();
    if (c.error_reported) {
      controller.InstallerController::OnError(c.error_reported, L"",
                                              "failed after the hand-over");
    }
    base::ScopedLogLines lines(-2, base::logging::LOG_ERROR);
    controller.InstallerController::OnBackendProcessTerminated(c.exit_result);
    EXPECT_EQ(c.expected, controller.result());
    EXPECT_EQ(!c.success_reported,
              lines.text().find("may be left unfinished") != std::string::npos)
        << lines.text();
  }
}

// The result is settled when the controller terminates: it is the one the
// statistics report, and the loop goes on only until they are sent, while
// the stopped backend ends.
TEST_F(SilentInstallerControllerTest, ResultIsSettledAtTermination) {
  ASSERT_TRUE(StartAndRunUntilQuit(
      nullptr, base::FilePath(), [](SilentInstallerController* c) {
        c->OnError(RESULT_PACKAGE_FETCH_FAILED, L"", "no package");
      }));
  ASSERT_EQ(RESULT_PACKAGE_FETCH_FAILED, controller_->result());
  controller_->OnBackendProcessTerminated(RESULT_GENERAL_ERROR);
  controller_->OnError(RESULT_FILE_IN_USE, L"", "late");
  controller_->OnSuccess();
  EXPECT_EQ(RESULT_PACKAGE_FETCH_FAILED, controller_->result());
}

TEST_F(SilentInstallerControllerTest, FileStepsSendNoStepStatistics) {
  events_.clear();
  for (const char* step : {"copy_file_resources", "direct_unpacking",
                           "move_file", "write_installation_status"}) {
    controller_->OnStepStarting(step);
    controller_->OnStepFinished(step, 1, 1);
  }
  EXPECT_EQ((std::vector<std::string>{"installer_step_starting",
                                      "installer_step_finished"}),
            events_);
}

// A run that only fetches the additional files missing from an existing
// installation starts the fetch once, although both the start and the
// settings' arrival ask for it: each further start would delete the folder of
// the one before. The fetcher thread is held until the backend has started,
// so both asks are made before the fetch does anything, and the fetch's
// failure, which ends the run, comes only after them.
TEST_F(SilentInstallerControllerTest, FixingResourcesStartsTheFetchOnce) {
  base::LoopbackHttpServer server;
  // Unscripted: every request fails at once.
  ASSERT_TRUE(server.Start());
  base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  command_line->AppendSwitchNative("internal-package-server",
                                   server.Url("/package"));
  command_line->AppendSwitch("fix-downloadable-resources");
  // An installation that lacks all of its resources: the request names
  // every one of them.
  base::ScopedTempDir install;
  ASSERT_TRUE(install.CreateUniqueTempDir());
  InstallationStatus installed;
  installed.subfolder = base::FilePath(L"1.0");
  ASSERT_TRUE(
      base::CreateDirectory(install.GetPath().Append(installed.subfolder)));
  std::vector<std::string> all;
  const DownloadableResource* resources = GetDownloadableResources();
  for (size_t i = 0; i < kDownloadableResourceCount; ++i)
    all.push_back(DecodeResourcePath(resources[i]));
  settings_.folder = install.GetPath();
  settings_.all_users = false;
  settings_.details.existing = true;
  settings_.details.installed = &installed;
  base::ScopedTempDir download;
  ASSERT_TRUE(download.CreateUniqueTempDir());
  PayloadManagerImpl payload(base::FilePath(L"C:\\no-such-installer.exe"));
  auto controller = std::make_unique<FetchWatchingController>(
      std::make_unique<FakeRunner>(&runner_log_), &settings_);
  controller->hold_fetcher = &backend_started_;
  runner_log_.on_start = base::BindRepeating(
      &base::WaitableEvent::Signal, base::Unretained(&backend_started_));
  FetchWatchingController* watched = controller.get();
  controller_ = std::move(controller);
  ASSERT_TRUE(StartAndRunUntilQuit(&payload, download.GetPath(), nullptr));
  EXPECT_EQ(1, runner_log_.starts);
  EXPECT_EQ(1, watched->starts_at_error);
  EXPECT_EQ(RESULT_PACKAGE_FETCH_FAILED, controller_->result());
  EXPECT_EQ(1, runner_log_.stops);
  // The fetch asked for what is missing, all of it, in the table's order.
  const std::vector<base::LoopbackHttpServer::Request> requests =
      server.requests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("/package?additional_files=" + base::JoinString(all, ","),
            requests[0].target);
}

// A fetcher thread that does not start is a fetch failure, reported after
// Start as the fetcher's own are.
TEST_F(SilentInstallerControllerTest,
       FetcherThreadThatDoesNotStartFailsTheRun) {
  auto controller = std::make_unique<FetchWatchingController>(
      std::make_unique<FakeRunner>(&runner_log_), &settings_);
  controller->thread_starts = false;
  FetchWatchingController* watched = controller.get();
  controller_ = std::move(controller);
  PayloadManagerImpl payload(base::FilePath(L"C:\\no-such-installer.exe"));
  ASSERT_TRUE(
      StartAndRunUntilQuit(&payload, base::FilePath(L"C:\\tmp"), nullptr));
  EXPECT_EQ(RESULT_PACKAGE_FETCH_FAILED, controller_->result());
  EXPECT_EQ(
      std::vector<std::string>{"2 Cannot start the package fetcher thread"},
      watched->errors);
}

}  // namespace
}  // namespace installer
