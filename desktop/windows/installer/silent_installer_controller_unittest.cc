#include "desktop/windows/installer/silent_installer_controller.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/test/scoped_log_lines.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/time/time.h"
#include "desktop/windows/installer/avro_stats/avro_stats_sender.h"
#include "desktop/windows/installer/common/installer_result.h"
#include "desktop/windows/installer/package_fetcher/payload_manager.h"
#include "desktop/windows/installer/runner/main_process_installer_runner.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "desktop/windows/installer/test/fake_settings.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

void RunUntilIdle() {
  base::RunLoop loop;
  loop.QuitWhenIdle();
  loop.Run();
}

class RecordingStatsSender : public AvroStatsSender {
 public:
  explicit RecordingStatsSender(std::vector<std::string>* names)
      : names_(names) {}
  void Send(std::unique_ptr<AvroEvent> event) override {
    names_->push_back(event->name());
  }
  void SetTrafficAllowed(bool) override {}
  void SendPendingAndShutdown(base::OnceClosure done) override {
    base::ThreadTaskRunnerHandle::Get()->PostTask(FROM_HERE, std::move(done));
  }

 private:
  std::vector<std::string>* const names_;
};

struct RunnerLog {
  int starts = 0;
  int stops = 0;
  base::FilePath started_folder;
  InstallMode started_mode = INSTALL_MODE_ALL_USERS;
};

class FakeRunner : public MainProcessInstallerRunner {
 public:
  explicit FakeRunner(RunnerLog* log) : log_(log) {}
  int Start(Settings* settings) override {
    ++log_->starts;
    log_->started_folder = settings->GetInstallFolder();
    log_->started_mode = settings->GetInstallMode();
    return 0;
  }
  void SetPaths(const base::FilePath&, const base::FilePath&) override {}
  void Stop() override { ++log_->stops; }
  void OnPackageReady() override {}
  void AddObserver(InstallerObserver*) override {}
  void RemoveObserver(InstallerObserver*) override {}

 private:
  RunnerLog* const log_;
};

class WritableFolderDetails : public test::FakeFolderDetails {
 public:
  using test::FakeFolderDetails::FakeFolderDetails;
  bool HasWriteAccess() const override { return true; }
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
    return details_;
  }

 private:
  WritableFolderDetails details_{&folder};
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
  }

  int Count(const std::string& name) const {
    return static_cast<int>(std::count(events_.begin(), events_.end(), name));
  }

  // Runs the loop until the controller quits it; false after |seconds|.
  bool RunUntilQuit(int seconds) {
    base::RunLoop run_loop;
    bool quit_by_controller = true;
    base::ThreadTaskRunnerHandle::Get()->PostDelayedTask(
        FROM_HERE,
        base::BindOnce(
            [](bool* flag, base::RunLoop* loop) {
              *flag = false;
              loop->Quit();
            },
            &quit_by_controller, &run_loop),
        base::TimeDelta::FromSeconds(seconds));
    quit_ = run_loop.QuitClosure();
    run_loop.Run();
    return quit_by_controller;
  }

  base::MessageLoop message_loop_;
  StandardUser standard_user_;
  std::vector<std::string> events_;
  RunnerLog runner_log_;
  ModeSettings settings_;
  std::unique_ptr<SilentInstallerController> controller_;
  base::RepeatingClosure quit_;
};

TEST_F(SilentInstallerControllerTest,
       AllUsersByStandardUserBecomesCurrentUserInDefaultFolder) {
  ASSERT_EQ(
      0, controller_->Start(nullptr, base::FilePath(), base::BindOnce([] {})));
  RunUntilIdle();
  EXPECT_EQ(1, runner_log_.starts);
  EXPECT_EQ(INSTALL_MODE_CURRENT_USER, runner_log_.started_mode);
  EXPECT_EQ(settings_.GetDefaultInstallFolder(DEFAULT_FOLDER_STANDARD |
                                              DEFAULT_FOLDER_REGISTRY),
            runner_log_.started_folder);
  EXPECT_EQ(1, Count("controller_launched"));
  EXPECT_EQ(1, Count("settings_accepted"));
}

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
  RunUntilIdle();
  EXPECT_FALSE(shown);
  EXPECT_EQ(1, reply);
}

TEST_F(SilentInstallerControllerTest, EveryEndTerminatesOnce) {
  const struct {
    const char* name;
    void (*end)(SilentInstallerController*);
  } kEnds[] = {
      {"success", [](SilentInstallerController* c) { c->OnSuccess(); }},
      {"backend exit",
       [](SilentInstallerController* c) { c->OnBackendProcessTerminated(0); }},
  };
  for (const auto& c : kEnds) {
    SCOPED_TRACE(c.name);
    events_.clear();
    runner_log_ = RunnerLog();
    controller_ = std::make_unique<SilentInstallerController>(
        std::make_unique<FakeRunner>(&runner_log_), &settings_);
    ASSERT_EQ(
        0, controller_->Start(
               nullptr, base::FilePath(),
               base::BindOnce([](base::RepeatingClosure* quit) { quit->Run(); },
                              &quit_)));
    c.end(controller_.get());
    ASSERT_TRUE(RunUntilQuit(5)) << "controller did not quit the loop";
    EXPECT_EQ(0, controller_->result());

    base::ScopedLogLines lines(-2, base::logging::LOG_INFO);
    controller_->Terminate();
    EXPECT_NE(std::string::npos,
              lines.text().find("Controller already terminated"));
    EXPECT_EQ(1, runner_log_.stops);
    EXPECT_EQ(1, Count("controller_quitting"));
  }
}

TEST_F(SilentInstallerControllerTest, DownloadRoadEndsWithFetchFailure) {
  PayloadManagerImpl payload(base::FilePath(L"C:\\no-such-installer.exe"));
  ASSERT_EQ(
      0, controller_->Start(
             &payload, base::FilePath(L"C:\\no-such-download"),
             base::BindOnce([](base::RepeatingClosure* quit) { quit->Run(); },
                            &quit_)));
  ASSERT_TRUE(RunUntilQuit(5)) << "controller did not quit the loop";
  EXPECT_EQ(RESULT_PACKAGE_FETCH_FAILED, controller_->result());
  EXPECT_EQ(1, Count("error"));
}

TEST_F(SilentInstallerControllerTest, UnknownBackendFailureKeepsEarlierError) {
  const struct {
    int exit_result;
    int expected;
  } kCases[] = {{13, 10}, {15, 10}, {9, 9}, {0, 0}};
  for (const auto& c : kCases) {
    SilentInstallerController controller(
        std::make_unique<FakeRunner>(&runner_log_), &settings_);
    // The common handling only: the silent one would also end the run.
    controller.InstallerController::OnError(10, base::string16(), "copy");
    controller.InstallerController::OnBackendProcessTerminated(c.exit_result);
    EXPECT_EQ(c.expected, controller.result()) << c.exit_result;
  }
}

TEST_F(SilentInstallerControllerTest, FileStepsSendNoStepStatistics) {
  const struct {
    const char* step;
    int events;
  } kCases[] = {{"copy_file_resources", 0},
                {"direct_unpacking", 0},
                {"move_file", 0},
                {"write_installation_status", 2}};
  for (const auto& c : kCases) {
    events_.clear();
    controller_->OnStepStarting(c.step);
    controller_->OnStepFinished(c.step, 1, 1);
    EXPECT_EQ(c.events, static_cast<int>(events_.size())) << c.step;
  }
}

}  // namespace
}  // namespace installer
