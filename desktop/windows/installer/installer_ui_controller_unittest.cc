#include "desktop/windows/installer/installer_ui_controller.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/base_paths.h"
#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/message_loop/message_loop.h"
#include "base/run_loop.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/bounded_wait.h"
#include "base/test/scoped_path_override.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/avro_stats/avro_stats_sender.h"
#include "desktop/windows/installer/common/installer_result.h"
#include "desktop/windows/installer/common/process_runner.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/os_operations_impl.h"
#include "desktop/windows/installer/package_fetcher/payload_manager.h"
#include "desktop/windows/installer/runner/main_process_installer_runner.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "desktop/windows/installer/test/fake_runner.h"
#include "desktop/windows/installer/test/fake_ui_settings.h"
#include "desktop/windows/installer/ui/progress_calculator_impl.h"
#include "desktop/windows/installer/test/window_test_util.h"
#include "desktop/windows/l10n_handler/installer_string_ids.h"
#include "desktop/windows/l10n_handler/l10n_handler.h"
#include "desktop/windows/installer/test/recording_stats_sender.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

const HWND kWizardHandle =
    reinterpret_cast<HWND>(static_cast<uintptr_t>(0x5a50));
constexpr uint32_t kOtherThreadId = 4242;

using test::RecordingStatsSender;

using test::FakeRunner;
using test::RunnerLog;

struct ShownError {
  std::wstring text;
  bool offer_full_package;
  std::optional<std::string> detail;
};

struct WindowLog {
  bool can_create = true;
  std::vector<ShownError> errors;
  std::vector<std::wstring> boxes;
  int progress_pages = 0;
  base::RepeatingClosure on_error;
};

class FakeWindow : public InstallerWindow {
 public:
  explicit FakeWindow(WindowLog* log) : log_(log) {}
  HWND GetWindowHandle() override { return kWizardHandle; }
  void ShowProgressPage() override { ++log_->progress_pages; }
  void DisplayError(const std::wstring& text,
                    bool offer_full_package,
                    const std::optional<std::string>& detail) override {
    log_->errors.push_back({text, offer_full_package, detail});
    if (log_->on_error)
      log_->on_error.Run();
  }
  // As the real box: once closed, the delegate cancels (which may delete
  // this window, so nothing follows).
  void ShowErrorMessageBox(const std::wstring& text) override {
    log_->boxes.push_back(text);
    if (delegate_)
      delegate_->Cancel();
  }
  void AddObserver(InstallerWindowDelegate* delegate) override {
    delegate_ = delegate;
  }
  void RemoveObserver(InstallerWindowDelegate*) override {
    delegate_ = nullptr;
  }

 private:
  WindowLog* const log_;
  InstallerWindowDelegate* delegate_ = nullptr;
};

class TestController : public InstallerUIController {
 public:
  using InstallerUIController::InstallerUIController;

  WindowLog* window_log = nullptr;
  bool sse2 = true;
  std::vector<std::pair<std::wstring, std::wstring>> opened;

 protected:
  std::unique_ptr<InstallerWindow> MakeWindow() override {
    if (!window_log->can_create)
      return nullptr;
    return std::make_unique<FakeWindow>(window_log);
  }
  void ShellOpen(const std::wstring& file,
                 const std::wstring& parameters) override {
    opened.emplace_back(file, parameters);
  }
  bool HasSse2() override { return sse2; }
  // A run with a payload has a fetcher whose thread never starts: the fetch
  // fails at once, without the network.
  bool StartFetcherThread(base::Thread*) override { return false; }
};

// The relaunches a controller asked for; each succeeds with |launches|.
struct LaunchLog {
  bool launches = true;
  std::vector<base::CommandLine> command_lines;
};

class FakeProcessRunner : public ProcessRunner {
 public:
  explicit FakeProcessRunner(LaunchLog* log) : log_(log) {}
  bool GetAppOutput(const base::CommandLine&, std::string*) override {
    return false;
  }
  bool Launch(const base::CommandLine& command_line,
              const base::LaunchOptions&) override {
    log_->command_lines.push_back(command_line);
    return log_->launches;
  }

 private:
  LaunchLog* const log_;
};

class FixedThreadOs : public OsOperationsImpl {
 public:
  uint32_t GetCurrentThreadId() override { return id; }
  uint32_t id = ::GetCurrentThreadId();
};

// Settings whose default folder depends on the mode, with a folder the
// user may or may not write to.
class ModeUiSettings : public test::FakeUiSettings {
 public:
  struct Details : test::FakeFolderDetails {
    using test::FakeFolderDetails::FakeFolderDetails;
    bool HasWriteAccess() const override { return writable; }
    bool writable = false;
  };

  base::FilePath GetDefaultInstallFolder(uint32_t) const override {
    return all_users ? base::FilePath(L"C:\\Program Files\\Kavor")
                     : user_default;
  }
  const InstallationFolderDetails& GetFolderDetails() const override {
    return details;
  }

  base::FilePath user_default;
  Details details{&folder};
};

class WritableFolders : public SecurityUtilsImpl {
 public:
  bool HasAccess(const base::string16&, SE_OBJECT_TYPE, uint32_t) override {
    return true;
  }
};

// The thread id a lock file holds; nullopt when it can't be read.
std::optional<uint32_t> ReadLockId(const base::FilePath& path) {
  HANDLE file =
      ::CreateFileW(path.value().c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return std::nullopt;
  uint8_t bytes[4] = {};
  DWORD read = 0;
  const bool ok = ::ReadFile(file, bytes, 4, &read, nullptr) && read == 4;
  ::CloseHandle(file);
  if (!ok)
    return std::nullopt;
  return bytes[0] | bytes[1] << 8 | bytes[2] << 16 |
         static_cast<uint32_t>(bytes[3]) << 24;
}

class InstallerUIControllerTest : public testing::Test {
 protected:
  void SetUp() override {
    // The overrides request ends at once instead of going out to the service.
    base::CommandLine::ForCurrentProcess()->AppendSwitchNative(
        "local-pref-default-overrides-server", L"no url");
    SetAvroStatsSenderForTesting(
        std::make_unique<RecordingStatsSender>(&events_));
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    temp_override_ = std::make_unique<base::ScopedPathOverride>(
        base::DIR_TEMP, temp_.GetPath());
    SetOsOperationsForTesting(&os_);
    settings_.folder = base::FilePath(L"C:\\Program Files\\Kavor");
    settings_.all_users = true;
    settings_.user_default = temp_.GetPath().Append(L"User\\Kavor");
    controller_ = MakeController();
  }
  void TearDown() override {
    controller_.reset();
    SetOsOperationsForTesting(nullptr);
    SecurityUtilsImpl::SetInstanceForTesting(nullptr);
    DisableAvroStatsSender();
    *base::CommandLine::ForCurrentProcess() = saved_command_line_;
  }

  std::unique_ptr<TestController> MakeController(
      std::unique_ptr<ProcessRunner> process_runner = nullptr) {
    auto runner = std::make_unique<FakeRunner>(&runner_log_);
    auto calculator = std::make_unique<ProgressCalculatorImpl>(
        runner.get(), &notifier_, ProgressStageWeights());
    auto controller = std::make_unique<TestController>(
        std::move(runner), std::move(calculator), &notifier_, &settings_,
        std::move(process_runner));
    controller->window_log = &window_log_;
    return controller;
  }

  base::FilePath LockPath() const {
    return temp_.GetPath().Append(kInstallerUiLockFileName);
  }

  int Start(TestController* controller, PayloadManager* payload = nullptr) {
    return controller->Start(
        payload, temp_.GetPath().Append(L"download"),
        base::BindOnce([](bool* ran) { *ran = true; }, &quit_ran_));
  }

  // Starts the controller and lets the wizard come up.
  void StartAndShow(PayloadManager* payload = nullptr) {
    ASSERT_EQ(0, Start(controller_.get(), payload));
    RunUntilIdle();
  }

  void StartAndAccept() {
    ASSERT_NO_FATAL_FAILURE(StartAndShow());
    controller_->Accept();
    RunUntilIdle();
    ASSERT_EQ(1, runner_log_.starts);
  }

  static void RunUntilIdle() {
    base::RunLoop idle;
    idle.QuitWhenIdle();
    idle.Run();
  }

  // The backend ends with |result|; waits for what follows the delay: an
  // error page or another start.
  testing::AssertionResult EndBackend(int result) {
    base::RunLoop run_loop;
    window_log_.on_error = runner_log_.on_start = run_loop.QuitClosure();
    controller_->OnBackendProcessTerminated(result);
    return base::RunWithin(&run_loop, "an error page or a restart");
  }

  ProgressStage stage() const {
    return static_cast<ProgressStage>(notifier_.GetCurrentPhase());
  }

  const base::CommandLine saved_command_line_ =
      *base::CommandLine::ForCurrentProcess();
  base::MessageLoopForUI message_loop_;
  base::ScopedTempDir temp_;
  std::unique_ptr<base::ScopedPathOverride> temp_override_;
  FixedThreadOs os_;
  std::vector<std::string> events_;
  RunnerLog runner_log_;
  WindowLog window_log_;
  InstallerProgressNotifier notifier_;
  ModeUiSettings settings_;
  bool quit_ran_ = false;
  std::unique_ptr<TestController> controller_;
};

// A window the test thread owns, as the first wizard's would be.
class ScopedTopWindow {
 public:
  ScopedTopWindow()
      : window_(::CreateWindowExW(0,
                                  L"STATIC",
                                  L"wizard",
                                  WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  10,
                                  10,
                                  200,
                                  100,
                                  nullptr,
                                  nullptr,
                                  nullptr,
                                  nullptr)) {}
  ~ScopedTopWindow() { ::DestroyWindow(window_); }
  HWND get() const { return window_; }

 private:
  HWND window_;
};

// A second wizard of the same user brings the first one's window up and
// ends with "already running"; the lock stays the first one's until it
// terminates.
TEST_F(InstallerUIControllerTest, SecondWizardActivatesTheFirst) {
  ASSERT_EQ(0, Start(controller_.get()));
  ASSERT_EQ(os_.id, ReadLockId(LockPath()).value_or(0));

  ScopedTopWindow first;
  ::ShowWindow(first.get(), SW_MINIMIZE);
  // Disabled windows are not the wizard's; this one has the focus.
  ScopedTopWindow other;
  ::SetForegroundWindow(other.get());
  ::EnableWindow(other.get(), FALSE);
  test::PumpMessages();
  ASSERT_TRUE(::IsIconic(first.get()));

  os_.id = kOtherThreadId;
  std::unique_ptr<TestController> second = MakeController();
  EXPECT_EQ(RESULT_ALREADY_RUNNING, Start(second.get()));
  test::PumpMessages();
  EXPECT_FALSE(::IsIconic(first.get()));
  EXPECT_EQ(first.get(), ::GetForegroundWindow());
  second.reset();
  RunUntilIdle();
  EXPECT_EQ(0, runner_log_.starts);
  EXPECT_TRUE(window_log_.errors.empty());
  // The refused wizard neither took nor removed the first one's lock.
  EXPECT_EQ(::GetCurrentThreadId(), ReadLockId(LockPath()).value_or(0));

  controller_->Terminate();
  EXPECT_FALSE(base::PathExists(LockPath()));
  // The next wizard starts as the only one.
  std::unique_ptr<TestController> third = MakeController();
  EXPECT_EQ(0, Start(third.get()));
  EXPECT_EQ(kOtherThreadId, ReadLockId(LockPath()).value_or(0));
}

// Only a live lock of another thread means another wizard: a file left
// behind by a wizard that died, the wizard that relaunched this one, and
// this very thread don't.
TEST_F(InstallerUIControllerTest, LockThatIsNotAnotherWizard) {
  const struct {
    const char* name;
    bool stale;
    uint32_t relaunched_by;
    uint32_t own_id;
  } kCases[] = {
      {"stale file", true, 0, kOtherThreadId},
      {"relaunching wizard", false, 777, kOtherThreadId},
      {"same thread", false, 0, 777},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    *base::CommandLine::ForCurrentProcess() = saved_command_line_;
    if (c.relaunched_by) {
      base::CommandLine::ForCurrentProcess()->AppendSwitchASCII(
          "ui-thread-id", base::UintToString(c.relaunched_by));
    }
    os_.id = 777;
    std::unique_ptr<TestController> holder = MakeController();
    if (c.stale) {
      const char bytes[] = {9, 3, 0, 0};
      ASSERT_EQ(4, base::WriteFile(LockPath(), bytes, 4));
    } else {
      ASSERT_EQ(0, Start(holder.get()));
    }
    os_.id = c.own_id;
    std::unique_ptr<TestController> wizard = MakeController();
    EXPECT_EQ(0, Start(wizard.get()));
    if (c.stale) {
      EXPECT_EQ(kOtherThreadId, ReadLockId(LockPath()).value_or(0));
    }
    wizard->Terminate();
    holder.reset();
    RunUntilIdle();
    EXPECT_FALSE(base::PathExists(LockPath()));
  }
}

TEST_F(InstallerUIControllerTest, AcceptWaitsForTheFolderStatus) {
  settings_.fetching_folder_details = true;
  ASSERT_NO_FATAL_FAILURE(StartAndShow());
  // Without a fetcher the package is there from the start.
  EXPECT_EQ(PROGRESS_STAGE_PACKAGE_READY, stage());
  controller_->Accept();
  controller_->Accept();
  RunUntilIdle();
  EXPECT_EQ(0, runner_log_.starts);
  EXPECT_EQ(0, window_log_.progress_pages);

  settings_.fetching_folder_details = false;
  settings_.NotifyPathChanged();
  RunUntilIdle();
  settings_.NotifyPathChanged();
  RunUntilIdle();
  EXPECT_EQ(1, runner_log_.starts);
  EXPECT_EQ(1, window_log_.progress_pages);
  // Accepting a ready package ran the tracking-data actions.
  EXPECT_EQ(1, runner_log_.packages_ready);
  EXPECT_EQ(PROGRESS_STAGE_TRACKING_DATA_DONE, stage());
  EXPECT_EQ(1, std::count(events_.begin(), events_.end(),
                          std::string("initial_settings_gathered")));
}

// A fetcher request (a proxy password prompt) needs the wizard: it waits
// for Accept, and every request is answered, also once the wizard is gone.
TEST_F(InstallerUIControllerTest, FetcherRequestsRunAfterAcceptOrAreCancelled) {
  std::vector<HWND> parents;
  std::vector<int> replies;
  auto request = [&](int32_t result) {
    controller_->RunUICallbackAndPostReply(
        base::BindOnce(
            [](std::vector<HWND>* parents, int32_t result, HWND parent) {
              parents->push_back(parent);
              return result;
            },
            &parents, result),
        base::ThreadTaskRunnerHandle::Get(),
        base::BindOnce(
            [](std::vector<int>* out, int32_t v) { out->push_back(v); },
            &replies));
  };
  ASSERT_NO_FATAL_FAILURE(StartAndShow());
  request(5);
  // A later request takes the earlier one's place; the earlier requester
  // is not left waiting.
  request(7);
  RunUntilIdle();
  EXPECT_TRUE(parents.empty());
  EXPECT_EQ(std::vector<int>{ERROR_CANCELLED}, replies);

  controller_->Accept();
  RunUntilIdle();
  EXPECT_EQ(std::vector<HWND>{kWizardHandle}, parents);
  EXPECT_EQ((std::vector<int>{ERROR_CANCELLED, 7}), replies);

  // While an error waits to be shown the request is kept; the wizard's end
  // answers it.
  controller_->OnError(RESULT_COPY_FAILED, L"C:\\x", "copy");
  request(9);
  controller_->Terminate();
  request(11);
  RunUntilIdle();
  EXPECT_EQ(1u, parents.size());
  EXPECT_EQ(
      (std::vector<int>{ERROR_CANCELLED, 7, ERROR_CANCELLED, ERROR_CANCELLED}),
      replies);
}

TEST_F(InstallerUIControllerTest, FetcherEventsSetStages) {
  ASSERT_NO_FATAL_FAILURE(StartAndShow());
  using Delegate = PackageFetcherDelegate;
  const struct {
    Delegate::Status status;
    ProgressStage stage;
  } kCases[] = {
      {Delegate::STATUS_WAITING_TO_RETRY, PROGRESS_STAGE_WAITING_TO_RETRY},
      {Delegate::STATUS_METADATA_REQUESTED, PROGRESS_STAGE_DOWNLOAD_ANNOUNCED},
      {Delegate::STATUS_DOWNLOADING, PROGRESS_STAGE_DOWNLOADING},
      {Delegate::STATUS_ADDITIONAL_FILES, PROGRESS_STAGE_DOWNLOAD_FINISHED},
      // Neither changes the stage.
      {Delegate::STATUS_STARTED, PROGRESS_STAGE_DOWNLOAD_FINISHED},
      {Delegate::STATUS_READY, PROGRESS_STAGE_DOWNLOAD_FINISHED},
  };
  for (const auto& c : kCases) {
    controller_->NotifyPackageFetcherStatusChanged(c.status);
    EXPECT_EQ(c.stage, stage()) << c.status;
  }
  controller_->NotifyPackageReady(temp_.GetPath());
  EXPECT_EQ(PROGRESS_STAGE_PACKAGE_READY, stage());
  // Not accepted yet: the tracking-data actions wait.
  EXPECT_EQ(0, runner_log_.packages_ready);
  controller_->OnTrackingDataActionsDone();
  EXPECT_EQ(PROGRESS_STAGE_TRACKING_DATA_DONE, stage());
}

// The page shown after the backend ended: the result's text with the path,
// or the general text for a code that has none; never a success.
TEST_F(InstallerUIControllerTest, BackendErrorIsShownAfterItEnds) {
  const struct {
    int code;  // 0: the backend reported nothing
    const wchar_t* path;
    uint32_t string_id;
    bool uninstall;
  } kCases[] = {
      {RESULT_NOT_ENOUGH_DISK_SPACE, L"D:", IDS_NOT_ENOUGH_SPACE, false},
      {RESULT_MUTEX_CREATION_FAILED, L"", IDS_INSTALLER_ALREADY_WORKING, false},
      {RESULT_REINSTALL_LAUNCH_FAILED, L"", IDS_REINSTALL_LAUNCH_FAILED, false},
      {26, L"", IDS_INSTALL_ERROR, false},
      {0, L"", IDS_INSTALL_ERROR, false},
      {0, L"", IDS_UNINSTALL_ERROR, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.code);
    *base::CommandLine::ForCurrentProcess() = saved_command_line_;
    if (c.uninstall)
      base::CommandLine::ForCurrentProcess()->AppendSwitch("uninstall");
    runner_log_ = RunnerLog();
    window_log_ = WindowLog();
    controller_ = MakeController();
    ASSERT_NO_FATAL_FAILURE(StartAndAccept());
    if (c.code)
      controller_->OnError(c.code, c.path, "detail text");
    ASSERT_TRUE(EndBackend(0));
    ASSERT_EQ(1u, window_log_.errors.size());
    const ShownError& shown = window_log_.errors[0];
    EXPECT_EQ(GetString(c.string_id, c.path), shown.text);
    EXPECT_NE(std::wstring::npos, shown.text.find(c.path));
    if (c.code) {
      EXPECT_EQ("detail text", shown.detail.value_or(""));
    }
    // Without a fetcher there is no full package to offer.
    EXPECT_FALSE(shown.offer_full_package);
    EXPECT_GE(runner_log_.stops, 1);
    EXPECT_NE(RESULT_SUCCESS, controller_->result());
    EXPECT_FALSE(controller_->terminated());
    EXPECT_TRUE(settings_.editable);
  }
}

// With a fetcher, the full package is offered from the second error on. A
// fetch failure before Accept shows nothing then; after Accept it is the
// run's error.
TEST_F(InstallerUIControllerTest, FetchFailuresAndTheFullPackageOffer) {
  PayloadManagerImpl payload(base::FilePath(L"C:\\no-such-installer.exe"));
  ASSERT_NO_FATAL_FAILURE(StartAndShow(&payload));
  // The fetch failed before the wizard came up.
  EXPECT_TRUE(window_log_.errors.empty());
  EXPECT_NE(PROGRESS_STAGE_PACKAGE_READY, stage());

  controller_->Accept();
  RunUntilIdle();
  ASSERT_EQ(1, runner_log_.starts);
  ASSERT_TRUE(EndBackend(RESULT_PROCESS_EXIT_1));
  ASSERT_EQ(1u, window_log_.errors.size());
  EXPECT_EQ(GetString(IDS_FETCH_UNPACK_ERROR), window_log_.errors[0].text);
  EXPECT_FALSE(window_log_.errors[0].offer_full_package);
  EXPECT_EQ(RESULT_PACKAGE_FETCH_FAILED, controller_->result());

  const struct {
    PackageFetcherDelegate::FailureKind kind;
    uint32_t string_id;
  } kCases[] = {
      {PackageFetcherDelegate::FAILURE_NETWORK, IDS_FETCH_NETWORK_ERROR},
      {PackageFetcherDelegate::FAILURE_LOCAL, IDS_FETCH_UNPACK_ERROR}};
  for (const auto& c : kCases) {
    const int starts = runner_log_.starts;
    const int refreshes = settings_.refresh_requests;
    controller_->Retry();
    RunUntilIdle();
    // The try waits for the folder status it asked for.
    EXPECT_EQ(refreshes + 1, settings_.refresh_requests);
    EXPECT_EQ(starts, runner_log_.starts);
    settings_.NotifyPathChanged();
    RunUntilIdle();
    ASSERT_EQ(starts + 1, runner_log_.starts);
    const int stops = runner_log_.stops;
    controller_->NotifyPackageFetcherError(c.kind, "broken", {});
    EXPECT_EQ(stops + 1, runner_log_.stops);
    const size_t shown = window_log_.errors.size();
    ASSERT_TRUE(EndBackend(RESULT_PROCESS_EXIT_1));
    ASSERT_EQ(shown + 1, window_log_.errors.size());
    EXPECT_EQ(GetString(c.string_id), window_log_.errors.back().text);
    EXPECT_EQ("Fetcher error: broken",
              window_log_.errors.back().detail.value_or(""));
    EXPECT_TRUE(window_log_.errors.back().offer_full_package);
  }
}

// Elevation refused for an all-users install goes on for the current user,
// where that can work; otherwise the error is shown.
TEST_F(InstallerUIControllerTest, RefusedElevationSwitchesToCurrentUser) {
  WritableFolders writable;
  SecurityUtilsImpl::SetInstanceForTesting(&writable);
  ASSERT_TRUE(base::CreateDirectory(settings_.user_default.DirName()));
  const base::FilePath all_users_default(L"C:\\Program Files\\Kavor");
  const base::FilePath custom(L"D:\\Apps\\Kavor");
  const struct {
    const char* name;
    InstallerOperation operation;
    base::FilePath folder;
    bool writable;
    bool switches;
    base::FilePath folder_after;
  } kCases[] = {
      {"default folder", OPERATION_INSTALL, all_users_default, false, true,
       settings_.user_default},
      {"writable folder", OPERATION_INSTALL, custom, true, true, custom},
      {"read-only folder", OPERATION_INSTALL, custom, false, false, custom},
      {"upgrade", OPERATION_UPGRADE, all_users_default, true, false,
       all_users_default},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    runner_log_ = RunnerLog();
    window_log_ = WindowLog();
    settings_.all_users = true;
    settings_.operation = c.operation;
    settings_.folder = c.folder;
    settings_.details.writable = c.writable;
    controller_ = MakeController();
    ASSERT_NO_FATAL_FAILURE(StartAndAccept());
    controller_->OnError(RESULT_ELEVATION_FAILED, L"", "refused");
    ASSERT_TRUE(EndBackend(RESULT_ELEVATION_FAILED));
    if (c.switches) {
      EXPECT_TRUE(window_log_.errors.empty());
      EXPECT_EQ((std::vector<bool>{true, false}),
                runner_log_.all_users_at_start);
    } else {
      ASSERT_EQ(1u, window_log_.errors.size());
      EXPECT_EQ(GetString(IDS_ELEVATION_FAILED), window_log_.errors[0].text);
      EXPECT_EQ(1, runner_log_.starts);
      EXPECT_TRUE(settings_.all_users);
    }
    EXPECT_EQ(c.folder_after, settings_.folder);
  }
}

TEST_F(InstallerUIControllerTest, BackendSuccessEndsTheRun) {
  ASSERT_NO_FATAL_FAILURE(StartAndAccept());
  controller_->OnSuccess();
  controller_->OnBackendProcessTerminated(0);
  RunUntilIdle();
  EXPECT_TRUE(controller_->terminated());
  EXPECT_TRUE(quit_ran_);
  EXPECT_EQ(RESULT_SUCCESS, controller_->result());
  EXPECT_TRUE(window_log_.errors.empty());
  EXPECT_FALSE(base::PathExists(LockPath()));
}

TEST_F(InstallerUIControllerTest, FullPackageAndCancelEndTheRun) {
  ASSERT_NO_FATAL_FAILURE(StartAndShow());
  controller_->ObtainFullPackage();
  ASSERT_EQ(1u, controller_->opened.size());
  const std::wstring url =
      base::UTF8ToWide(GetNamedUrl("download_full_windows")) +
      L"&product=Kavor%20developer";
  // Opened by itself, or given to the other browser.
  const auto& opened = controller_->opened[0];
  EXPECT_TRUE(opened.first == url || opened.second == url) << opened.first;
  RunUntilIdle();
  EXPECT_TRUE(quit_ran_);
  EXPECT_EQ(1, std::count(events_.begin(), events_.end(),
                          std::string("installation_cancelled")));

  for (bool flag14 : {false, true}) {
    SCOPED_TRACE(flag14);
    events_.clear();
    quit_ran_ = false;
    settings_.flag14 = flag14;
    controller_ = MakeController();
    ASSERT_NO_FATAL_FAILURE(StartAndShow());
    controller_->Cancel();
    RunUntilIdle();
    EXPECT_TRUE(quit_ran_);
    EXPECT_EQ(flag14 ? 0 : 1,
              std::count(events_.begin(), events_.end(),
                         std::string("installation_cancelled")));
    EXPECT_EQ(0, runner_log_.starts);
  }
}

// A run that asked to be started again ends with the relaunch; a relaunch
// that fails is the run's result, with its "error" event and the quitting
// event a run without relaunch sends.
TEST_F(InstallerUIControllerTest, RelaunchAtTheEndOfTheRun) {
  settings_.flag14 = true;
  for (bool launches : {true, false}) {
    SCOPED_TRACE(launches);
    events_.clear();
    quit_ran_ = false;
    LaunchLog log;
    log.launches = launches;
    controller_ = MakeController(std::make_unique<FakeProcessRunner>(&log));
    ASSERT_NO_FATAL_FAILURE(StartAndShow());
    controller_->Cancel();
    RunUntilIdle();
    EXPECT_TRUE(quit_ran_);
    ASSERT_EQ(1u, log.command_lines.size());
    const base::CommandLine& relaunch = log.command_lines[0];
    EXPECT_EQ(L"installer.exe", relaunch.GetProgram().BaseName().value());
    EXPECT_TRUE(relaunch.HasSwitch("runimmediately"));
    EXPECT_EQ(base::UintToString(os_.id),
              relaunch.GetSwitchValueASCII("ui-thread-id"));
    const auto count = [this](const char* name) {
      return std::count(events_.begin(), events_.end(), std::string(name));
    };
    EXPECT_EQ(launches ? RESULT_NOT_FINISHED : RESULT_REINSTALL_LAUNCH_FAILED,
              controller_->result());
    EXPECT_EQ(launches ? 0 : 1, count("error"));
    EXPECT_EQ(launches ? 0 : 1, count("controller_quitting"));
  }
}

// A wizard that cannot run ends, or says why, without starting the backend
// even when asked to run at once.
TEST_F(InstallerUIControllerTest, WizardThatCannotRun) {
  settings_.run_immediately = true;

  window_log_.can_create = false;
  ASSERT_EQ(0, Start(controller_.get()));
  RunUntilIdle();
  EXPECT_TRUE(controller_->terminated());
  EXPECT_TRUE(quit_ran_);
  EXPECT_EQ(RESULT_GENERAL_ERROR, controller_->result());
  EXPECT_FALSE(base::PathExists(LockPath()));

  window_log_.can_create = true;
  quit_ran_ = false;
  controller_ = MakeController();
  controller_->sse2 = false;
  ASSERT_EQ(0, Start(controller_.get()));
  RunUntilIdle();
  EXPECT_EQ(std::vector<std::wstring>{GetString(IDS_NO_SSE2)},
            window_log_.boxes);
  EXPECT_TRUE(quit_ran_);
  EXPECT_EQ(RESULT_GENERAL_ERROR, controller_->result());

  base::win::OSInfo::Record vista;
  vista.version = base::win::VISTA;
  base::win::ScopedOSInfoOverride old_windows(vista);
  controller_ = MakeController();
  ASSERT_EQ(0, Start(controller_.get()));
  RunUntilIdle();
  ASSERT_EQ(1u, window_log_.errors.size());
  EXPECT_EQ(GetString(IDS_OLD_WINDOWS, GetString(IDS_GET_FULL_INSTALLER)),
            window_log_.errors[0].text);
  EXPECT_TRUE(window_log_.errors[0].offer_full_package);
  EXPECT_FALSE(controller_->terminated());
  EXPECT_EQ(0, runner_log_.starts);
}

}  // namespace
}  // namespace installer
