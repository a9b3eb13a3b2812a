#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/at_exit.h"
#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/strings/string_util.h"
#include "base/test/scoped_log_lines.h"
#include "base/values.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/common/scheduled_task_info.h"
#include "desktop/windows/installer/common/tracking_data_dictionary.h"
#include "desktop/windows/installer/service/firewall_manager.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/json_installation_status_reader.h"
#include "desktop/windows/installer/service/json_installation_status_writer.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "desktop/windows/installer/service/windows_task_scheduler.h"
#include "desktop/windows/installer/steps/status_steps.h"
#include "desktop/windows/installer/steps/step_test_context.h"
#include "desktop/windows/installer/steps/write_installer_prefs_step.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using Paths = std::vector<base::FilePath>;

class Settings : public test::FakeSettings {
 public:
  bool copy_only = false, all_users = false, import = false, stats = false;
  base::FilePath profile;
  base::string16 language;
  bool GetCopyOnly() const override { return copy_only; }
  bool GetAllUsers() const override { return all_users; }
  bool GetSingleProfile() const override { return true; }
  bool GetImportBrowserData() const override { return import; }
  bool GetEnableKavorStats() const override { return stats; }
  const base::FilePath& GetProfileFolder() const override { return profile; }
  const base::string16& GetLanguage() const override { return language; }
};

class State : public test::FakeInterprocessState {
 public:
  std::string GetSessionGuid() override { return "guid-1"; }
  TrackingDataDictionary* GetTrackingData() override { return &tracking; }
  TrackingDataDictionary tracking;
};

// The run's settings and shared state as the test sets them, and the
// existing installation's status.
class Context : public test::StepTestContext {
 public:
  explicit Context(const base::FilePath& root) : test::StepTestContext(root) {
    own_settings.folder = settings.folder;
    set_settings(&own_settings);
  }
  const InstallationStatus& GetExistingInstallationStatus() override {
    return existing;
  }
  Settings own_settings;
  State own_state;
  InstallationStatus existing{INSTALLATION_STATUS_PRIMARY};
};

class FakeScheduler : public WindowsTaskScheduler {
 public:
  struct Log {
    bool initializes = true, registers = true;
    int made = 0;
    std::vector<ScheduledTaskInfo> registered;
  };
  explicit FakeScheduler(Log* log) : log_(log) { ++log_->made; }
  bool Initialize() override { return log_->initializes; }
  bool RegisterTask(const ScheduledTaskInfo& info) override {
    log_->registered.push_back(info);
    return log_->registers;
  }
  void RemoveOrphanedTasks() override {}
  void RemoveTask(const std::wstring&) override {}
  void SetDailyInterval(const std::wstring&, unsigned) override {}
  void SetTaskEnabled(const std::wstring&, bool) override {}
  bool RunTask(const std::wstring&, const std::vector<std::wstring>&) override {
    return false;
  }
  ScheduledTaskState GetTaskState(const std::wstring&) override {
    return SCHEDULED_TASK_NOT_FOUND;
  }
  base::Time GetLastRunTime(const std::wstring&) override {
    return base::Time();
  }

 private:
  Log* const log_;
};

// Records each rule change as "add PATH" or "remove PATH".
class FakeFirewall : public FirewallManager {
 public:
  FakeFirewall(std::vector<std::string>* log, const base::FilePath& path)
      : log_(log), path_(path.AsUTF8Unsafe()) {}
  bool CanReceiveTraffic() override { return false; }
  bool AddMdnsInboundRule() override {
    log_->push_back("add " + path_);
    return true;
  }
  void RemoveAllRules() override { log_->push_back("remove " + path_); }

 private:
  std::vector<std::string>* const log_;
  const std::string path_;
};

class Security : public SecurityUtilsImpl {
 public:
  bool admin = true;
  bool IsUserAdmin(bool) override { return admin; }
};

class StatusStepsTest : public test::StepTest {
 protected:
  void SetUp() override {
    StepTest::SetUp();
    Use(std::make_unique<Context>(dir_.GetPath()));
    SecurityUtilsImpl::SetInstanceForTesting(&security_);
    SetWindowsTaskSchedulerFactoryForTesting(base::BindRepeating(
        [](FakeScheduler::Log* log) -> std::unique_ptr<WindowsTaskScheduler> {
          return std::make_unique<FakeScheduler>(log);
        },
        &scheduler_));
    SetFirewallManagerCreatorForTesting(base::BindRepeating(
        [](std::vector<std::string>* log,
           const base::FilePath& path) -> std::unique_ptr<FirewallManager> {
          return std::make_unique<FakeFirewall>(log, path);
        },
        &firewall_));
  }
  void TearDown() override {
    SetFirewallManagerCreatorForTesting(FirewallManagerCreator());
    SetWindowsTaskSchedulerFactoryForTesting(WindowsTaskSchedulerFactory());
    SecurityUtilsImpl::SetInstanceForTesting(nullptr);
  }

  void Use(std::unique_ptr<Context> context) {
    ctx_ = context.get();
    context_ = std::move(context);
    ASSERT_TRUE(base::CreateDirectory(install_));
  }

  static InstallerStepResult Run(InstallerStep* step) {
    InstallerStepResult result(STEP_FAILED);
    step->Execute(&result, 0);
    return result;
  }

  static std::string Read(const base::FilePath& path) {
    std::string contents;
    return base::ReadFileToString(path, &contents) ? contents : "(missing)";
  }

  std::unique_ptr<base::DictionaryValue> ReadPrefs() {
    std::unique_ptr<base::Value> value =
        base::JSONReader::Read(Read(install_.Append(L"installer_prefs.json")));
    base::DictionaryValue* dict = nullptr;
    if (!value || !value->GetAsDictionary(&dict))
      return std::make_unique<base::DictionaryValue>();
    return std::unique_ptr<base::DictionaryValue>(
        static_cast<base::DictionaryValue*>(value.release()));
  }

  // The names in |folder|, sorted.
  static std::vector<std::string> Names(const base::FilePath& folder) {
    std::vector<std::string> names;
    base::FileEnumerator files(
        folder, false,
        base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES);
    for (base::FilePath p = files.Next(); !p.empty(); p = files.Next())
      names.push_back(p.BaseName().AsUTF8Unsafe());
    std::sort(names.begin(), names.end());
    return names;
  }

  // The preference pool is released on the thread that made it.
  base::MessageLoop loop_;
  base::AtExitManager exit_manager_;
  Security security_;
  FakeScheduler::Log scheduler_;
  std::vector<std::string> firewall_;
  Context* ctx_ = nullptr;
};

TEST_F(StatusStepsTest, InstallerPrefsKeepOtherKeysAndAutoupdateKeepsChoices) {
  const struct {
    bool autoupdate;
    const char* include;  // null: no include file
    const char* expected_welcome;
    const char* expected_import;  // JSON, null: absent
  } kCases[] = {
      {false, "{\"welcome-url\":\"new\"}", "new", "false"},
      // The user's choices of the first install stay.
      {true, nullptr, "old", "true"},
      {true, "{\"welcome-url\":5}", "old", "true"},
      // The package's damaged file is only read, never repaired.
      {false, "{\"welcome-url\":", "old", "false"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.autoupdate);
    Reset();
    Use(std::make_unique<Context>(dir_.GetPath()));
    Write(install_, "installer_prefs.json",
          "{\"au_task_error_count\":3,\"welcome-url\":\"old\","
          "\"import_browser_data\":true}");
    if (c.include)
      Write(package_, "installer_prefs_include.json", c.include);
    ctx_->own_state.autoupdate = c.autoupdate;
    ctx_->own_state.tracking.SetString("uuid", "niuid-7");
    ctx_->own_settings.language = L"de";
    ctx_->own_settings.stats = true;
    base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
    command_line.AppendSwitchASCII("temp-folder", "C:\\t");
    WriteInstallerPrefsStep step(context_.get(), &ctx_->own_state,
                                 &command_line);
    EXPECT_EQ(STEP_DONE, Run(&step).status);
    if (c.include) {
      EXPECT_TRUE(
          base::PathExists(package_.Append(L"installer_prefs_include.json")));
      EXPECT_FALSE(base::PathExists(
          package_.Append(L"installer_prefs_include.json.bad")));
    }

    std::unique_ptr<base::DictionaryValue> prefs = ReadPrefs();
    std::string text;
    EXPECT_TRUE(prefs->GetString("welcome-url", &text) &&
                text == c.expected_welcome);
    int count = 0;
    EXPECT_TRUE(prefs->GetInteger("au_task_error_count", &count) && count == 3);
    bool flag = false;
    EXPECT_TRUE(prefs->GetBoolean("autoupdate", &flag) && flag == c.autoupdate);
    EXPECT_TRUE(prefs->GetBoolean("single_profile", &flag) && flag);
    EXPECT_TRUE(prefs->GetString("language", &text) && text == "de");
    EXPECT_TRUE(prefs->GetString("last_installation_guid", &text) &&
                text == "guid-1");
    EXPECT_TRUE(prefs->GetString("installer_id", &text) && text == "niuid-7");
    EXPECT_TRUE(prefs->GetString("temp_folder", &text) && text == "C:\\t");
    EXPECT_FALSE(prefs->HasKey("profile_path"));
    const base::Value* import = nullptr;
    ASSERT_TRUE(prefs->Get("import_browser_data", &import));
    EXPECT_EQ(c.expected_import, import->is_bool() && import->GetBool()
                                     ? std::string("true")
                                     : std::string("false"));
    EXPECT_EQ(!c.autoupdate, prefs->HasKey("enable_stats"));
    // No experiment differs from its default in this process.
    const base::ListValue* list = nullptr;
    EXPECT_TRUE(prefs->GetList("installer-experiments", &list) &&
                list->empty());
    ASSERT_TRUE(prefs->GetList("all-installer-experiments", &list));
    ASSERT_EQ(3u, list->GetSize());
    EXPECT_TRUE(list->GetString(0, &text) &&
                text == "installer-experiment-test@2");
  }
}

TEST_F(StatusStepsTest, StatusIsWrittenThroughTheTransaction) {
  const base::FilePath file = install_.Append(L"installation_status.json");
  Write(install_, "installation_status.json", "previous");
  InstallationStatus* status = ctx_->GetStatusUnderConstruction();
  status->path = install_;
  status->version = "47.0.4127.0";
  status->files = {base::FilePath(L"kavor.exe")};
  WriteInstallationStatusStep write(context_.get(), false);
  EXPECT_EQ(STEP_DONE, Run(&write).status);
  std::unique_ptr<InstallationStatus> read;
  JsonInstallationStatusReader().Read(&read, Read(file),
                                      INSTALLATION_STATUS_PRIMARY);
  ASSERT_TRUE(read);
  // The subfolder is that of the target folder.
  EXPECT_EQ(base::FilePath(L"47.0.4127.0"), read->subfolder);
  EXPECT_EQ(Paths({base::FilePath(L"kavor.exe")}), read->files);
  RollbackOperations(ctx_->GetTransaction());
  EXPECT_EQ("previous", Read(file));
  EXPECT_EQ(std::vector<std::string>({"installation_status.json"}),
            Names(install_));

  // A record that cannot be stored fails the step and keeps the file.
  status->files.push_back(base::FilePath(L"a\x01"));
  const InstallerStepResult failed = Run(&write);
  EXPECT_EQ(STEP_FAILED, failed.status);
  EXPECT_EQ(RESULT_GENERAL_ERROR, failed.code);
  EXPECT_EQ("Failed saving the installation status", failed.message);
  EXPECT_EQ("previous", Read(file));

  // A repair adds its files to the existing record.
  ctx_->existing.subfolder = base::FilePath(L"46.0");
  ctx_->existing.files = {base::FilePath(L"a.pak"), base::FilePath(L"b.pak")};
  status->files = {base::FilePath(L"b.pak"), base::FilePath(L"c.pak")};
  WriteInstallationStatusStep update(context_.get(), true);
  EXPECT_EQ("update_installation_status", update.name());
  EXPECT_EQ(STEP_DONE, Run(&update).status);
  JsonInstallationStatusReader().Read(&read, Read(file),
                                      INSTALLATION_STATUS_PRIMARY);
  ASSERT_TRUE(read);
  EXPECT_EQ(base::FilePath(L"46.0"), read->subfolder);
  EXPECT_EQ(Paths({base::FilePath(L"a.pak"), base::FilePath(L"b.pak"),
                   base::FilePath(L"c.pak")}),
            read->files);
}

// Writes a status of |subfolder| listing |files| at |path|.
void WriteOldStatus(const base::FilePath& path,
                    const std::string& subfolder,
                    const std::vector<std::string>& files) {
  InstallationStatus status;
  status.subfolder = base::FilePath::FromUTF8Unsafe(subfolder);
  for (const std::string& file : files)
    status.files.push_back(base::FilePath::FromUTF8Unsafe(file));
  ASSERT_TRUE(JsonInstallationStatusWriter().WriteToFile(status, path));
}

TEST_F(StatusStepsTest, UpgradeMovesTheStatusAndALaterRunRemovesItsFiles) {
  Write(install_, "installation_status.json", "{}");
  MoveOldStatusStep move(context_.get());
  EXPECT_EQ(STEP_DONE, Run(&move).status);
  const base::FilePath old_status = install_.Append(L"old_status");
  std::vector<std::string> names = Names(old_status);
  ASSERT_EQ(1u, names.size());
  const std::string kPrefix = "installation_status.json.";
  EXPECT_TRUE(
      base::StartsWith(names[0], kPrefix, base::CompareCase::SENSITIVE) &&
      names[0].size() > kPrefix.size() &&
      names[0].find_first_not_of("0123456789", kPrefix.size()) ==
          std::string::npos)
      << names[0];
  // Undone with the run, folder and all.
  RollbackOperations(ctx_->GetTransaction());
  EXPECT_EQ(std::vector<std::string>({"installation_status.json"}),
            Names(install_));

  // Three older installations: one whose file is busy, one whose files can
  // go, and one that cannot be read; a stray file is no status.
  Write(install_, "1\\a.dll", "a");
  Write(install_, "1\\sub\\b.dll", "b");
  Write(install_, "2\\c.dll", "c");
  Write(install_, "2\\d.dll", "d");
  Write(install_, "old_status\\notes.txt", "n");
  Write(install_, "old_status\\x.json.3", "{");
  WriteOldStatus(old_status.Append(L"installation_status.json.1"), "1",
                 {"a.dll", "sub\\b.dll", "missing.dll"});
  WriteOldStatus(old_status.Append(L"installation_status.json.2"), "2",
                 {"c.dll", "d.dll"});
  base::win::ScopedHandle busy(
      ::CreateFileW(install_.Append(L"2\\d.dll").value().c_str(), GENERIC_READ,
                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(busy.IsValid());
  ctx_->own_settings.operation = OPERATION_UPGRADE;
  {
    base::ScopedLogLines log(base::logging::LOG_ERROR,
                             base::logging::LOG_ERROR);
    RemoveOldFilesStep remove(context_.get());
    EXPECT_EQ(STEP_DONE, Run(&remove).status);
    EXPECT_NE(std::string::npos,
              log.text().find("Found invalid old status file: " +
                              old_status.Append(L"x.json.3").AsUTF8Unsafe()))
        << log.text();
  }
  // The busy installation is whole again; the other one is gone with its
  // status file and emptied folders.
  EXPECT_EQ("c", Read(install_.Append(L"2\\c.dll")));
  EXPECT_FALSE(base::PathExists(install_.Append(L"1")));
  EXPECT_EQ(std::vector<std::string>(
                {"installation_status.json.2", "notes.txt", "x.json.3"}),
            Names(old_status));
  EXPECT_EQ(std::vector<std::string>(
                {"remove " + install_.Append(L"1\\kavor.exe").AsUTF8Unsafe(),
                 "remove " + install_.Append(L"2\\kavor.exe").AsUTF8Unsafe()}),
            firewall_);

  // An uninstall removes what it can and keeps the status of what stayed.
  ctx_->own_settings.operation = OPERATION_UNINSTALL;
  WriteOldStatus(old_status.Append(L"installation_status.json.2"), "2",
                 {"d.dll", "c.dll"});
  RemoveOldFilesStep uninstall(context_.get());
  EXPECT_EQ(STEP_DONE, Run(&uninstall).status);
  EXPECT_FALSE(base::PathExists(install_.Append(L"2\\c.dll")));
  EXPECT_TRUE(base::PathExists(install_.Append(L"2\\d.dll")));
  EXPECT_TRUE(
      base::PathExists(old_status.Append(L"installation_status.json.2")));
}

TEST_F(StatusStepsTest, OldStatusesCannotReachOutsideTheirFolder) {
  Write(install_, "outside.dll", "o");
  Write(install_, "1\\a.dll", "a");
  const base::FilePath old_status = install_.Append(L"old_status");
  ASSERT_TRUE(base::CreateDirectory(old_status));
  WriteOldStatus(old_status.Append(L"s.json.1"), "1", {"..\\outside.dll"});
  WriteOldStatus(old_status.Append(L"s.json.2"), "..", {"a.dll"});
  WriteOldStatus(old_status.Append(L"s.json.3"), "", {"outside.dll"});
  ctx_->own_settings.operation = OPERATION_UNINSTALL;
  RemoveOldFilesStep remove(context_.get());
  EXPECT_EQ(STEP_DONE, Run(&remove).status);
  EXPECT_EQ("o", Read(install_.Append(L"outside.dll")));
  EXPECT_EQ("a", Read(install_.Append(L"1\\a.dll")));
  EXPECT_EQ(std::vector<std::string>({"s.json.1", "s.json.2", "s.json.3"}),
            Names(old_status));

  // Root files of the existing status, the same way.
  Write(install_, "launcher.exe", "l");
  ctx_->existing.root_files = {base::FilePath(L"launcher.exe"),
                               base::FilePath(L"..\\x.exe"),
                               base::FilePath(L"C:\\x.exe")};
  RemoveOldRootFilesStep root(context_.get());
  EXPECT_EQ(STEP_DONE, Run(&root).status);
  EXPECT_FALSE(base::PathExists(install_.Append(L"launcher.exe")));
  RollbackOperations(ctx_->GetTransaction());
  EXPECT_EQ("l", Read(install_.Append(L"launcher.exe")));
}

TEST_F(StatusStepsTest, FinalizeRegistersTheTaskAndTheFirewallRule) {
  const struct {
    bool initializes, registers, copy_only, all_users, temporary_permission;
    const char* prefs;   // null: no file
    int expected_count;  // -1: key absent
    const char* error;   // expected error line, null: none
  } kCases[] = {
      {true, true, false, false, false, "{\"au_task_error_count\":3}", 2,
       nullptr},
      {true, true, false, true, false, "{\"au_task_error_count\":0}", 0,
       nullptr},
      {true, true, false, false, false, nullptr, -1, nullptr},
      {true, false, false, false, false, "{\"au_task_error_count\":3}", 3,
       "Could not create scheduled task"},
      {false, true, false, false, false, "{\"au_task_error_count\":3}", 3,
       "Could not initialize task scheduler"},
      // No task for a standalone copy, nor for a per-user run that holds
      // another user's grant on the folder.
      {true, true, true, false, false, "{\"au_task_error_count\":3}", 3,
       nullptr},
      {true, true, false, false, true, "{\"au_task_error_count\":3}", 3,
       nullptr},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(&c - kCases);
    Reset();
    Use(std::make_unique<Context>(dir_.GetPath()));
    scheduler_ = FakeScheduler::Log();
    scheduler_.initializes = c.initializes;
    scheduler_.registers = c.registers;
    firewall_.clear();
    ctx_->own_settings.copy_only = c.copy_only;
    ctx_->own_settings.all_users = c.all_users;
    if (c.temporary_permission) {
      ctx_->set_permission_undo_event(base::win::ScopedHandle(
          ::CreateEventW(nullptr, TRUE, FALSE, nullptr)));
    }
    ctx_->GetStatusUnderConstruction()->app_id = L"1520900000";
    if (c.prefs)
      Write(install_, "installer_prefs.json", c.prefs);
    FinalizeStep step(context_.get());
    base::ScopedLogLines log(base::logging::LOG_ERROR,
                             base::logging::LOG_ERROR);
    EXPECT_EQ(STEP_DONE, Run(&step).status);
    EXPECT_EQ(c.error ? std::string(c.error) + "\n" : "", log.text());

    const bool expect_task = !c.copy_only && !c.temporary_permission;
    EXPECT_EQ(expect_task ? 1 : 0, scheduler_.made);
    EXPECT_EQ(expect_task && c.initializes ? 1u : 0u,
              scheduler_.registered.size());
    if (!scheduler_.registered.empty()) {
      const ScheduledTaskInfo& info = scheduler_.registered[0];
      EXPECT_EQ(L"Autoupdate 1520900000", info.name);
      EXPECT_EQ(install_.Append(L"launcher.exe"),
                info.command_line.GetProgram());
      EXPECT_EQ(L"--scheduledautoupdate $(Arg0)",
                info.command_line.GetArgumentsString());
      EXPECT_EQ(c.all_users ? 1u : 0u, info.run_as_system);
      EXPECT_EQ(3600u, info.execution_time_limit_seconds);
      EXPECT_EQ(DAILY, info.schedule);
      EXPECT_TRUE(info.add_logon_trigger && info.run_only_if_network_available);
      EXPECT_FALSE(info.description.empty());
    }
    std::unique_ptr<base::DictionaryValue> prefs = ReadPrefs();
    int count = -1;
    prefs->GetInteger("au_task_error_count", &count);
    EXPECT_EQ(c.expected_count, count);
    EXPECT_EQ(std::vector<std::string>(
                  {"add " + target_.Append(L"kavor.exe").AsUTF8Unsafe()}),
              firewall_);
  }
  // Only an administrator sets up the firewall.
  security_.admin = false;
  firewall_.clear();
  FinalizeStep step(context_.get());
  Run(&step);
  EXPECT_TRUE(firewall_.empty());
}

TEST_F(StatusStepsTest, UninstallFinalizeFailsWhenTheStatusStays) {
  const base::FilePath file = install_.Append(L"installation_status.json");
  Write(install_, "installation_status.json", "s");
  UninstallFinalizeStep step(context_.get());
  {
    base::win::ScopedHandle busy(
        ::CreateFileW(file.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                      nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(busy.IsValid());
    const InstallerStepResult result = Run(&step);
    EXPECT_EQ(STEP_FAILED, result.status);
    EXPECT_EQ(RESULT_UNINSTALL_ERROR, result.code);
    EXPECT_EQ("Failed to remove installation status file", result.message);
    EXPECT_EQ("s", Read(file));
  }
  EXPECT_EQ(STEP_DONE, Run(&step).status);
  EXPECT_FALSE(base::PathExists(file));
}

TEST_F(StatusStepsTest, TrackingDataIsWrittenOnlyWhenThereIsSome) {
  const base::FilePath file = install_.Append(L"server_tracking_data");
  InstallTrackingDataStep step(context_.get(), &ctx_->own_state);
  EXPECT_EQ(STEP_DONE, Run(&step).status);
  EXPECT_FALSE(base::PathExists(file));
  ctx_->own_state.tracking.SetString("utm.medium", "m");
  EXPECT_EQ(STEP_DONE, Run(&step).status);
  TrackingDataDictionary read;
  ASSERT_TRUE(read.ParseTrackingBlob(Read(file)));
  EXPECT_EQ("m", read.GetString("utm.medium").value_or(""));
  RollbackOperations(ctx_->GetTransaction());
  EXPECT_FALSE(base::PathExists(file));
}

}  // namespace
}  // namespace installer
