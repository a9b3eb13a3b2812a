#include "desktop/windows/installer/steps/uninstall_cleanup_step.h"

#include <windows.h>

#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/process/process_handle.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/bounded_wait.h"
#include "base/test/scoped_log_lines.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/folder_permission_process.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/service/windows_task_scheduler.h"
#include "desktop/windows/installer/steps/step_test_context.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using Paths = std::vector<base::FilePath>;

// |text| in the OEM code page, in which cmd reads a batch.
std::string Oem(const std::wstring& text) {
  const int size = ::WideCharToMultiByte(CP_OEMCP, 0, text.data(),
                                         static_cast<int>(text.size()), nullptr,
                                         0, nullptr, nullptr);
  std::string oem(size, '\0');
  ::WideCharToMultiByte(CP_OEMCP, 0, text.data(), static_cast<int>(text.size()),
                        &oem[0], size, nullptr, nullptr);
  return oem;
}

// The wait loop alone when every deletion worked and no other process was
// given; the deletions come after it, deepest folder first, "%" kept from
// cmd's expansion.
TEST(UninstallBatchTest, Text) {
  const std::string kWaitFor11 =
      "SET PID1_RUNNING=TRUE\n:again\n"
      "IF %PID1_RUNNING%==TRUE (\n"
      "TASKLIST /FI \"PID eq 11\" | FIND /c /i \".exe\"\n"
      "IF ERRORLEVEL 1 SET PID1_RUNNING=FALSE\n)\n"
      "ping -n 2 127.0.0.1\n"
      "IF %PID1_RUNNING%==TRUE GOTO :again\n";
  const struct {
    uint32_t pid2, pid3;
    Paths files;
    std::string expected;
  } kCases[] = {
      {0, 0, {}, kWaitFor11 + "del %0\n"},
      {0,
       0,
       {base::FilePath(L"C:\\P\\K\\v\\a.dll")},
       kWaitFor11 + "del \"C:\\P\\K\\v\\a.dll\"\nrmdir \"C:\\P\\K\\v\"\n"
                    "rmdir \"C:\\P\\K\"\nrmdir \"C:\\P\"\ndel %0\n"},
      {0,
       0,
       {base::FilePath(L"C:\\%TEMP%\\x.exe"), base::FilePath(L"C:\\b\\\u00e9")},
       kWaitFor11 + "del \"C:\\%%TEMP%%\\x.exe\"\ndel \"" +
           Oem(L"C:\\b\\\u00e9") +
           "\"\nrmdir \"C:\\b\"\nrmdir \"C:\\%%TEMP%%\"\ndel %0\n"},
      {22,
       4000000000u,
       {},
       "SET PID1_RUNNING=TRUE\nSET PID2_RUNNING=TRUE\n"
       "SET PID3_RUNNING=TRUE\n:again\n"
       "IF %PID1_RUNNING%==TRUE (\n"
       "TASKLIST /FI \"PID eq 11\" | FIND /c /i \".exe\"\n"
       "IF ERRORLEVEL 1 SET PID1_RUNNING=FALSE\n)\n"
       "IF %PID2_RUNNING%==TRUE (\n"
       "TASKLIST /FI \"PID eq 22\" | FIND /c /i \".exe\"\n"
       "IF ERRORLEVEL 1 SET PID2_RUNNING=FALSE\n)\n"
       "IF %PID3_RUNNING%==TRUE (\n"
       "TASKLIST /FI \"PID eq 4000000000\" | FIND /c /i \".exe\"\n"
       "IF ERRORLEVEL 1 SET PID3_RUNNING=FALSE\n)\n"
       "ping -n 2 127.0.0.1\n"
       "IF %PID1_RUNNING%==TRUE GOTO :again\n"
       "IF %PID2_RUNNING%==TRUE GOTO :again\n"
       "IF %PID3_RUNNING%==TRUE GOTO :again\ndel %0\n"},
      // Without an initial process the second installer keeps its number.
      {0,
       33,
       {},
       "SET PID1_RUNNING=TRUE\nSET PID3_RUNNING=TRUE\n:again\n"
       "IF %PID1_RUNNING%==TRUE (\n"
       "TASKLIST /FI \"PID eq 11\" | FIND /c /i \".exe\"\n"
       "IF ERRORLEVEL 1 SET PID1_RUNNING=FALSE\n)\n"
       "IF %PID3_RUNNING%==TRUE (\n"
       "TASKLIST /FI \"PID eq 33\" | FIND /c /i \".exe\"\n"
       "IF ERRORLEVEL 1 SET PID3_RUNNING=FALSE\n)\n"
       "ping -n 2 127.0.0.1\n"
       "IF %PID1_RUNNING%==TRUE GOTO :again\n"
       "IF %PID3_RUNNING%==TRUE GOTO :again\ndel %0\n"},
  };
  for (const auto& c : kCases) {
    std::set<base::FilePath> folders;
    for (const base::FilePath& file : c.files)
      AddHoldingFolders(file, &folders);
    EXPECT_EQ(c.expected,
              BuildUninstallBatch(11, c.pid2, c.pid3, c.files, folders));
  }
}

// Records the calls that remove tasks.
class Scheduler : public WindowsTaskScheduler {
 public:
  Scheduler(std::vector<std::string>* calls, const bool* ready)
      : calls_(calls), ready_(ready) {}
  bool Initialize() override { return Call("initialize") && *ready_; }
  void RemoveOrphanedTasks() override { Call("orphans"); }
  void RemoveTask(const std::wstring& name) override {
    Call("remove " + base::WideToUTF8(name));
  }
  bool RegisterTask(const ScheduledTaskInfo&) override { return Call("?"); }
  void SetDailyInterval(const std::wstring&, unsigned) override { Call("?"); }
  void SetTaskEnabled(const std::wstring&, bool) override { Call("?"); }
  bool RunTask(const std::wstring&, const std::vector<std::wstring>&) override {
    return Call("?");
  }
  ScheduledTaskState GetTaskState(const std::wstring&) override {
    Call("?");
    return SCHEDULED_TASK_NOT_FOUND;
  }
  base::Time GetLastRunTime(const std::wstring&) override {
    Call("?");
    return base::Time();
  }

 private:
  bool Call(const std::string& call) {
    calls_->push_back(call);
    return true;
  }
  std::vector<std::string>* const calls_;
  const bool* const ready_;
};

class ModeSettings : public test::FakeSettings {
 public:
  bool copy_only = false, delete_profile = false;
  bool GetCopyOnly() const override { return copy_only; }
  bool GetDeleteProfile() const override { return delete_profile; }
};

class Context : public test::StepTestContext {
 public:
  explicit Context(const base::FilePath& root) : test::StepTestContext(root) {
    own_settings.folder = settings.folder;
    set_settings(&own_settings);
  }
  const InstallationStatus& GetExistingInstallationStatus() override {
    return existing;
  }
  bool HasTemporaryFolderPermission() override { return permission; }
  ModeSettings own_settings;
  InstallationStatus existing{INSTALLATION_STATUS_PRIMARY};
  bool permission = false;
};

// Records the starts of the batch file instead of running it.
class Step : public UninstallCleanupStep {
 public:
  Step(InstallerStepContext* context, const base::CommandLine* command_line)
      : UninstallCleanupStep(context, command_line) {}
  Paths started;

 protected:
  void StartBatch(const base::FilePath& install_folder) override {
    started.push_back(install_folder);
  }
};

class UninstallCleanupStepTest : public test::StepTest {
 protected:
  void SetUp() override {
    Fresh();
    SetWindowsTaskSchedulerFactoryForTesting(base::BindRepeating(
        [](std::vector<std::string>* calls,
           const bool* ready) -> std::unique_ptr<WindowsTaskScheduler> {
          return std::make_unique<Scheduler>(calls, ready);
        },
        &scheduler_calls_, &scheduler_ready_));
  }
  void TearDown() override {
    SetWindowsTaskSchedulerFactoryForTesting(WindowsTaskSchedulerFactory());
  }

  void Fresh() {
    Reset();
    ctx_ = new Context(dir_.GetPath());
    context_.reset(ctx_);
    scheduler_calls_.clear();
    scheduler_ready_ = true;
    ASSERT_TRUE(base::CreateDirectory(install_));
  }

  // Runs the step and commits the run, which makes the deletions final.
  Paths Run(const base::CommandLine& command_line) {
    Step step(context_.get(), &command_line);
    InstallerStepResult result(STEP_FAILED);
    step.Execute(&result, 0);
    EXPECT_EQ(STEP_DONE, result.status);
    CommitOperations(context_->GetTransaction());
    return step.started;
  }

  std::string Batch() {
    std::string text;
    return base::ReadFileToString(install_.Append(L"k.bat"), &text) ? text
                                                                    : "none";
  }

  Context* ctx_ = nullptr;
  std::vector<std::string> scheduler_calls_;
  bool scheduler_ready_ = true;
};

// An installed folder: what the status lists and the install folder's own
// files go, a file in use is left to the batch file with its folders, and
// nothing outside the install folder is touched.
TEST_F(UninstallCleanupStepTest, DeletesTheInstallationAndHandsOverTheRest) {
  const struct {
    const char* label;
    bool copy_only, permission;
    std::vector<std::string> scheduler_calls;
    bool started;
    bool scheduler_ready = true;
  } kCases[] = {
      {"standard",
       false,
       false,
       {"initialize", "orphans", "remove Autoupdate app-1"},
       true},
      {"copy only keeps the task", true, false, {}, true},
      {"temporary permission",
       false,
       true,
       {"initialize", "orphans", "remove Autoupdate app-1"},
       false},
      {"no task scheduler", false, false, {"initialize"}, true, false},
  };
  const std::string kOld = GetProductShortName() + ".old";
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    Fresh();
    ctx_->own_settings.copy_only = c.copy_only;
    ctx_->permission = c.permission;
    scheduler_ready_ = c.scheduler_ready;
    ctx_->set_second_installer_pid(88);
    ctx_->existing.app_id = L"app-1";
    ctx_->existing.subfolder = base::FilePath(L"47.0.4127.0");
    ctx_->existing.files = {
        base::FilePath(L"a.dll"), base::FilePath(L"sub\\b.txt"),
        base::FilePath(L"busy\\c.dll"), base::FilePath(L"..\\..\\outside.txt")};
    ctx_->existing.root_files = {base::FilePath(L"root.txt")};
    for (const char* file : {"a.dll", "sub\\b.txt", "busy\\c.dll"})
      Write(target_, file, "x");
    for (const std::string& file :
         {std::string("launcher.exe"), std::string("pref_default_overrides"),
          std::string("root.txt"), kOld, std::string("keep.txt")}) {
      Write(install_, file, "x");
    }
    Write(dir_.GetPath(), "outside.txt", "x");
    const base::FilePath busy = target_.Append(L"busy\\c.dll");
    base::win::ScopedHandle held(
        ::CreateFileW(busy.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held.IsValid());

    base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
    command_line.AppendSwitchASCII("initial-pid", "77");
    base::ScopedLogLines errors(base::logging::LOG_ERROR,
                                base::logging::LOG_ERROR);
    EXPECT_EQ(c.started ? Paths{install_} : Paths(), Run(command_line));
    held.Close();
    // Whether the task could be removed is no error of the uninstall.
    EXPECT_EQ(std::string::npos, errors.text().find("scheduler"))
        << errors.text();

    EXPECT_EQ(c.scheduler_calls, scheduler_calls_);
    for (const char* gone :
         {"47.0.4127.0\\a.dll", "47.0.4127.0\\sub", "launcher.exe",
          "pref_default_overrides", "root.txt", kOld.c_str()}) {
      EXPECT_FALSE(base::PathExists(install_.AppendASCII(gone))) << gone;
    }
    EXPECT_TRUE(base::PathExists(busy));
    EXPECT_TRUE(base::PathExists(install_.Append(L"keep.txt")));
    EXPECT_TRUE(base::PathExists(dir_.GetPath().Append(L"outside.txt")));
    std::set<base::FilePath> folders;
    AddHoldingFolders(busy, &folders);
    EXPECT_EQ(
        BuildUninstallBatch(base::GetCurrentProcId(), 77, 88, {busy}, folders),
        Batch());
  }
}

// Only the files of the version folder bring their folders into the batch;
// a status whose subfolder leads out of the install folder loses nothing
// outside it.
TEST_F(UninstallCleanupStepTest, HandsOverOnlyWhatItMay) {
  const struct {
    const char* label;
    const wchar_t* subfolder;
    const wchar_t* held;
  } kCases[] = {
      {"launcher held", L"", L"launcher.exe"},
      {"overrides held", L"", L"pref_default_overrides"},
      {"hostile subfolder", L"..\\..", nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    Fresh();
    ctx_->existing.subfolder = base::FilePath(c.subfolder);
    ctx_->existing.files = {base::FilePath(L"a.dll")};
    // Two folders up from the install folder, where the subfolder leads.
    if (*c.subfolder) {
      ctx_->existing.files.push_back(
          dir_.GetPath().BaseName().Append(L"outside.txt"));
    }
    Write(dir_.GetPath(), "outside.txt", "x");
    Write(install_, "a.dll", "x");
    for (const char* file : {"launcher.exe", "pref_default_overrides"})
      Write(install_, file, "x");
    Paths pending;
    base::win::ScopedHandle held;
    if (c.held) {
      pending.push_back(install_.Append(c.held));
      held.Set(::CreateFileW(pending[0].value().c_str(), GENERIC_READ,
                             FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
      ASSERT_TRUE(held.IsValid());
    }
    Run(base::CommandLine(base::CommandLine::NO_PROGRAM));
    held.Close();
    EXPECT_TRUE(base::PathExists(dir_.GetPath().Append(L"outside.txt")));
    EXPECT_EQ(*c.subfolder == 0, !base::PathExists(install_.Append(L"a.dll")));
    EXPECT_EQ(BuildUninstallBatch(base::GetCurrentProcId(), 0, 0, pending, {}),
              Batch());
  }
}

// The batch deletes what was handed to it also where a folder's or file's
// name is not ASCII: cmd reads the batch in the OEM code page, which has
// some of these letters and lacks others.
TEST_F(UninstallCleanupStepTest, BatchDeletesFilesWithNonAsciiNames) {
  const base::FilePath kFiles[] = {
      base::FilePath(L"K\u00e4vor Jos\u00e9\\a.dll"),
      base::FilePath(L"\u65e5\u672c\\\u00fc\u65e5\u672c.dll")};
  ctx_->existing.subfolder = base::FilePath(L"47.0.4127.0");
  ctx_->existing.files.assign(std::begin(kFiles), std::end(kFiles));
  Paths pending;
  std::set<base::FilePath> folders;
  std::vector<base::win::ScopedHandle> held;
  for (const base::FilePath& file : kFiles) {
    const base::FilePath path = target_.Append(file);
    ASSERT_TRUE(base::CreateDirectory(path.DirName()));
    ASSERT_EQ(1, base::WriteFile(path, "x", 1));
    held.emplace_back(::CreateFileW(path.value().c_str(), GENERIC_READ,
                                    FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held.back().IsValid());
    pending.push_back(path);
    AddHoldingFolders(path, &folders);
  }
  EXPECT_EQ(Paths{install_},
            Run(base::CommandLine(base::CommandLine::NO_PROGRAM)));
  held.clear();
  const std::string batch =
      BuildUninstallBatch(base::GetCurrentProcId(), 0, 0, pending, folders);
  EXPECT_EQ(batch, Batch());

  // The same batch, waiting for a process that has ended instead of this
  // one, run as the uninstall runs it.
  base::FilePath system;
  ASSERT_TRUE(base::PathService::Get(base::DIR_SYSTEM, &system));
  base::LaunchOptions hidden;
  hidden.start_hidden = true;
  base::Process ended =
      base::LaunchProcess(base::CommandLine({system.Append(L"cmd.exe").value(),
                                             L"/c", L"exit", L"0"}),
                          hidden);
  ASSERT_TRUE(ended.IsValid());
  ASSERT_TRUE(
      ended.WaitForExitWithTimeout(base::TimeDelta::FromMinutes(1), nullptr));
  const std::string run =
      BuildUninstallBatch(ended.Pid(), 0, 0, pending, folders);
  const base::FilePath batch_path = install_.Append(L"k.bat");
  ASSERT_EQ(static_cast<int>(run.size()),
            base::WriteFile(batch_path, run.data(), run.size()));
  RunUninstallBatch(install_);
  ASSERT_TRUE(base::WaitUntil([&] { return !base::PathExists(batch_path); },
                              "the batch deleting itself",
                              base::TimeDelta::FromMinutes(1)));
  for (const base::FilePath& path : pending) {
    EXPECT_FALSE(base::PathExists(path)) << path.value();
    EXPECT_FALSE(base::PathExists(path.DirName())) << path.value();
  }
  EXPECT_FALSE(base::PathExists(target_));
}

// A profile path "...\<USERNAME>" puts every user's profile in one folder:
// the uninstall deletes this user's profile, and that folder only when no
// other profile is left in it.
TEST_F(UninstallCleanupStepTest, DeletesOnlyTheUsersOwnProfile) {
  base::string16 user;
  ASSERT_TRUE(GetCurrentUserName(&user));
  for (bool other_user : {true, false}) {
    SCOPED_TRACE(other_user);
    Fresh();
    ctx_->own_settings.delete_profile = true;
    const base::FilePath profiles = dir_.GetPath().Append(L"profiles");
    std::string pattern = profiles.Append(L"<USERNAME>").AsUTF8Unsafe();
    base::ReplaceSubstringsAfterOffset(&pattern, 0, "\\", "\\\\");
    Write(install_, "installer_prefs.json",
          "{\"profile_path\": \"" + pattern + "\"}");
    Write(profiles.Append(user), "Default\\Preferences", "{}");
    if (other_user)
      Write(profiles, "someone\\Default\\Preferences", "{}");

    Run(base::CommandLine(base::CommandLine::NO_PROGRAM));
    EXPECT_FALSE(base::PathExists(profiles.Append(user)));
    EXPECT_EQ(other_user, base::PathExists(profiles));
    EXPECT_EQ(other_user,
              base::PathExists(profiles.AppendASCII("someone\\Default")));
  }
}

}  // namespace
}  // namespace installer
