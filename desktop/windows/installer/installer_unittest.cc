#include "desktop/windows/installer/installer.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/base_paths.h"
#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/location.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/run_loop.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/time/time.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/installer_observer.h"
#include "desktop/windows/installer/interprocess_state.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/test/fake_settings.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

const wchar_t kVersionFolder[] = L"47.0.4127.0";
const wchar_t kLastPathValue[] = L"Last developer Install Path";
const wchar_t kLastPathX64Value[] = L"Last developer Install Path x64";

// Counts what the run asks of it; Run ends the steps with |steps_succeed|
// unless |hold| keeps them running.
class FakeScheduler : public InstallerStepScheduler {
 public:
  struct State {
    int schedules = 0;
    bool schedule_result = true;
    bool hold = false;
    bool steps_succeed = true;
    InstallationStatus status_at_schedule;
  };
  explicit FakeScheduler(State* state) : state_(state) {}

  bool Schedule(InstallerStepContext* context,
                base::string16*,
                uint32_t* step_count) override {
    ++state_->schedules;
    state_->status_at_schedule = *context->GetStatusUnderConstruction();
    *step_count = 3;
    return state_->schedule_result ||
           SetLastInstallerError(RESULT_GENERAL_ERROR, "no steps");
  }
  void Run(base::scoped_refptr<base::TaskRunner> runner,
           InstallerStepSchedulerDelegate* delegate) override {
    if (state_->hold)
      return;
    runner->PostTask(FROM_HERE,
                     base::BindOnce(&InstallerStepSchedulerDelegate::
                                        OnAllStepsDone,
                                    base::Unretained(delegate),
                                    state_->steps_succeed));
  }

 private:
  State* const state_;
};

class FakeInterprocessState : public InterprocessState {
 public:
  base::FilePath package_dir;
  bool package_dir_known = false;
  bool autoupdate = false;
  bool silent = false;

  void AppendToCommandLine(base::CommandLine*) override {}
  base::FilePath GetPackageDir() override { return package_dir; }
  std::string GetSessionGuid() override { return std::string(); }
  bool IsAutoupdate() override { return autoupdate; }
  bool IsSilent() override { return silent; }
  bool IsUninstall() override { return false; }
  bool IsInsidePackage() override { return false; }
  bool IsOutsidePackage() override { return false; }
  void SetPackageDirPrefix(const base::FilePath&) override {}
  void SetPackageDir(const base::FilePath&) override {}
  bool IsPackageDirKnown() override { return package_dir_known; }
  bool IsFixDownloadableResources() override { return false; }
  uint32_t GetUiThreadId() override { return 0xFFFFFFFF; }
  TrackingDataDictionary* GetTrackingData() override { return nullptr; }
};

class FakeSecurity : public SecurityUtils {
 public:
  bool admin = false;
  bool linked_admin = false;
  // The only object the user has no access to.
  base::FilePath denied;
  bool grant_succeeds = false;
  int restores = 0;

  bool IsUserAdmin(bool linked) override {
    return admin || (linked && linked_admin);
  }
  bool HasAccess(const base::string16& name,
                 SE_OBJECT_TYPE,
                 uint32_t) override {
    return name != denied.value();
  }
  bool NeedsElevation(bool, bool) override { return false; }
  bool SetPrivilege(const base::string16&, bool) override { return true; }
  bool GrantAccess(const base::string16& name,
                   SE_OBJECT_TYPE type,
                   uint32_t,
                   bool,
                   std::unique_ptr<SavedSecurityDescriptor>* saved) override {
    if (name != denied.value())
      return true;
    if (grant_succeeds) {
      *saved = std::make_unique<SavedSecurityDescriptor>(name, type, nullptr,
                                                         nullptr);
    }
    return grant_succeeds;
  }
  bool RestoreSecurity(
      std::unique_ptr<SavedSecurityDescriptor>* saved) override {
    if ((*saved)->object_name() == denied.value())
      ++restores;
    saved->reset();
    return true;
  }
};

// Folder details of a writable folder that does not exist yet, with an
// optional existing installation.
class Details : public test::FakeFolderDetails {
 public:
  explicit Details(const base::FilePath* path) : FakeFolderDetails(path) {}
  std::unique_ptr<InstallationStatus> status;

  const InstallationStatus* GetInstallationStatus() const override {
    return status.get();
  }
  bool HasExistingInstallation() const override { return !!status; }
  bool HasWriteAccess() const override { return true; }
};

class Settings : public test::FakeSettings {
 public:
  bool all_users = false;
  Details details{&folder};
  bool GetAllUsers() const override { return all_users; }
  const InstallationFolderDetails& GetFolderDetails() const override {
    return details;
  }
};

class Recorder : public InstallerObserver {
 public:
  explicit Recorder(base::RunLoop* loop) : loop_(loop) {}
  std::vector<std::string> events;
  int errors = 0;
  int code = -1;
  std::string message;
  base::string16 path;

  void OnInstallFolderReady() override { events.push_back("ready"); }
  void OnStartingNewMainProcess(bool) override { events.push_back("start"); }
  void OnReturnedToPreviousMainProcess() override {
    events.push_back("returned");
  }
  void OnEnteringPhase(int phase) override {
    events.push_back("phase " + base::IntToString(phase));
  }
  void OnTotalSteps(int total) override {
    events.push_back("total " + base::IntToString(total));
  }
  void OnError(int c, const base::string16& p, const std::string& m) override {
    ++errors;
    code = c;
    message = m;
    path = p;
    events.push_back("error");
  }
  void OnSuccess() override {
    events.push_back("success");
    loop_->Quit();
  }
  void OnInstallationCancelled() override {
    events.push_back("cancelled");
    loop_->Quit();
  }

 private:
  base::RunLoop* const loop_;
};

// Keeps the user's remembered install folders as they were.
class ScopedLastPathValues {
 public:
  ScopedLastPathValues() {
    base::win::RegKey key(HKEY_CURRENT_USER, GetCompanyRegistryKey().c_str(),
                          KEY_READ);
    for (int i = 0; i < 2; ++i)
      had_[i] = key.ReadStringValue(Name(i), &saved_[i]) == ERROR_SUCCESS;
  }
  ~ScopedLastPathValues() {
    base::win::RegKey key(HKEY_CURRENT_USER, GetCompanyRegistryKey().c_str(),
                          KEY_SET_VALUE);
    for (int i = 0; i < 2; ++i) {
      if (had_[i])
        (void)key.WriteStringValue(Name(i), saved_[i].c_str());
      else
        (void)key.DeleteValue(Name(i));
    }
  }
  static bool Read(std::wstring* value) {
    base::win::RegKey key(HKEY_CURRENT_USER, GetCompanyRegistryKey().c_str(),
                          KEY_READ);
    return key.ReadStringValue(kLastPathValue, value) == ERROR_SUCCESS;
  }

 private:
  static const wchar_t* Name(int i) {
    return i ? kLastPathX64Value : kLastPathValue;
  }
  bool had_[2];
  std::wstring saved_[2];
};

// Runs the tasks posted so far (the run's body among them), and no more.
void RunPostedTasks() {
  base::RunLoop loop;
  base::ThreadTaskRunnerHandle::Get()->PostTask(FROM_HERE, loop.QuitClosure());
  loop.Run();
}

// Points the process's own executable somewhere else while it lives.
class ScopedExePath {
 public:
  explicit ScopedExePath(const base::FilePath& path) {
    EXPECT_TRUE(base::PathService::Get(base::FILE_EXE, &saved_));
    EXPECT_TRUE(base::PathService::OverrideAndCreateIfNeeded(
        base::FILE_EXE, path, true, false));
  }
  ~ScopedExePath() {
    EXPECT_TRUE(base::PathService::OverrideAndCreateIfNeeded(
        base::FILE_EXE, saved_, true, false));
  }

 private:
  base::FilePath saved_;
};

class InstallerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    settings_.folder = temp_.GetPath().Append(L"Kavor");
    SecurityUtilsImpl::SetInstanceForTesting(&security_);
  }
  void TearDown() override {
    installer_.reset();
    SecurityUtilsImpl::SetInstanceForTesting(nullptr);
  }

  base::win::ScopedHandle CreateEvent(const wchar_t* name) {
    const base::string16 kernel_name =
        MakeKernelObjectName(name, settings_.folder, true);
    base::win::ScopedHandle event(
        ::CreateEventW(nullptr, TRUE, FALSE, kernel_name.c_str()));
    EXPECT_TRUE(event.IsValid()) << kernel_name;
    return event;
  }
  void CreateInterruptedEvent() {
    interrupted_ = CreateEvent(L"KavorInstaller/InstallationInterrupted");
  }

  // A new installer with a new recorder; Run posted.
  void StartInstaller() {
    installer_.reset();
    loop_ = std::make_unique<base::RunLoop>();
    recorder_ = std::make_unique<Recorder>(loop_.get());
    installer_ = std::make_unique<Installer>(
        std::make_unique<FakeScheduler>(&scheduler_),
        InstallationStatusReaderFactory(), &state_, &command_line_);
    installer_->AddObserver(recorder_.get());
    ASSERT_TRUE(installer_->Run(&settings_));
  }
  // Runs the loop until the run's outcome, at most a few seconds.
  void RunUntilOutcome() {
    base::ThreadTaskRunnerHandle::Get()->PostDelayedTask(
        FROM_HERE, loop_->QuitClosure(), base::TimeDelta::FromSeconds(5));
    loop_->Run();
  }
  void RunInstaller() {
    StartInstaller();
    RunUntilOutcome();
  }
  bool Reported(const char* event) const {
    return std::find(recorder_->events.begin(), recorder_->events.end(),
                     event) != recorder_->events.end();
  }
  void ExpectOneError(int code, const std::string& message) {
    EXPECT_EQ(1, recorder_->errors);
    EXPECT_EQ(code, recorder_->code);
    EXPECT_EQ(message, recorder_->message);
    ASSERT_FALSE(recorder_->events.empty());
    EXPECT_EQ("cancelled", recorder_->events.back()) << "no outcome in time";
    EXPECT_FALSE(Reported("success"));
    EXPECT_EQ(static_cast<InstallerResult>(code), installer_->result());
  }

  base::MessageLoopForIO message_loop_;
  ScopedInstallerErrorRecord error_record_;
  base::ScopedTempDir temp_;
  ScopedLastPathValues last_path_values_;
  Settings settings_;
  FakeScheduler::State scheduler_;
  FakeInterprocessState state_;
  FakeSecurity security_;
  base::CommandLine command_line_{base::CommandLine::NO_PROGRAM};
  base::win::ScopedHandle interrupted_;
  std::unique_ptr<base::RunLoop> loop_;
  std::unique_ptr<Recorder> recorder_;
  std::unique_ptr<Installer> installer_;
};

// Runs that end before any step: one error, the folder the run created
// gone again, the step list never asked for.
TEST_F(InstallerTest, EarlyFailures) {
  CreateInterruptedEvent();
  const struct {
    const char* label;
    InstallerOperation operation;
    bool autoupdate, silent, all_users, admin, linked_admin, access;
    int code;
    const char* message;
  } kCases[] = {
      {"autoupdate install", OPERATION_INSTALL, true, false, false, true,
       false, true, 5, "Settings operation invalid for autoupdate: 1\n"},
      {"silent all users", OPERATION_INSTALL, false, true, true, false, false,
       true, 1,
       "Installation requires elevation, but cannot elevate when silent"},
      {"all users", OPERATION_INSTALL, false, false, true, false, false, true,
       8, "Elevation is not available in this build"},
      {"standard user without access", OPERATION_UPGRADE, false, false,
       false, false, false, false, 8,
       "Elevation is not available in this build"},
      {"filtered admin without access", OPERATION_INSTALL, false, false,
       false, false, true, false, 8,
       "Elevation is not available in this build"},
      {"admin without access", OPERATION_INSTALL, false, false, false, true,
       false, false, 7,
       "Could not obtain write permissions to installation folder"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    settings_.operation = c.operation;
    settings_.all_users = c.all_users;
    state_.autoupdate = c.autoupdate;
    state_.silent = c.silent;
    security_.admin = c.admin;
    security_.linked_admin = c.linked_admin;
    security_.denied = c.access ? base::FilePath() : settings_.folder;
    RunInstaller();
    ExpectOneError(c.code, c.message);
    EXPECT_EQ(0, scheduler_.schedules);
    EXPECT_FALSE(base::PathExists(settings_.folder));
  }
}

// A grant the run takes itself is given back when the run ends.
TEST_F(InstallerTest, OwnGrantIsRestoredAtTheEnd) {
  CreateInterruptedEvent();
  security_.denied = settings_.folder;
  security_.grant_succeeds = true;
  scheduler_.schedule_result = false;
  command_line_.AppendSwitchNative("install-subfolder", kVersionFolder);
  RunInstaller();
  EXPECT_EQ(1, scheduler_.schedules) << "the ladder's first step did not "
                                        "let the run go on";
  EXPECT_EQ(1, security_.restores);
}

TEST_F(InstallerTest, InterruptRollsBackWithoutError) {
  CreateInterruptedEvent();
  command_line_.AppendSwitchNative("install-subfolder", kVersionFolder);
  scheduler_.hold = true;
  StartInstaller();
  RunPostedTasks();
  ASSERT_EQ(1, scheduler_.schedules) << "the steps never started";
  EXPECT_TRUE(base::PathExists(settings_.folder));
  std::wstring remembered;
  ASSERT_TRUE(ScopedLastPathValues::Read(&remembered));
  EXPECT_EQ(settings_.folder.value() + L"\\", remembered);

  ASSERT_TRUE(::SetEvent(interrupted_.Get()));
  RunUntilOutcome();
  EXPECT_EQ("cancelled", recorder_->events.back()) << "not cancelled in time";
  EXPECT_EQ(0, recorder_->errors);
  EXPECT_EQ(RESULT_NOT_FINISHED, installer_->result());
  EXPECT_FALSE(base::PathExists(settings_.folder));
  EXPECT_FALSE(ScopedLastPathValues::Read(&remembered) &&
               remembered == settings_.folder.value() + L"\\");
}

// The package is ready before the run waits: handled in the run's own task,
// without a watch. Here the package has no installer to hand over to.
TEST_F(InstallerTest, PackageAlreadyReadyIsHandledAtOnce) {
  CreateInterruptedEvent();
  base::win::ScopedHandle ready = CreateEvent(L"KavorInstaller/PackageReady");
  ASSERT_TRUE(::SetEvent(ready.Get()));
  command_line_.AppendSwitch("wait-for-package");
  state_.package_dir = temp_.GetPath();
  StartInstaller();
  RunPostedTasks();
  const std::vector<std::string> kExpected = {"ready", "start", "returned",
                                              "error", "cancelled"};
  EXPECT_EQ(kExpected, recorder_->events);
  EXPECT_EQ(RESULT_GENERAL_ERROR, installer_->result());
  EXPECT_EQ(0u, recorder_->message.find("Failed to start installer process "
                                       "from the package folder: "))
      << recorder_->message;
}

TEST_F(InstallerTest, ProtocolHandlerRegistrationSkipsFolderAndPackage) {
  // No interrupted event exists: the run must not even look for it.
  settings_.operation = OPERATION_REGISTER_PROTOCOL_HANDLER;
  security_.denied = settings_.folder;
  command_line_.AppendSwitch("wait-for-package");
  RunInstaller();
  EXPECT_EQ(1, scheduler_.schedules);
  const std::vector<std::string> kExpected = {"success"};
  EXPECT_EQ(kExpected, recorder_->events);
  EXPECT_FALSE(base::PathExists(settings_.folder));
}

TEST_F(InstallerTest, UninstallWhileBrowserIsOpenChangesNothing) {
  CreateInterruptedEvent();
  settings_.operation = OPERATION_UNINSTALL;
  settings_.details.status = std::make_unique<InstallationStatus>();
  settings_.details.status->subfolder = base::FilePath(kVersionFolder);
  const base::FilePath version = settings_.folder.Append(kVersionFolder);
  const base::FilePath browser = version.Append(L"kavor.exe");
  ASSERT_TRUE(base::CreateDirectory(version));
  ASSERT_EQ(1, base::WriteFile(browser, "x", 1));
  // Open as a running program would be: no one may delete or move it.
  base::win::ScopedHandle open(
      ::CreateFileW(browser.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(open.IsValid());
  RunInstaller();
  ExpectOneError(9, "Can't uninstall when kavor.exe is in use");
  EXPECT_EQ(browser.value(), recorder_->path);
  EXPECT_EQ(0, scheduler_.schedules);
  base::FileEnumerator files(version, false, base::FileEnumerator::FILES);
  EXPECT_EQ(browser, files.Next());
  EXPECT_EQ(base::FilePath(), files.Next()) << "a file was left beside it";
}

TEST_F(InstallerTest, AppIdOfTheNewStatus) {
  CreateInterruptedEvent();
  command_line_.AppendSwitchNative("install-subfolder", kVersionFolder);
  scheduler_.schedule_result = false;
  const struct {
    InstallerOperation operation;
    const wchar_t* existing;
    bool kept;
  } kCases[] = {
      {OPERATION_UPGRADE, L"1234", true},
      {OPERATION_UPGRADE, L"", false},
      {OPERATION_INSTALL, L"1234", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.operation);
    settings_.operation = c.operation;
    settings_.details.status = std::make_unique<InstallationStatus>();
    settings_.details.status->app_id = c.existing;
    scheduler_.schedules = 0;
    const int64_t before = base::Time::Now().ToTimeT();
    Installer installer(std::make_unique<FakeScheduler>(&scheduler_),
                       InstallationStatusReaderFactory(), &state_,
                       &command_line_);
    ASSERT_TRUE(installer.Run(&settings_));
    RunPostedTasks();
    ASSERT_EQ(1, scheduler_.schedules) << installer.result();
    const base::string16& app_id = scheduler_.status_at_schedule.app_id;
    if (c.kept) {
      EXPECT_EQ(c.existing, app_id);
    } else {
      int64_t seconds = 0;
      ASSERT_TRUE(base::StringToInt64(app_id, &seconds)) << app_id;
      EXPECT_LE(before, seconds);
      EXPECT_GE(base::Time::Now().ToTimeT(), seconds);
    }
  }
}

// The uninstall front end starts the installed version's own installer with
// that version folder as the package: the run must see that it already runs
// from the target folder and never unpack the installation into itself.
TEST_F(InstallerTest, UninstallFromTheVersionFolderDoesNotUnpack) {
  CreateInterruptedEvent();
  settings_.operation = OPERATION_UNINSTALL;
  settings_.details.status = std::make_unique<InstallationStatus>();
  settings_.details.status->subfolder = base::FilePath(kVersionFolder);
  const base::FilePath version = settings_.folder.Append(kVersionFolder);
  ASSERT_TRUE(base::CreateDirectory(version));
  state_.package_dir = version;
  state_.package_dir_known = true;
  scheduler_.schedule_result = false;
  {
    ScopedExePath exe(version.Append(L"installer.exe"));
    RunInstaller();
  }
  EXPECT_FALSE(Reported("phase 6"));
  EXPECT_TRUE(Reported("phase 7"));
  EXPECT_EQ(1, scheduler_.schedules);
}

}  // namespace
}  // namespace installer
