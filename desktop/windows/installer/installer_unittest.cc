#include "desktop/windows/installer/installer.h"

#include <windows.h>
#include <string.h>
#include <tlhelp32.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/at_exit.h"
#include "base/base_paths.h"
#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/location.h"
#include "base/macros.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/run_loop.h"
#include "base/test/bounded_wait.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/time/time.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/installer_observer.h"
#include "desktop/windows/installer/installer_object_names.h"
#include "desktop/windows/installer/interprocess_state.h"
#include "desktop/windows/installer/os_operations_impl.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/json_installation_status_writer.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/test/fake_interprocess_state.h"
#include "desktop/windows/installer/test/fake_settings.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

const wchar_t kVersionFolder[] = L"47.0.4127.0";

// What the run asked of the step list. Its steps end with success at once
// unless |hold| keeps them running; the runner they were given is kept.
struct SchedulerState {
  int schedules = 0;
  bool schedule_result = true, hold = false;
  // A failed schedule fills the last-error record, else empties it.
  bool schedule_records = true;
  InstallationStatus status_at_schedule;
  base::scoped_refptr<base::TaskRunner> runner;
};

class FakeScheduler : public InstallerStepScheduler {
 public:
  explicit FakeScheduler(SchedulerState* state) : state_(state) {}
  bool Schedule(InstallerStepContext* context,
                base::string16*,
                uint32_t* step_count) override {
    ++state_->schedules;
    state_->status_at_schedule = *context->GetStatusUnderConstruction();
    *step_count = 3;
    if (state_->schedule_result)
      return true;
    // Without a record of its own it leaves an empty one.
    return state_->schedule_records
               ? SetLastInstallerError(RESULT_GENERAL_ERROR, "no steps")
               : SetLastInstallerError(RESULT_SUCCESS, "");
  }
  void Run(base::scoped_refptr<base::TaskRunner> runner,
           InstallerStepSchedulerDelegate* delegate) override {
    state_->runner = runner;
    if (!state_->hold) {
      runner->PostTask(
          FROM_HERE,
          base::BindOnce(&InstallerStepSchedulerDelegate::OnAllStepsDone,
                         base::Unretained(delegate), true));
    }
  }

 private:
  SchedulerState* const state_;
};

// The user may do anything but write to |denied|; a grant on it succeeds
// only with |grant_succeeds|.
class FakeSecurity : public SecurityUtils {
 public:
  base::FilePath denied;
  bool admin = false, linked_admin = false, grant_succeeds = false;
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
    if (grant_succeeds)
      *saved = std::make_unique<SavedSecurityDescriptor>(name, type, nullptr,
                                                         nullptr);
    return grant_succeeds;
  }
  bool RestoreSecurity(
      std::unique_ptr<SavedSecurityDescriptor>* saved) override {
    restores += (*saved)->object_name() == denied.value();
    saved->reset();
    return true;
  }
};

// Plays the process the run starts elevated: the prompt refused, a copy of
// the backend that writes a status with |subfolder| (when not empty) and
// ends with |exit_code|, or a permission process that gives the grant and
// stays. Every launch's command line is kept.
class FakeOs : public OsOperationsImpl {
 public:
  // GIVE_AND_END: a permanent grant's process, which signals and ends
  // before the backend's wait starts.
  enum Action { REFUSE, EXIT, GIVE, GIVE_AND_END } action = REFUSE;
  int exit_code = 0;
  base::FilePath subfolder;
  FakeSecurity* security = nullptr;
  std::vector<base::CommandLine> launches;
  // The permission process's end of the undo event, once it gave the grant.
  base::win::ScopedHandle undo;

  // The run after elevation would write the associations into the test
  // machine's own user hive; their rows are the associations' tests' to check.
  // Only the calls are counted, and whether any was given a status.
  int stores = 0;
  bool stored_with_status = false;
  void StoreDefaultBrowserSettings(const Settings&,
                                   const InstallationStatus* status) override {
    ++stores;
    stored_with_status |= status != nullptr;
  }

  base::win::ScopedHandle RunElevated(const base::CommandLine& cl) override {
    launches.push_back(cl);
    const base::FilePath folder = cl.GetSwitchValuePath("installfolder");
    if (action == REFUSE) {
      SetLastInstallerError(RESULT_ELEVATION_FAILED, "refused");
      return base::win::ScopedHandle();
    }
    if (action == GIVE || action == GIVE_AND_END) {
      const base::FilePath granted =
          cl.GetSwitchValuePath("set-folder-permission");
      undo.Set(::OpenEventW(
          EVENT_ALL_ACCESS, FALSE,
          MakeKernelObjectName(kGivePermissionUndoEventName, granted, false)
              .c_str()));
      base::win::ScopedHandle given(::OpenEventW(
          EVENT_MODIFY_STATE, FALSE,
          MakeKernelObjectName(kGivePermissionEventName, granted, false)
              .c_str()));
      EXPECT_TRUE(undo.IsValid() && ::SetEvent(given.Get()));
      security->denied.clear();
      if (action == GIVE)
        return Duplicate(::GetCurrentProcess());
    }
    if (!subfolder.empty()) {
      InstallationStatus status;
      status.subfolder = subfolder;
      EXPECT_TRUE(base::CreateDirectory(folder));
      EXPECT_TRUE(JsonInstallationStatusWriter().WriteToFile(
          status, folder.Append(L"installation_status.json")));
    }
    base::FilePath bin;
    EXPECT_TRUE(base::PathService::Get(base::DIR_EXE, &bin));
    base::Process child = base::LaunchProcess(
        base::CommandLine({bin.Append(L"kavor_test_child.exe").value(), L"exit",
                           base::IntToString16(exit_code)}),
        base::LaunchOptions());
    int ended_with = 0;
    if (action == GIVE_AND_END) {
      EXPECT_TRUE(child.WaitForExit(&ended_with));
    }
    return Duplicate(child.Handle());
  }

 private:
  static base::win::ScopedHandle Duplicate(HANDLE process) {
    HANDLE copy = nullptr;
    ::DuplicateHandle(::GetCurrentProcess(), process, ::GetCurrentProcess(),
                      &copy, SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, 0);
    return base::win::ScopedHandle(copy);
  }
};

// A writable folder that does not exist yet, with an optional installation.
class Details : public test::FakeFolderDetails {
 public:
  explicit Details(const base::FilePath* path) : FakeFolderDetails(path) {}
  std::unique_ptr<InstallationStatus> status;
  base::FilePath profile;
  const InstallationStatus* GetInstallationStatus() const override {
    return status.get();
  }
  bool HasExistingInstallation() const override { return !!status; }
  bool HasWriteAccess() const override { return true; }
  const base::FilePath& GetProfilePath() const override { return profile; }
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

// The user's remembered folder, put back whatever a test did to it.
class ScopedLastPathValue {
 public:
  ScopedLastPathValue() { had_ = Read(&saved_); }
  ~ScopedLastPathValue() {
    base::win::RegKey key(HKEY_CURRENT_USER, GetCompanyRegistryKey().c_str(),
                          KEY_SET_VALUE);
    (void)(had_ ? key.WriteStringValue(kName, saved_.c_str())
                : key.DeleteValue(kName));
  }
  static bool Read(std::wstring* value) {
    base::win::RegKey key(HKEY_CURRENT_USER, GetCompanyRegistryKey().c_str(),
                          KEY_READ);
    return key.ReadStringValue(kName, value) == ERROR_SUCCESS;
  }

 private:
  static constexpr const wchar_t* kName = L"Last developer Install Path";
  bool had_;
  std::wstring saved_;
};

// Runs the tasks posted so far (the run's body among them), and no more.
void RunPostedTasks() {
  base::RunLoop loop;
  base::ThreadTaskRunnerHandle::Get()->PostTask(FROM_HERE, loop.QuitClosure());
  loop.Run();
}

// Records the run's events in order; an error as "error <code> <message>".
class InstallerTest : public testing::Test, public InstallerObserver {
 protected:
  void OnInstallFolderReady() override {
    events_.push_back("ready");
    if (on_ready_)
      on_ready_();
  }
  void OnStartingNewMainProcess(bool) override { events_.push_back("start"); }
  void OnReturnedToPreviousMainProcess() override {
    events_.push_back("returned");
  }
  void OnEnteringPhase(int phase) override {
    events_.push_back("phase " + base::IntToString(phase));
  }
  void OnTotalSteps(int total) override {
    events_.push_back("total " + base::IntToString(total));
    total_steps_ = total;
    finished_steps_ = 0;
  }
  void OnStepFinished(const std::string& name, int, int) override {
    if (on_last_step_finished_ && ++finished_steps_ == total_steps_)
      on_last_step_finished_(name);
  }
  void OnError(int code,
               const base::string16& path,
               const std::string& message) override {
    events_.push_back("error " + base::IntToString(code) + " " + message);
    error_path_ = path;
  }
  void OnSuccess() override {
    events_.push_back("success");
    loop_->Quit();
  }
  void OnInstallationCancelled() override {
    events_.push_back("cancelled");
    loop_->Quit();
  }

  void SetUp() override {
    ASSERT_TRUE(temp_.CreateUniqueTempDir());
    settings_.folder = temp_.GetPath().Append(L"Kavor");
    SecurityUtilsImpl::SetInstanceForTesting(&security_);
    os_.security = &security_;
    SetOsOperationsForTesting(&os_);
    interrupted_ = CreateEvent(L"KavorInstaller/InstallationInterrupted");
    // The machine's UAC policy comes from a key of the test's own; Wine's
    // says UAC is off.
    policy_path_ = L"Software\\KavorTest\\InstallerTest-" +
                   base::UintToString16(::GetCurrentProcessId());
    machine_ = std::make_unique<base::win::RegKey>(
        HKEY_CURRENT_USER, policy_path_.c_str(), KEY_ALL_ACCESS);
    // The account's full name takes the computer's name from the machine's
    // keys too.
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = arraysize(computer);
    ASSERT_TRUE(::GetComputerNameW(computer, &length));
    ASSERT_EQ(ERROR_SUCCESS,
              base::win::RegKey(machine_->Handle(),
                                L"System\\CurrentControlSet\\Control\\"
                                L"ComputerName\\ActiveComputerName",
                                KEY_SET_VALUE)
                  .WriteStringValue(L"ComputerName", computer));
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine_->Handle()));
    SetUacEnabled(true);
  }
  void TearDown() override {
    installer_.reset();
    SecurityUtilsImpl::SetInstanceForTesting(nullptr);
    SetOsOperationsForTesting(nullptr);
    ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    machine_.reset();
    ::RegDeleteTreeW(HKEY_CURRENT_USER, policy_path_.c_str());
  }
  void SetUacEnabled(bool enabled) {
    base::win::RegKey key(
        machine_->Handle(),
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
        KEY_SET_VALUE);
    const DWORD value = enabled;
    ASSERT_EQ(ERROR_SUCCESS,
              key.WriteValue(L"EnableLUA", &value, sizeof(value), REG_DWORD));
  }

  base::win::ScopedHandle CreateEvent(const wchar_t* name) {
    const base::string16 kernel_name =
        MakeKernelObjectName(name, settings_.folder, true);
    base::win::ScopedHandle event(
        ::CreateEventW(nullptr, TRUE, FALSE, kernel_name.c_str()));
    EXPECT_TRUE(event.IsValid()) << kernel_name;
    return event;
  }
  void SetExistingInstallation(const wchar_t* subfolder, const wchar_t* id) {
    settings_.details.status = std::make_unique<InstallationStatus>();
    settings_.details.status->subfolder = base::FilePath(subfolder);
    settings_.details.status->app_id = id;
  }

  // A new installer, its events recorded from now on; Run posted.
  void StartInstaller() {
    installer_.reset();
    events_.clear();
    loop_ = std::make_unique<base::RunLoop>();
    installer_ = std::make_unique<Installer>(
        std::make_unique<FakeScheduler>(&scheduler_),
        base::BindRepeating(&CreateInstallationStatusReader,
                            INSTALLATION_STATUS_PRIMARY),
        &state_, &command_line_);
    installer_->AddObserver(this);
    ASSERT_TRUE(installer_->Run(&settings_));
  }
  // Runs the loop until the run's outcome, at most a minute: a loaded
  // machine may take seconds over a run that starts processes.
  void RunUntilOutcome() {
    base::ThreadTaskRunnerHandle::Get()->PostDelayedTask(
        FROM_HERE, loop_->QuitClosure(), base::TimeDelta::FromSeconds(60));
    loop_->Run();
  }
  void RunInstaller() {
    StartInstaller();
    RunUntilOutcome();
  }
  // Exactly one error, then the cancel, and the result is the error's code.
  void ExpectOneError(int code, const std::string& message) {
    const std::vector<std::string>& events = events_;
    EXPECT_EQ(1, std::count_if(events.begin(), events.end(),
                               [](const std::string& e) {
                                 return e.find("error") == 0 || e == "success";
                               }));
    ASSERT_GE(events.size(), 2u) << "no outcome in time";
    EXPECT_EQ(
        std::vector<std::string>(
            {"error " + base::IntToString(code) + " " + message, "cancelled"}),
        std::vector<std::string>(events.end() - 2, events.end()));
    EXPECT_EQ(static_cast<InstallerResult>(code), installer_->result());
  }

  base::MessageLoopForIO message_loop_;
  // An upgrade opens the installation's preferences on the process's
  // preference pool; the pool ends with the test.
  base::AtExitManager exit_manager_;
  ScopedInstallerErrorRecord error_record_;
  base::ScopedTempDir temp_;
  ScopedLastPathValue last_path_value_;
  Settings settings_;
  SchedulerState scheduler_;
  test::FakeInterprocessState state_;
  FakeSecurity security_;
  FakeOs os_;
  std::wstring policy_path_;
  std::unique_ptr<base::win::RegKey> machine_;
  base::CommandLine command_line_{base::CommandLine::NO_PROGRAM};
  base::win::ScopedHandle interrupted_;
  std::function<void()> on_ready_;
  // Runs as the last of the steps the run announced finishes.
  std::function<void(const std::string&)> on_last_step_finished_;
  int total_steps_ = 0;
  int finished_steps_ = 0;
  std::unique_ptr<base::RunLoop> loop_;
  std::vector<std::string> events_;
  base::string16 error_path_;
  std::unique_ptr<Installer> installer_;
};

// Runs that fail before any step: one error, the folder the run created
// gone again; a grant the run took itself is given back.
TEST_F(InstallerTest, EarlyFailures) {
  const char kRefusedCopy[] =
      "refused\nCould not run the elevated installer process";
  const struct {
    const char* label;
    InstallerOperation operation;
    bool autoupdate, silent, all_users, admin, linked_admin, access, grant;
    int code;
    const char* message;
  } kCases[] = {
      // clang-format off
      {"autoupdate install", OPERATION_INSTALL, 1, 0, 0, 1, 0, 1, 0, 5,
       "Settings operation invalid for autoupdate: 1\n"},
      {"silent all users", OPERATION_INSTALL, 0, 1, 1, 0, 0, 1, 0, 1,
       "Installation requires elevation, but cannot elevate when silent"},
      {"all users", OPERATION_INSTALL, 0, 0, 1, 0, 0, 1, 0, 8, kRefusedCopy},
      {"standard user without access", OPERATION_UPGRADE, 0, 0, 0, 0, 0, 0, 0,
       8, "refused\nCould not run the elevated process for grabbing install "
       "permissions"},
      {"filtered admin without access", OPERATION_INSTALL, 0, 0, 0, 0, 1, 0, 0,
       8, kRefusedCopy},
      {"admin without access", OPERATION_INSTALL, 0, 0, 0, 1, 0, 0, 0, 7,
       "Could not obtain write permissions to installation folder"},
      {"own grant, no steps", OPERATION_INSTALL, 0, 0, 0, 0, 0, 0, 1, 1,
       "no steps"},
      // clang-format on
  };
  scheduler_.schedule_result = false;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    settings_.operation = c.operation;
    settings_.all_users = c.all_users;
    state_.autoupdate = c.autoupdate;
    state_.silent = c.silent;
    security_.admin = c.admin;
    security_.linked_admin = c.linked_admin;
    security_.denied = c.access ? base::FilePath() : settings_.folder;
    security_.grant_succeeds = c.grant;
    security_.restores = scheduler_.schedules = 0;
    RunInstaller();
    ExpectOneError(c.code, c.message);
    EXPECT_EQ(c.grant, scheduler_.schedules);
    EXPECT_EQ(c.grant, security_.restores);
    EXPECT_FALSE(base::PathExists(settings_.folder));
  }
}

// The interrupt rolls back what the run did, without an error; whatever
// the steps had posted is dropped, and a later signal changes nothing.
TEST_F(InstallerTest, InterruptRollsBackWithoutErrorAndEndsTheRun) {
  command_line_.AppendSwitchNative("install-subfolder", kVersionFolder);
  scheduler_.hold = true;
  StartInstaller();
  RunPostedTasks();
  ASSERT_TRUE(scheduler_.runner) << "the steps never started";
  EXPECT_TRUE(base::PathExists(settings_.folder));
  const std::wstring folder = settings_.folder.value() + L"\\";
  std::wstring remembered;
  ASSERT_TRUE(ScopedLastPathValue::Read(&remembered));
  EXPECT_EQ(folder, remembered);

  ASSERT_TRUE(::SetEvent(interrupted_.Get()));
  RunUntilOutcome();
  const std::vector<std::string> kExpected = {"ready", "phase 7", "total 3",
                                              "cancelled"};
  EXPECT_EQ(kExpected, events_) << "not cancelled in time";
  EXPECT_EQ(RESULT_NOT_FINISHED, installer_->result());
  EXPECT_FALSE(base::PathExists(settings_.folder));
  EXPECT_FALSE(ScopedLastPathValue::Read(&remembered) && remembered == folder);

  bool step_ran = false;
  scheduler_.runner->PostTask(
      FROM_HERE, base::BindOnce([](bool* ran) { *ran = true; }, &step_ran));
  installer_->OnObjectSignaled(interrupted_.Get());
  RunPostedTasks();
  EXPECT_FALSE(step_ran) << "a step ran after the cancel";
  EXPECT_EQ(kExpected, events_);
}

// The package is ready before the run waits: handled in the run's own task,
// without a watch. Here the package has no installer to hand over to.
TEST_F(InstallerTest, PackageAlreadyReadyIsHandledAtOnce) {
  base::win::ScopedHandle ready = CreateEvent(L"KavorInstaller/PackageReady");
  ASSERT_TRUE(::SetEvent(ready.Get()));
  command_line_.AppendSwitch("wait-for-package");
  state_.package_dir = temp_.GetPath();
  StartInstaller();
  RunPostedTasks();
  const std::vector<std::string>& events = events_;
  ASSERT_EQ(5u, events.size()) << "not handled at once";
  EXPECT_EQ("ready start returned",
            events[0] + " " + events[1] + " " + events[2]);
  EXPECT_EQ(0u, events[3].find("error 1 Failed to start installer process "
                               "from the package folder: "))
      << events[3];
  EXPECT_EQ("cancelled", events[4]);
}

// Plays the end of the package's installer the run hands over to: once it
// runs, it reports its success (sets the hand-over event) or not, and is
// then killed with |exit_code|. Under Wine a killed process ends with 0.
class PackageInstallerEnd {
 public:
  PackageInstallerEnd(const base::FilePath& folder, bool report, UINT exit_code)
      : thread_([this, folder, report, exit_code] {
          Run(folder, report, exit_code);
        }) {}
  ~PackageInstallerEnd() { Ended(); }
  // Whether the package's installer was found, could report as asked, and
  // ended.
  bool Ended() {
    if (thread_.joinable())
      thread_.join();
    return ended_;
  }

 private:
  void Run(const base::FilePath& folder, bool report, UINT exit_code) {
    base::win::ScopedHandle child;
    // Process start-up under Wine is slow on a loaded machine.
    const base::TimeTicks deadline =
        base::TimeTicks::Now() + base::TimeDelta::FromMinutes(1);
    while (!child.IsValid() && base::TimeTicks::Now() < deadline) {
      child = FindChild(L"installer.exe");
      if (!child.IsValid())
        ::Sleep(20);
    }
    if (!child.IsValid())
      return;
    bool reported = !report;
    if (report) {
      base::win::ScopedHandle event(::OpenEventW(
          EVENT_MODIFY_STATE, FALSE,
          MakeKernelObjectName(kHandOverSucceededEventName, folder, true)
              .c_str()));
      reported = event.IsValid() && ::SetEvent(event.Get());
    }
    ended_ = ::TerminateProcess(child.Get(), exit_code) && reported;
  }
  static base::win::ScopedHandle FindChild(const wchar_t* exe_name) {
    base::win::ScopedHandle snapshot(
        ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {sizeof(entry)};
    for (BOOL more = snapshot.IsValid() &&
                     ::Process32FirstW(snapshot.Get(), &entry);
         more; more = ::Process32NextW(snapshot.Get(), &entry)) {
      if (entry.th32ParentProcessID != ::GetCurrentProcessId() ||
          _wcsicmp(entry.szExeFile, exe_name) != 0) {
        continue;
      }
      // The one an earlier case ended may still be listed.
      base::win::ScopedHandle child(::OpenProcess(
          PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
      if (child.IsValid() &&
          ::WaitForSingleObject(child.Get(), 0) == WAIT_TIMEOUT) {
        return child;
      }
    }
    return base::win::ScopedHandle();
  }

  bool ended_ = false;
  std::thread thread_;
};

// The hand-over succeeds only when the package's installer reported its
// success, whatever its exit code. Without the report the run fails and
// takes back what it did itself, the install folder here.
TEST_F(InstallerTest, HandOverSucceedsOnlyWithTheReportOfSuccess) {
  const base::FilePath package = temp_.GetPath().Append(L"package");
  base::FilePath bin;
  ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &bin));
  ASSERT_TRUE(base::CreateDirectory(package));
  // Started as a backend, it waits until it is killed.
  ASSERT_TRUE(base::CopyFile(bin.Append(L"kavor_test_child.exe"),
                             package.Append(L"installer.exe")));
  state_.package_dir = package;
  command_line_.AppendSwitch("wait-for-package");
  base::win::ScopedHandle ready = CreateEvent(L"KavorInstaller/PackageReady");
  ASSERT_TRUE(::SetEvent(ready.Get()));
  const struct {
    bool report;
    UINT exit_code;
    InstallerResult result;
    const char* outcome;
  } kCases[] = {
      {false, 0, RESULT_GENERAL_ERROR,
       "error 1 The installer process ended without reporting success."},
      {false, 107, RESULT_INSUFFICIENT_PRIVILEGES,
       "error 7 Installer process did not complete successfully."},
      {true, 0, RESULT_SUCCESS, "success"},
      {true, 1, RESULT_SUCCESS, "success"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.outcome);
    base::DeleteFile(settings_.folder, true);
    PackageInstallerEnd end(settings_.folder, c.report, c.exit_code);
    StartInstaller();
    RunPostedTasks();
    EXPECT_TRUE(end.Ended()) << "the package's installer was not found or "
                                "had no event to report on";
    EXPECT_EQ(std::vector<std::string>(
                  {"ready", "start", "returned", c.outcome}),
              std::vector<std::string>(events_.begin(),
                                       events_.begin() +
                                           std::min<size_t>(4, events_.size())));
    EXPECT_EQ(c.result, installer_->result());
    EXPECT_EQ(c.report, base::PathExists(settings_.folder));
  }
}

// The package's installer tells the backend that handed over the run when
// it succeeded, and only then.
TEST_F(InstallerTest, HandedOverRunConfirmsItsSuccess) {
  base::win::ScopedHandle succeeded =
      CreateEvent(L"KavorInstaller/HandOverSucceeded");
  for (bool handed_over : {false, true}) {
    for (bool steps_succeed : {false, true}) {
      SCOPED_TRACE(std::string(handed_over ? "handed over" : "own run") +
                   (steps_succeed ? ", succeeded" : ", failed"));
      command_line_ = base::CommandLine(base::CommandLine::NO_PROGRAM);
      if (handed_over)
        command_line_.AppendSwitch("handed-over");
      scheduler_.schedule_result = steps_succeed;
      ASSERT_TRUE(::ResetEvent(succeeded.Get()));
      RunInstaller();
      ASSERT_FALSE(events_.empty());
      EXPECT_EQ(steps_succeed ? "success" : "cancelled", events_.back());
      EXPECT_EQ(handed_over && steps_succeed,
                ::WaitForSingleObject(succeeded.Get(), 0) == WAIT_OBJECT_0);
    }
  }
}

// A front end that ends while the package is being readied (here: before
// the ready event comes) gets no hand-over: the package's installer never
// starts, and the run is cancelled as interrupted.
TEST_F(InstallerTest, NoHandOverOnceTheFrontEndIsGone) {
  base::win::ScopedHandle ready = CreateEvent(L"KavorInstaller/PackageReady");
  base::win::ScopedHandle front_end(
      ::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  command_line_.AppendSwitch("wait-for-package");
  state_.package_dir = temp_.GetPath();
  StartInstaller();
  installer_->SetFrontEndProcess(front_end.Get());
  RunPostedTasks();
  EXPECT_FALSE(installer_->interrupted_with_package());
  ASSERT_TRUE(::SetEvent(front_end.Get()));
  ASSERT_TRUE(::SetEvent(ready.Get()));
  RunUntilOutcome();
  EXPECT_EQ(std::vector<std::string>({"ready", "cancelled"}), events_);
  EXPECT_TRUE(installer_->interrupted_with_package());
  EXPECT_EQ(RESULT_NOT_FINISHED, installer_->result());
}

// A front end that interrupts the run while the last of the package's files
// is copied: the unpacking has nothing left to stop and succeeds, and the
// package's installer still must not start. Both roads to the hand-over
// are taken: the package known as the run starts, and the package the front
// end makes ready.
TEST_F(InstallerTest, InterruptAsTheUnpackingEndsStartsNoInstaller) {
  const base::FilePath package = temp_.GetPath().Append(L"package");
  ASSERT_TRUE(base::CreateDirectory(package));
  const struct {
    const wchar_t* name;
    const char* text;
  } kFiles[] = {
      {L"files_list", "kavor.dll\r\n"},
      {L"root_files_list", "kavor_setup.exe\r\n"},
      {L"kavor.dll", "dll"},
      {L"kavor_setup.exe", "setup"},
      {L"launcher.exe", "launcher"},
      {L"installer_helper.exe", "helper"},
      {L"installer_helper_64.exe", "helper"},
  };
  for (const auto& file : kFiles) {
    const int size = static_cast<int>(strlen(file.text));
    ASSERT_EQ(size,
              base::WriteFile(package.Append(file.name), file.text, size));
  }
  state_.package_dir = package;
  state_.package_dir_known = true;
  bool interrupted = false;
  on_last_step_finished_ = [this, &interrupted](const std::string& name) {
    EXPECT_EQ(PackageUnpacker::kDirectUnpackingStepName, name);
    interrupted = ::SetEvent(interrupted_.Get());
  };
  base::win::ScopedHandle ready = CreateEvent(L"KavorInstaller/PackageReady");
  ASSERT_TRUE(::SetEvent(ready.Get()));
  for (bool wait_for_package : {false, true}) {
    SCOPED_TRACE(wait_for_package ? "package made ready" : "package known");
    ASSERT_TRUE(::ResetEvent(interrupted_.Get()));
    interrupted = false;
    command_line_ = base::CommandLine(base::CommandLine::NO_PROGRAM);
    command_line_.AppendSwitchNative("install-subfolder", kVersionFolder);
    if (wait_for_package)
      command_line_.AppendSwitch("wait-for-package");
    RunInstaller();
    EXPECT_TRUE(interrupted) << "the unpacking never finished its last file";
    // Each launch of the package's installer is announced first ("start"):
    // none was tried.
    EXPECT_EQ(
        std::vector<std::string>({"ready", "phase 6", "total 6", "cancelled"}),
        events_);
    EXPECT_EQ(RESULT_NOT_FINISHED, installer_->result());
    EXPECT_TRUE(installer_->interrupted_with_package());
    EXPECT_FALSE(base::PathExists(settings_.folder));
  }
}

// A front end that stops the run as the backend starts may have closed the
// ready event before the backend opens it: the run is interrupted, not
// failed.
TEST_F(InstallerTest, ReadyEventGoneWithTheInterruptionCancelsTheRun) {
  // As the front end stops on the folder's news: the interruption is set
  // and the ready event, never made here, is gone.
  on_ready_ = [this] { ASSERT_TRUE(::SetEvent(interrupted_.Get())); };
  command_line_.AppendSwitch("wait-for-package");
  state_.package_dir = temp_.GetPath();
  RunInstaller();
  EXPECT_EQ(std::vector<std::string>({"ready", "cancelled"}), events_);
  EXPECT_EQ(RESULT_NOT_FINISHED, installer_->result());
}

// A repair's package folder holds only the resources the front end
// fetched: once it is ready the run goes on in place, with no unpacking and
// no hand-over, whichever installer runs it. A stray archive and installer
// in the folder are neither unpacked nor run.
TEST_F(InstallerTest, RepairGoesOnInPlaceOnceItsPackageIsReady) {
  settings_.operation = OPERATION_FIX_DOWNLOADABLE_RESOURCES;
  SetExistingInstallation(L"47.0.4127.0", L"1234");
  const base::FilePath package = temp_.GetPath().Append(L"package");
  ASSERT_TRUE(base::CreateDirectory(package));
  // Neither would get far: an attempt fails the run instead of hanging it.
  ASSERT_TRUE(base::WriteFile(package.Append(L"installer.exe"), "MZ", 2));
  ASSERT_TRUE(base::WriteFile(package.Append(L"kavor_package"), "7z", 2));
  state_.package_dir = package;
  state_.package_dir_known = true;
  command_line_.AppendSwitch("wait-for-package");
  for (bool ready_at_start : {true, false}) {
    SCOPED_TRACE(ready_at_start);
    scheduler_.schedules = 0;
    base::win::ScopedHandle ready =
        CreateEvent(L"KavorInstaller/PackageReady");
    ASSERT_TRUE(::ResetEvent(ready.Get()));
    if (ready_at_start)
      ASSERT_TRUE(::SetEvent(ready.Get()));
    else
      on_ready_ = [&ready] { ASSERT_TRUE(::SetEvent(ready.Get())); };
    RunInstaller();
    on_ready_ = nullptr;
    EXPECT_EQ(
        std::vector<std::string>({"ready", "phase 7", "total 3", "success"}),
        events_);
    EXPECT_EQ(1, scheduler_.schedules);
    EXPECT_EQ(RESULT_SUCCESS, installer_->result());
    EXPECT_FALSE(base::PathExists(settings_.folder.Append(L"47.0.4127.0")))
        << "the package was unpacked";
  }
}

// A front end stopped while it fetched a repair's resources: the package it
// made ready is not taken, and no step of the repair runs.
TEST_F(InstallerTest, RepairInterruptedWhileFetchingCopiesNothing) {
  settings_.operation = OPERATION_FIX_DOWNLOADABLE_RESOURCES;
  SetExistingInstallation(L"47.0.4127.0", L"1234");
  const base::FilePath package = temp_.GetPath().Append(L"package");
  ASSERT_TRUE(base::CreateDirectory(package));
  state_.package_dir = package;
  state_.package_dir_known = true;
  command_line_.AppendSwitch("wait-for-package");
  base::win::ScopedHandle ready = CreateEvent(L"KavorInstaller/PackageReady");
  ASSERT_TRUE(::SetEvent(ready.Get()));
  on_ready_ = [this] { ASSERT_TRUE(::SetEvent(interrupted_.Get())); };
  RunInstaller();
  EXPECT_EQ(std::vector<std::string>({"ready", "cancelled"}), events_);
  EXPECT_EQ(0, scheduler_.schedules);
  EXPECT_EQ(RESULT_NOT_FINISHED, installer_->result());
}

TEST_F(InstallerTest, ProtocolHandlerRegistrationSkipsFolderAndPackage) {
  // No interrupted event exists: the run must not even look for it.
  interrupted_.Close();
  settings_.operation = OPERATION_REGISTER_PROTOCOL_HANDLER;
  security_.denied = settings_.folder;
  command_line_.AppendSwitch("wait-for-package");
  RunInstaller();
  EXPECT_EQ(1, scheduler_.schedules);
  EXPECT_EQ(std::vector<std::string>({"success"}), events_);
  EXPECT_FALSE(base::PathExists(settings_.folder));
}

TEST_F(InstallerTest, AppIdOfTheNewStatus) {
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
    SetExistingInstallation(L"", c.existing);
    scheduler_.schedules = 0;
    const int64_t before = base::Time::Now().ToTimeT();
    StartInstaller();
    RunPostedTasks();
    ASSERT_EQ(1, scheduler_.schedules) << installer_->result();
    const base::string16& app_id = scheduler_.status_at_schedule.app_id;
    int64_t seconds = 0;
    if (c.kept) {
      EXPECT_EQ(c.existing, app_id);
    } else {
      ASSERT_TRUE(base::StringToInt64(app_id, &seconds)) << app_id;
      EXPECT_LE(before, seconds);
      EXPECT_GE(base::Time::Now().ToTimeT(), seconds);
    }
  }
}

// After an elevated run: the default-browser choice (not for an uninstall),
// the components' post-elevation part, and the finalization, which adjusts
// the profile (not for an uninstall either).
TEST_F(InstallerTest, PostElevationTasks) {
  const base::FilePath local_state =
      temp_.GetPath().Append(L"profile\\Local State");
  // Earlier packages named the assistant's component "suite".
  const base::FilePath assistant = temp_.GetPath().Append(L"suite");
  const base::FilePath calls =
      assistant.Append(L"assistant_installer_calls.txt");
  base::CommandLine launched(assistant.Append(L"assistant_installer.exe"));
  launched.AppendSwitch("post-elevated-install-tasks");
  launched.AppendSwitchPath("installfolder", assistant);
  const std::string expected_line =
      base::WideToUTF8(launched.GetCommandLineString()) + "\r\n";
  base::FilePath bin;
  ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &bin));
  ASSERT_TRUE(base::CreateDirectory(local_state.DirName()));
  ASSERT_TRUE(base::CreateDirectory(assistant));
  ASSERT_TRUE(base::CopyFile(bin.Append(L"kavor_launcher_standin.exe"),
                             assistant.Append(L"assistant_installer.exe")));
  // The package brings partner content and the profile has its own, which
  // it keeps.
  const base::FilePath profile_partner =
      local_state.DirName().Append(L"custom_partner_content.json");
  const base::FilePath package_partner =
      settings_.folder.Append(kVersionFolder)
          .Append(L"resources\\custom_partner_content.json");
  ASSERT_TRUE(base::CreateDirectory(package_partner.DirName()));
  ASSERT_EQ(3, base::WriteFile(package_partner, "new", 3));
  ASSERT_EQ(3, base::WriteFile(profile_partner, "old", 3));
  command_line_.AppendSwitch("post-elevated-install-tasks");
  settings_.details.profile = local_state.DirName();
  const struct {
    InstallerOperation operation;
    int stores;
    const char* locale;
  } kCases[] = {{OPERATION_INSTALL, 1, ""},
                {OPERATION_UPGRADE, 1, ""},
                {OPERATION_UNINSTALL, 0, "en"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.operation);
    settings_.operation = c.operation;
    SetExistingInstallation(kVersionFolder, L"1");
    settings_.details.status->components = {{"suite", assistant}};
    const std::string kEn = R"({"intl":{"app_locale":"en"}})";
    ASSERT_EQ(static_cast<int>(kEn.size()),
              base::WriteFile(local_state, kEn.data(), kEn.size()));
    ASSERT_TRUE(base::DeleteFile(calls, false));
    os_.stores = 0;
    RunInstaller();
    EXPECT_EQ(std::vector<std::string>({"success"}), events_);
    EXPECT_EQ(c.stores, os_.stores);
    std::string contents;
    ASSERT_TRUE(base::ReadFileToString(local_state, &contents));
    EXPECT_EQ(std::string(R"({"intl":{"app_locale":")") + c.locale + "\"}}",
              contents);
    ASSERT_TRUE(base::ReadFileToString(profile_partner, &contents));
    EXPECT_EQ("old", contents);
    // The component's installer is not waited for: its line may come late.
    EXPECT_TRUE(base::WaitUntil(
        [&] {
          return base::ReadFileToString(calls, &contents) &&
                 contents == expected_line;
        },
        "the component installer's start"))
        << contents;
  }
  EXPECT_FALSE(os_.stored_with_status);
}

// The uninstall front end starts the installed version's own installer with
// that version folder as the package: the run must see that it already runs
// from the target folder and never unpack the installation into itself.
// With the browser open the uninstall then fails and changes nothing.
TEST_F(InstallerTest, UninstallFromTheVersionFolderWhileBrowserIsOpen) {
  settings_.operation = OPERATION_UNINSTALL;
  SetExistingInstallation(kVersionFolder, L"");
  const base::FilePath version = settings_.folder.Append(kVersionFolder);
  const base::FilePath browser = version.Append(L"kavor.exe");
  ASSERT_TRUE(base::CreateDirectory(version));
  ASSERT_EQ(1, base::WriteFile(browser, "x", 1));
  // Open as a running program would be: no one may delete or move it.
  base::win::ScopedHandle open(
      ::CreateFileW(browser.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(open.IsValid());
  state_.package_dir = version;
  state_.package_dir_known = true;
  base::FilePath exe;
  ASSERT_TRUE(base::PathService::Get(base::FILE_EXE, &exe));
  ASSERT_TRUE(base::PathService::OverrideAndCreateIfNeeded(
      base::FILE_EXE, version.Append(L"installer.exe"), true, false));
  RunInstaller();
  ASSERT_TRUE(base::PathService::OverrideAndCreateIfNeeded(base::FILE_EXE, exe,
                                                           true, false));
  ExpectOneError(9, "Can't uninstall when kavor.exe is in use");
  ASSERT_EQ(4u, events_.size());
  EXPECT_EQ("ready phase 7", events_[0] + " " + events_[1]);
  EXPECT_EQ(browser.value(), error_path_);
  EXPECT_EQ(0, scheduler_.schedules);
  base::FileEnumerator files(version, false, base::FileEnumerator::FILES);
  EXPECT_EQ(browser, files.Next());
  EXPECT_EQ(base::FilePath(), files.Next()) << "a file was left beside it";
}

// A part that fails without filling the last-error record must not turn
// the run into a success, nor into an error of code 0.
TEST_F(InstallerTest, FailureWithoutRecordIsStillAFailure) {
  const struct {
    const char* label;
    InstallerOperation operation;
    const char* message;
  } kCases[] = {
      {"no operation", OPERATION_NONE, "\nCannot run the backend installer."},
      {"silent step list", OPERATION_INSTALL,
       "The installation failed without giving a reason"},
  };
  scheduler_.schedule_result = false;
  scheduler_.schedule_records = false;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    settings_.operation = c.operation;
    SetLastInstallerError(RESULT_SUCCESS, "");
    RunInstaller();
    ExpectOneError(RESULT_GENERAL_ERROR, c.message);
    EXPECT_FALSE(base::PathExists(settings_.folder));
  }
}

// Settings whose folder is still being examined are refused with a reason,
// and nothing runs.
TEST_F(InstallerTest, PendingSettingsAreRefused) {
  class PendingSettings : public Settings {
   public:
    bool IsFetchingFolderDetails() const override { return true; }
  } pending;
  pending.folder = settings_.folder;
  Installer installer(std::make_unique<FakeScheduler>(&scheduler_),
                      InstallationStatusReaderFactory(), &state_,
                      &command_line_);
  installer.AddObserver(this);
  SetLastInstallerError(RESULT_SUCCESS, "");
  EXPECT_FALSE(installer.Run(&pending));
  InstallerResult code = RESULT_SUCCESS;
  std::string message;
  GetLastInstallerError(&code, &message, nullptr);
  EXPECT_EQ(RESULT_GENERAL_ERROR, code);
  EXPECT_EQ("The install folder is still being examined", message);
  EXPECT_TRUE(pending.IsEditable());
  RunPostedTasks();
  EXPECT_TRUE(events_.empty());
  EXPECT_EQ(0, scheduler_.schedules);
}

// Elevations that can't happen or fail end the run with one error; the
// elevated process is started only where it could run.
TEST_F(InstallerTest, ElevationFailures) {
  const struct {
    const char* label;
    bool all_users, linked_admin, uac, run_elevated;
    FakeOs::Action action;
    int exit_code;
    bool status;
    size_t launches;
    int code;
    const char* message;  // the start of the error's message
  } kCases[] = {
      // clang-format off
      {"UAC off, all users", 1, 0, 0, 0, FakeOs::EXIT, 0, 1, 0, 8,
       "Cannot elevate with UAC disabled"},
      {"UAC off, folder grant", 0, 0, 0, 0, FakeOs::GIVE, 0, 0, 0, 8,
       "Cannot elevate with UAC disabled"},
      {"UAC off, filtered admin", 1, 1, 0, 0, FakeOs::REFUSE, 0, 0, 1, 8,
       "refused\nCould not run the elevated installer process"},
      {"copy still not elevated", 1, 0, 1, 1, FakeOs::EXIT, 0, 1, 0, 8,
       "This process should already be elevated, but isn't."},
      {"permission process ends first", 0, 0, 1, 0, FakeOs::EXIT, 3, 0, 1, 8,
       "Failed to wait for the elevated process: it ended without giving "
       "the permission, exit code 3"},
      {"copy failed", 1, 0, 1, 0, FakeOs::EXIT, 107, 1, 1, 7,
       "Elevated process returned an error."},
      {"copy ended with 1", 1, 0, 1, 0, FakeOs::EXIT, 1, 1, 1, 13,
       "Elevated process returned an error."},
      {"copy's unknown code", 1, 0, 1, 0, FakeOs::EXIT, 55, 1, 1, 15,
       "Elevated process returned an error."},
      {"copy wrote no status", 1, 0, 1, 0, FakeOs::EXIT, 0, 0, 1, 1,
       "Elevated process did not write new installation status"},
      // clang-format on
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    settings_.all_users = c.all_users;
    security_.linked_admin = c.linked_admin;
    security_.denied = c.all_users ? base::FilePath() : settings_.folder;
    SetUacEnabled(c.uac);
    command_line_ = base::CommandLine(base::CommandLine::NO_PROGRAM);
    if (c.run_elevated)
      command_line_.AppendSwitch("run-elevated");
    os_.action = c.action;
    os_.exit_code = c.exit_code;
    os_.subfolder = base::FilePath(c.status ? kVersionFolder : L"");
    os_.launches.clear();
    base::DeleteFile(settings_.folder, true);
    RunInstaller();
    EXPECT_EQ(c.launches, os_.launches.size());
    const std::string expected =
        "error " + base::IntToString(c.code) + " " + c.message;
    ASSERT_GE(events_.size(), 2u) << "no outcome in time";
    EXPECT_EQ(0u, events_[events_.size() - 2].find(expected))
        << events_[events_.size() - 2];
    EXPECT_EQ("cancelled", events_.back());
    EXPECT_EQ(c.code, installer_->result());
    EXPECT_EQ(0, scheduler_.schedules);
  }
}

// The elevated copy did the install: this process takes the subfolder it
// recorded, runs no step itself and succeeds. The copy never launches the
// browser and knows this process as its parent.
TEST_F(InstallerTest, ElevatedCopyTakesOverTheRun) {
  settings_.all_users = true;
  os_.action = FakeOs::EXIT;
  os_.subfolder = base::FilePath(kVersionFolder);
  RunInstaller();
  EXPECT_EQ(std::vector<std::string>({"start", "returned", "success"}),
            events_);
  EXPECT_EQ(kVersionFolder,
            command_line_.GetSwitchValueNative("install-subfolder"));
  EXPECT_EQ(0, scheduler_.schedules);
  ASSERT_EQ(1u, os_.launches.size());
  const base::CommandLine& copy = os_.launches[0];
  base::FilePath own;
  ASSERT_TRUE(base::PathService::Get(base::FILE_EXE, &own));
  EXPECT_EQ(own, copy.GetProgram());
  EXPECT_TRUE(copy.HasSwitch("backend") && copy.HasSwitch("run-elevated"));
  EXPECT_EQ("0", copy.GetSwitchValueASCII("launchkavor"));
  EXPECT_EQ(base::UintToString(::GetCurrentProcessId()),
            copy.GetSwitchValueASCII("parent-pid"));
}

// After an upgrade the elevated copy did, the profile is adjusted to the
// version the copy installed, not to the one this run found: the new
// package brings partner content, so the profile keeps its own.
TEST_F(InstallerTest, ElevatedUpgradeFinalizesTheVersionTheCopyInstalled) {
  settings_.all_users = true;
  settings_.operation = OPERATION_UPGRADE;
  SetExistingInstallation(L"46.0.1000.0", L"1");
  ASSERT_TRUE(base::CreateDirectory(settings_.folder.Append(L"46.0.1000.0")));
  const base::FilePath package_partner =
      settings_.folder.Append(kVersionFolder)
          .Append(L"resources\\custom_partner_content.json");
  ASSERT_TRUE(base::CreateDirectory(package_partner.DirName()));
  ASSERT_EQ(3, base::WriteFile(package_partner, "new", 3));
  const base::FilePath profile = temp_.GetPath().Append(L"profile");
  ASSERT_TRUE(base::CreateDirectory(profile));
  const base::FilePath local_state = profile.Append(L"Local State");
  ASSERT_EQ(2, base::WriteFile(local_state, "{}", 2));
  const base::FilePath profile_partner =
      profile.Append(L"custom_partner_content.json");
  ASSERT_EQ(3, base::WriteFile(profile_partner, "old", 3));
  settings_.details.profile = profile;
  os_.action = FakeOs::EXIT;
  os_.subfolder = base::FilePath(kVersionFolder);

  RunInstaller();
  EXPECT_EQ(std::vector<std::string>({"start", "returned", "success"}),
            events_);
  std::string contents;
  EXPECT_TRUE(base::ReadFileToString(profile_partner, &contents));
  EXPECT_EQ("old", contents);
  ASSERT_TRUE(base::ReadFileToString(local_state, &contents));
  EXPECT_EQ(std::string::npos, contents.find("custom_partner_content"))
      << contents;
}

// A standard user without access asks an elevated permission process for
// the folder, temporarily unless the grant must stay; the run goes on with
// the grant and, at its end, tells that process to take it back.
TEST_F(InstallerTest, PermissionProcessGrantsTheFolder) {
  // The account's full name: the permission process resolves it under an
  // administrator's account.
  base::string16 user;
  ASSERT_TRUE(GetSamCompatibleUserName(&user));
  const std::string own_pid = base::UintToString(::GetCurrentProcessId());
  for (bool components : {false, true}) {
    SCOPED_TRACE(components);
    command_line_ = base::CommandLine(base::CommandLine::NO_PROGRAM);
    if (components)
      command_line_.AppendSwitch("components");
    security_.denied = settings_.folder;
    os_.action = FakeOs::GIVE;
    os_.launches.clear();
    RunInstaller();
    ASSERT_FALSE(events_.empty());
    EXPECT_EQ("success", events_.back());
    EXPECT_EQ(1, scheduler_.schedules);
    ASSERT_EQ(1u, os_.launches.size());
    const base::CommandLine& helper = os_.launches[0];
    EXPECT_EQ(settings_.folder,
              helper.GetSwitchValuePath("set-folder-permission"));
    EXPECT_EQ(user, helper.GetSwitchValueNative("permissions-for-user"));
    EXPECT_EQ(components, helper.HasSwitch("permanent-permissions"));
    EXPECT_EQ(own_pid, helper.GetSwitchValueASCII("parent-pid"));
    EXPECT_TRUE(helper.HasSwitch("initial-pid"));
    EXPECT_FALSE(helper.HasSwitch("run-uninstall-bat"));
    EXPECT_EQ(::GetCurrentProcessId(), installer_->GetSecondInstallerPid());
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(os_.undo.Get(), 0));
    scheduler_.schedules = 0;
  }
}

// A permanent grant's process signals and ends at once, maybe before the
// run waits for it: the grant counts all the same.
TEST_F(InstallerTest, PermissionProcessThatEndedAfterGivingCounts) {
  command_line_.AppendSwitch("components");
  security_.denied = settings_.folder;
  os_.action = FakeOs::GIVE_AND_END;
  RunInstaller();
  ASSERT_FALSE(events_.empty());
  EXPECT_EQ("success", events_.back());
  EXPECT_EQ(1, scheduler_.schedules);
  ASSERT_EQ(1u, os_.launches.size());
  EXPECT_TRUE(os_.launches[0].HasSwitch("permanent-permissions"));
}

}  // namespace
}  // namespace installer
