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
#include "base/json/json_writer.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/strings/string_number_conversions.h"
#include "base/test/scoped_log_lines.h"
#include "base/values.h"
#include "base/win/scoped_com_initializer.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/common/scheduled_task_info.h"
#include "desktop/windows/installer/common/tracking_data_dictionary.h"
#include "desktop/windows/installer/os_operations_impl.h"
#include "desktop/windows/installer/service/firewall_manager.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/json_installation_status_reader.h"
#include "desktop/windows/installer/service/json_installation_status_writer.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "desktop/windows/installer/service/windows_task_scheduler.h"
#include "desktop/windows/installer/steps/status_steps.h"
#include "desktop/windows/installer/steps/step_test_context.h"
#include "desktop/windows/installer/steps/uninstall_finalization.h"
#include "desktop/windows/installer/steps/write_installer_prefs_step.h"
#include "desktop/windows/installer/test/fake_association_operations.h"
#include "desktop/windows/installer/test/fake_security_utils.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using Strings = std::vector<std::string>;

class Settings : public test::FakeSettings {
 public:
  bool copy_only = false, all_users = false, stats = false;
  base::string16 language;
  bool GetCopyOnly() const override { return copy_only; }
  bool GetAllUsers() const override { return all_users; }
  bool GetSingleProfile() const override { return true; }
  bool GetEnableKavorStats() const override { return stats; }
  const base::string16& GetLanguage() const override { return language; }
};

class State : public test::FakeInterprocessState {
 public:
  std::string GetSessionGuid() override { return "guid-1"; }
  TrackingDataDictionary* GetTrackingData() override { return &tracking; }
  TrackingDataDictionary tracking;
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
  Settings own_settings;
  State own_state;
  InstallationStatus existing{INSTALLATION_STATUS_PRIMARY};
};

class FakeScheduler : public WindowsTaskScheduler {
 public:
  struct Log {
    bool initializes = true, registers = true;
    std::vector<ScheduledTaskInfo> registered;
    Strings calls;
  };
  explicit FakeScheduler(Log* log) : log_(log) {}
  bool Initialize() override {
    log_->calls.push_back("Initialize");
    return log_->initializes;
  }
  bool RegisterTask(const ScheduledTaskInfo& info) override {
    log_->calls.push_back("RegisterTask");
    log_->registered.push_back(info);
    return log_->registers;
  }
  void RemoveOrphanedTasks() override {
    log_->calls.push_back("RemoveOrphanedTasks");
  }
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
  FakeFirewall(Strings* log, const base::FilePath& path)
      : log_(log), path_(path.AsUTF8Unsafe()) {}
  bool CanReceiveTraffic() override { return false; }
  bool AddMdnsInboundRule() override {
    log_->push_back("add " + path_);
    return true;
  }
  void RemoveAllRules() override { log_->push_back("remove " + path_); }

 private:
  Strings* const log_;
  const std::string path_;
};

// The uninstall finalization without the shell, the reset of the default
// browser or the survey.
class QuietFinalization : public UninstallFinalizationOperations {
 public:
  void BroadcastBrowserChange() override {}
  bool ReadReinstallCommand(base::string16*) override { return false; }
  bool RunAndWait(const base::string16&, const base::string16&) override {
    return false;
  }
  void LaunchDetached(const base::string16&) override {}
};

class StatusStepsTest : public test::StepTest {
 protected:
  void SetUp() override {
    Fresh();
    SecurityUtilsImpl::SetInstanceForTesting(&security_);
    SetUninstallFinalizationOperationsForTesting(&finalization_);
    SetWindowsTaskSchedulerFactoryForTesting(base::BindRepeating(
        [](FakeScheduler::Log* log) -> std::unique_ptr<WindowsTaskScheduler> {
          return std::make_unique<FakeScheduler>(log);
        },
        &scheduler_));
    SetFirewallManagerCreatorForTesting(base::BindRepeating(
        [](Strings* log,
           const base::FilePath& path) -> std::unique_ptr<FirewallManager> {
          return std::make_unique<FakeFirewall>(log, path);
        },
        &firewall_));
  }
  void TearDown() override {
    SetFirewallManagerCreatorForTesting(FirewallManagerCreator());
    SetWindowsTaskSchedulerFactoryForTesting(WindowsTaskSchedulerFactory());
    SetUninstallFinalizationOperationsForTesting(nullptr);
    SecurityUtilsImpl::SetInstanceForTesting(nullptr);
  }

  // A new folder, run and fakes' records, for each case of a table.
  void Fresh() {
    Reset();
    ctx_ = new Context(dir_.GetPath());
    context_.reset(ctx_);
    scheduler_ = FakeScheduler::Log();
    firewall_.clear();
    ASSERT_TRUE(base::CreateDirectory(install_));
  }

  static InstallerStepResult Run(InstallerStep* step) {
    InstallerStepResult result(STEP_FAILED);
    step->Execute(&result, 0);
    return result;
  }

  base::FilePath In(const std::string& relative) const {
    return install_.AppendASCII(relative);
  }

  static std::string Read(const base::FilePath& path) {
    std::string contents;
    return base::ReadFileToString(path, &contents) ? contents : "(missing)";
  }

  // The installer preferences |keys| as JSON, each followed by a space;
  // an absent one is only the space.
  std::string Prefs(std::initializer_list<const char*> keys) const {
    std::unique_ptr<base::Value> prefs =
        base::JSONReader::Read(Read(In("installer_prefs.json")));
    const base::DictionaryValue* dict = nullptr;
    std::string all, json;
    for (const char* key : keys) {
      const base::Value* value = nullptr;
      if (!prefs || !prefs->GetAsDictionary(&dict) ||
          !dict->GetWithoutPathExpansion(key, &value) ||
          !base::JSONWriter::Write(*value, &json)) {
        json.clear();
      }
      all += json + " ";
    }
    return all;
  }

  // The status in the install folder; an empty one when it cannot be read.
  InstallationStatus ReadStatus() const {
    std::unique_ptr<InstallationStatus> status;
    JsonInstallationStatusReader().Read(&status,
                                        Read(In("installation_status.json")),
                                        INSTALLATION_STATUS_PRIMARY);
    return status ? *status : InstallationStatus();
  }

  static Strings Names(const base::FilePath& folder) {
    Strings names;
    base::FileEnumerator files(
        folder, false,
        base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES);
    for (base::FilePath p = files.Next(); !p.empty(); p = files.Next())
      names.push_back(p.BaseName().AsUTF8Unsafe());
    std::sort(names.begin(), names.end());
    return names;
  }

  static base::win::ScopedHandle OpenForReading(const base::FilePath& path) {
    return base::win::ScopedHandle(
        ::CreateFileW(path.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                      nullptr, OPEN_EXISTING, 0, nullptr));
  }

  // A status of |subfolder| listing |files|, as old_status\|name|.
  void WriteOldStatus(const std::string& name,
                      const std::string& subfolder,
                      const Strings& files) {
    InstallationStatus status;
    status.subfolder = base::FilePath::FromUTF8Unsafe(subfolder);
    for (const std::string& file : files)
      status.files.push_back(base::FilePath::FromUTF8Unsafe(file));
    Write(install_, "old_status\\" + name,
          JsonInstallationStatusWriter().ToJson(status));
  }

  // The backend's main thread, where the legacy XML copies are parsed.
  base::win::ScopedCOMInitializer com_;
  // The preference pool is released on the thread that made it.
  base::MessageLoop loop_;
  base::AtExitManager exit_manager_;
  test::FakeSecurityUtils security_;
  QuietFinalization finalization_;
  FakeScheduler::Log scheduler_;
  Strings firewall_;
  Context* ctx_ = nullptr;
};

TEST_F(StatusStepsTest, InstallerPrefsKeepOtherKeysAndAutoupdateKeepsChoices) {
  const struct {
    bool autoupdate;
    const char* include;  // null: no include file
    // welcome-url, autoupdate, import_browser_data and enable_stats.
    const char* choices;
  } kCases[] = {
      {false, "{\"welcome-url\":\"new\"}", "\"new\" false false true "},
      // The user's choices of the first install stay.
      {true, nullptr, "\"old\" true true  "},
      {true, "{\"welcome-url\":5}", "\"old\" true true  "},
      // The package's damaged file is only read, never repaired.
      {false, "{\"welcome-url\":", "\"old\" false false true "}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(&c - kCases);
    Fresh();
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
    EXPECT_EQ(c.include ? c.include : "(missing)",
              Read(package_.Append(L"installer_prefs_include.json")));
    EXPECT_FALSE(
        base::PathExists(package_.Append(L"installer_prefs_include.json.bad")));
    EXPECT_EQ(c.choices, Prefs({"welcome-url", "autoupdate",
                                "import_browser_data", "enable_stats"}));
    // No experiment differs from its default in this process.
    EXPECT_EQ(R"(3 true "de" "guid-1" "niuid-7" "C:\\t"  [] )",
              Prefs({"au_task_error_count", "single_profile", "language",
                     "last_installation_guid", "installer_id", "temp_folder",
                     "profile_path", "installer-experiments"}));
    EXPECT_EQ(
        R"(["installer-experiment-test@2","installer-use-minimal-package@2",)"
        R"("installer-handle-proprietary-uris@2"] )",
        Prefs({"all-installer-experiments"}));
  }
}

// A run with no package folder (a protocol handler registration) has no
// include file: one of that name in the current folder is anybody's.
TEST_F(StatusStepsTest, InstallerPrefsTakeNoIncludeFromTheCurrentFolder) {
  base::ScopedTempDir current;
  ASSERT_TRUE(current.CreateUniqueTempDir());
  const std::string hostile = "{\"welcome-url\":\"http://hostile\"}";
  Write(current.GetPath(), "installer_prefs_include.json", hostile);
  Write(current.GetPath(), "package\\installer_prefs_include.json", hostile);
  base::FilePath previous;
  ASSERT_TRUE(base::GetCurrentDirectory(&previous));
  ASSERT_TRUE(base::SetCurrentDirectory(current.GetPath()));
  for (const wchar_t* package : {L"", L"package"}) {
    SCOPED_TRACE(package);
    Fresh();
    Write(install_, "installer_prefs.json", "{\"welcome-url\":\"old\"}");
    ctx_->state.package_dir = base::FilePath(package);
    base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
    WriteInstallerPrefsStep step(context_.get(), &ctx_->own_state,
                                 &command_line);
    EXPECT_EQ(STEP_DONE, Run(&step).status);
    EXPECT_EQ("\"old\" false ", Prefs({"welcome-url", "autoupdate"}));
  }
  EXPECT_TRUE(base::SetCurrentDirectory(previous));
}

// A failed upgrade puts back the preferences it found, byte for byte; a
// failed install removes the file it made. A run that succeeds keeps the
// new file and nothing else.
TEST_F(StatusStepsTest, InstallerPrefsGoThroughTheTransaction) {
  const char kFound[] =
      "{\"au_task_error_count\":3,\n \"language\":\"en\",\"enable_stats\":true}";
  for (const char* found : {static_cast<const char*>(kFound), "{\"lang", ""}) {
    for (bool commit : {false, true}) {
      SCOPED_TRACE(std::string(found) + (commit ? " committed" : ""));
      Fresh();
      if (*found)
        Write(install_, "installer_prefs.json", found);
      ctx_->own_settings.language = L"de";
      ctx_->own_settings.stats = false;
      base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
      WriteInstallerPrefsStep step(context_.get(), &ctx_->own_state,
                                   &command_line);
      EXPECT_EQ(STEP_DONE, Run(&step).status);
      EXPECT_EQ("\"de\" false ", Prefs({"language", "enable_stats"}));
      EXPECT_EQ(found == kFound ? "3 " : " ", Prefs({"au_task_error_count"}));
      if (commit) {
        CommitOperations(ctx_->GetTransaction());
        EXPECT_EQ("\"de\" false ", Prefs({"language", "enable_stats"}));
        EXPECT_EQ(Strings({"installer_prefs.json"}), Names(install_));
        continue;
      }
      RollbackOperations(ctx_->GetTransaction());
      if (*found) {
        EXPECT_EQ(found, Read(In("installer_prefs.json")));
        EXPECT_EQ(Strings({"installer_prefs.json"}), Names(install_));
      } else {
        EXPECT_EQ(Strings(), Names(install_));
      }
    }
  }
}

TEST_F(StatusStepsTest, StatusAndTrackingDataGoThroughTheTransaction) {
  Write(install_, "installation_status.json", "previous");
  InstallTrackingDataStep tracking(context_.get(), &ctx_->own_state);
  EXPECT_EQ(STEP_DONE, Run(&tracking).status);
  EXPECT_FALSE(base::PathExists(In("server_tracking_data")));
  ctx_->own_state.tracking.SetString("utm.medium", "m");
  EXPECT_EQ(STEP_DONE, Run(&tracking).status);
  TrackingDataDictionary read;
  ASSERT_TRUE(read.ParseTrackingBlob(Read(In("server_tracking_data"))));
  EXPECT_EQ("m", read.GetString("utm.medium").value_or(""));

  // Root files of the existing status, but none outside the folder.
  Write(install_, "launcher.exe", "l");
  Write(dir_.GetPath(), "x.exe", "x");
  ctx_->existing.root_files = {base::FilePath(L"launcher.exe"),
                               base::FilePath(L"..\\x.exe")};
  RemoveOldRootFilesStep root(context_.get());
  EXPECT_EQ(STEP_DONE, Run(&root).status);
  EXPECT_FALSE(base::PathExists(In("launcher.exe")));
  EXPECT_EQ("x", Read(dir_.GetPath().Append(L"x.exe")));

  InstallationStatus* status = ctx_->GetStatusUnderConstruction();
  status->files = {base::FilePath(L"kavor.exe")};
  WriteInstallationStatusStep write(context_.get(), false);
  EXPECT_EQ(STEP_DONE, Run(&write).status);
  EXPECT_EQ(base::FilePath(L"47.0.4127.0"), ReadStatus().subfolder);
  EXPECT_EQ(status->files, ReadStatus().files);
  RollbackOperations(ctx_->GetTransaction());
  EXPECT_EQ("previous", Read(In("installation_status.json")));
  EXPECT_EQ("l", Read(In("launcher.exe")));
  EXPECT_EQ(Strings({"installation_status.json", "launcher.exe"}),
            Names(install_));

  // A record that cannot be stored fails the step and keeps the file.
  status->files.push_back(base::FilePath(L"a\x01"));
  const InstallerStepResult failed = Run(&write);
  EXPECT_EQ(STEP_FAILED, failed.status);
  EXPECT_EQ(RESULT_GENERAL_ERROR, failed.code);
  EXPECT_EQ("Failed saving the installation status", failed.message);
  EXPECT_EQ("previous", Read(In("installation_status.json")));

  // A repair adds its files to the existing record.
  ctx_->existing.subfolder = base::FilePath(L"46.0");
  ctx_->existing.files = {base::FilePath(L"a.pak"), base::FilePath(L"b.pak")};
  status->files = {base::FilePath(L"b.pak"), base::FilePath(L"c.pak")};
  WriteInstallationStatusStep update(context_.get(), true);
  EXPECT_EQ(STEP_DONE, Run(&update).status);
  EXPECT_EQ(base::FilePath(L"46.0"), ReadStatus().subfolder);
  ctx_->existing.files.push_back(base::FilePath(L"c.pak"));
  EXPECT_EQ(ctx_->existing.files, ReadStatus().files);

  // An uninstall that cannot remove the status says so.
  UninstallFinalizeStep finalize(context_.get());
  {
    base::win::ScopedHandle busy =
        OpenForReading(In("installation_status.json"));
    ASSERT_TRUE(busy.IsValid());
    const InstallerStepResult result = Run(&finalize);
    EXPECT_EQ(STEP_FAILED, result.status);
    EXPECT_EQ(RESULT_UNINSTALL_ERROR, result.code);
    EXPECT_EQ("Failed to remove installation status file", result.message);
  }
  EXPECT_EQ(base::FilePath(L"46.0"), ReadStatus().subfolder);
  EXPECT_TRUE(firewall_.empty());
  EXPECT_EQ(STEP_DONE, Run(&finalize).status);
  EXPECT_FALSE(base::PathExists(In("installation_status.json")));
  // Only a removed status finalizes the uninstall.
  EXPECT_EQ(Strings{"remove " + In("46.0\\kavor.exe").AsUTF8Unsafe()},
            firewall_);
}

// An installation that an older installer made has only the legacy status;
// the uninstall takes whichever status there is, both when both are there,
// and the failure to remove one fails it as for the primary file.
TEST_F(StatusStepsTest, UninstallRemovesTheLegacyStatusToo) {
  const struct {
    const char* label;
    Strings before;
    const char* busy;
    bool done;
  } kCases[] = {
      {"legacy only", {"installation_status.xml"}, nullptr, true},
      {"both", {"installation_status.json", "installation_status.xml"},
       nullptr, true},
      {"legacy busy", {"installation_status.json", "installation_status.xml"},
       "installation_status.xml", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    Fresh();
    for (const std::string& name : c.before)
      Write(install_, name, "status");
    Write(install_, "installer_prefs.json", "{}");
    base::win::ScopedHandle busy;
    if (c.busy)
      busy = OpenForReading(In(c.busy));
    UninstallFinalizeStep finalize(context_.get());
    const InstallerStepResult result = Run(&finalize);
    busy.Close();
    if (c.done) {
      EXPECT_EQ(STEP_DONE, result.status);
      for (const std::string& name : c.before)
        EXPECT_FALSE(base::PathExists(In(name))) << name;
    } else {
      EXPECT_EQ(STEP_FAILED, result.status);
      EXPECT_EQ(RESULT_UNINSTALL_ERROR, result.code);
      EXPECT_EQ("Failed to remove installation status file", result.message);
    }
    // The uninstall's rollback brings every status back.
    RollbackOperations(ctx_->GetTransaction());
    Strings expected = c.before;
    expected.push_back("installer_prefs.json");
    EXPECT_EQ(expected, Names(install_));
  }
}

TEST_F(StatusStepsTest, UpgradeMovesTheStatusAndALaterRunRemovesItsFiles) {
  Write(install_, "installation_status.json", "{}");
  MoveOldStatusStep move(context_.get());
  EXPECT_EQ(STEP_DONE, Run(&move).status);
  const Strings moved = Names(In("old_status"));
  ASSERT_EQ(1u, moved.size());
  const std::string kPrefix = "installation_status.json.";
  int64_t time = 0;
  EXPECT_TRUE(moved[0].compare(0, kPrefix.size(), kPrefix) == 0 &&
              base::StringToInt64(moved[0].substr(kPrefix.size()), &time) &&
              time > 0)
      << moved[0];
  // Undone with the run, folder and all.
  RollbackOperations(ctx_->GetTransaction());
  EXPECT_EQ(Strings({"installation_status.json"}), Names(install_));

  // Three older installations: one whose file is busy, one whose files can
  // go, and one that cannot be read; a stray file is no status.
  for (const char* file : {"1\\a.dll", "1\\sub\\b.dll", "2\\c.dll", "2\\d.dll",
                           "old_status\\notes.txt"}) {
    Write(install_, file, file);
  }
  Write(install_, "old_status\\x.json.3", "{");
  WriteOldStatus("installation_status.json.1", "1",
                 {"a.dll", "sub\\b.dll", "missing.dll"});
  WriteOldStatus("installation_status.json.2", "2", {"c.dll", "d.dll"});
  base::win::ScopedHandle busy = OpenForReading(In("2\\d.dll"));
  ASSERT_TRUE(busy.IsValid());
  ctx_->own_settings.operation = OPERATION_UPGRADE;
  {
    base::ScopedLogLines log(base::logging::LOG_ERROR,
                             base::logging::LOG_ERROR);
    RemoveOldFilesStep remove(context_.get());
    EXPECT_EQ(STEP_DONE, Run(&remove).status);
    EXPECT_NE(std::string::npos,
              log.text().find("Found invalid old status file: " +
                              In("old_status\\x.json.3").AsUTF8Unsafe()))
        << log.text();
  }
  EXPECT_EQ("2\\c.dll", Read(In("2\\c.dll")));
  EXPECT_FALSE(base::PathExists(In("1")));
  EXPECT_EQ(Strings({"installation_status.json.2", "notes.txt", "x.json.3"}),
            Names(In("old_status")));
  EXPECT_EQ(Strings({"remove " + In("1\\kavor.exe").AsUTF8Unsafe(),
                     "remove " + In("2\\kavor.exe").AsUTF8Unsafe()}),
            firewall_);

  // An uninstall removes what it can and keeps the status of what stayed;
  // no status reaches outside its folder.
  ctx_->own_settings.operation = OPERATION_UNINSTALL;
  WriteOldStatus("installation_status.json.2", "2", {"d.dll", "c.dll"});
  Write(install_, "2\\e.dll", "e");
  Write(install_, "outside.dll", "o");
  WriteOldStatus("s.json.4", "2", {"..\\outside.dll"});
  WriteOldStatus("s.json.5", "..", {"e.dll"});
  WriteOldStatus("s.json.6", "", {"2\\e.dll"});
  // An older installer's log is read as well.
  Write(install_, "3\\f.dll", "f");
  Write(install_, "old_status\\installation_status.xml.7",
        "<install_log version=\"1\" copy_only=\"False\" all_users=\"False\">"
        "<path subfolder=\"3\">C:\\K</path><files><file>f.dll</file></files>"
        "<root_files><file>r</file></root_files></install_log>");
  RemoveOldFilesStep uninstall(context_.get());
  EXPECT_EQ(STEP_DONE, Run(&uninstall).status);
  EXPECT_FALSE(base::PathExists(In("2\\c.dll")));
  EXPECT_FALSE(base::PathExists(In("3\\f.dll")));
  EXPECT_EQ("o", Read(In("outside.dll")));
  EXPECT_EQ("e", Read(In("2\\e.dll")));
  EXPECT_EQ(Strings({"installation_status.json.2", "notes.txt", "s.json.4",
                     "s.json.5", "s.json.6", "x.json.3"}),
            Names(In("old_status")));
}

// Counts the calls that would change the default browser.
class DefaultBrowserOperations : public OsOperationsImpl {
 public:
  void StoreDefaultBrowserSettings(const installer::Settings&,
                                   const InstallationStatus*) override {
    ++stored;
  }
  int stored = 0;
};

TEST_F(StatusStepsTest, ProtocolHandlersOfAnElevatedBackendOnWindows10) {
  const struct {
    base::win::Version version;
    bool can_set_directly, parent_pid;
    int stored;
  } kCases[] = {
      // Only the Settings app could make the change; the backend that
      // started this elevated one is the user's.
      {base::win::WIN10, false, true, 0},
      {base::win::WIN10, true, true, 1},
      {base::win::WIN10, false, false, 1},
      {base::win::WIN7, false, true, 1},
  };
  const base::CommandLine saved = *base::CommandLine::ForCurrentProcess();
  for (const auto& c : kCases) {
    SCOPED_TRACE(&c - kCases);
    base::win::OSInfo::Record record =
        base::win::OSInfo::GetInstance()->record();
    record.version = c.version;
    base::win::ScopedOSInfoOverride version(record);
    test::FakeAssociationOperations associations;
    associations.can_set_directly = c.can_set_directly;
    DefaultBrowserOperations operations;
    SetOsOperationsForTesting(&operations);
    *base::CommandLine::ForCurrentProcess() = saved;
    if (c.parent_pid)
      base::CommandLine::ForCurrentProcess()->AppendSwitchASCII("parent-pid",
                                                                "42");
    SetupFileAndProtocolHandlersStep step(context_.get());
    EXPECT_EQ(STEP_DONE, Run(&step).status);
    EXPECT_EQ(c.stored, operations.stored);
    SetOsOperationsForTesting(nullptr);
  }
  *base::CommandLine::ForCurrentProcess() = saved;
}

TEST_F(StatusStepsTest, FinalizeRegistersTheTaskAndTheFirewallRule) {
  const struct {
    bool initializes, registers, copy_only, all_users, temporary_permission;
    int count;             // au_task_error_count in the file, -1: no file
    const char* expected;  // the count after, "": absent
    const char* error;     // the error line, "": none
  } kCases[] = {{true, true, false, false, false, 3, "2", ""},
                {true, true, false, true, false, 0, "0", ""},
                {true, true, false, false, false, -1, "", ""},
                {true, false, false, false, false, 3, "3",
                 "Could not create scheduled task\n"},
                {false, true, false, false, false, 3, "3",
                 "Could not initialize task scheduler\n"},
                // No task for a standalone copy, nor for a per-user run that
                // holds another user's grant on the folder.
                {true, true, true, false, false, 3, "3", ""},
                {true, true, false, false, true, 3, "3", ""}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(&c - kCases);
    Fresh();
    scheduler_.initializes = c.initializes;
    scheduler_.registers = c.registers;
    ctx_->own_settings.copy_only = c.copy_only;
    ctx_->own_settings.all_users = c.all_users;
    if (c.temporary_permission) {
      ctx_->set_permission_undo_event(base::win::ScopedHandle(
          ::CreateEventW(nullptr, TRUE, FALSE, nullptr)));
    }
    ctx_->GetStatusUnderConstruction()->app_id = L"1520900000";
    if (c.count >= 0) {
      Write(install_, "installer_prefs.json",
            "{\"au_task_error_count\":" + std::to_string(c.count) + "}");
    }
    FinalizeStep step(context_.get());
    base::ScopedLogLines log(base::logging::LOG_ERROR,
                             base::logging::LOG_ERROR);
    EXPECT_EQ(STEP_DONE, Run(&step).status);
    EXPECT_EQ(c.error, log.text());
    EXPECT_EQ(c.expected + std::string(" "), Prefs({"au_task_error_count"}));
    EXPECT_EQ(Strings({"add " + target_.Append(L"kavor.exe").AsUTF8Unsafe()}),
              firewall_);
    const bool task = !c.copy_only && !c.temporary_permission;
    Strings calls;
    if (task)
      calls = {"Initialize"};
    if (task && c.initializes)
      calls = {"Initialize", "RemoveOrphanedTasks", "RegisterTask"};
    EXPECT_EQ(calls, scheduler_.calls);
    ASSERT_EQ(task && c.initializes ? 1u : 0u, scheduler_.registered.size());
    if (scheduler_.registered.empty())
      continue;
    const ScheduledTaskInfo& info = scheduler_.registered[0];
    EXPECT_EQ(c.all_users ? 1u : 0u, info.run_as_system);
    EXPECT_EQ(L"Autoupdate 1520900000", info.name);
    EXPECT_EQ(In("launcher.exe"), info.command_line.GetProgram());
    EXPECT_EQ(L"--scheduledautoupdate $(Arg0)",
              info.command_line.GetArgumentsString());
    EXPECT_TRUE(info.execution_time_limit_seconds == 3600 &&
                info.schedule == DAILY && info.add_logon_trigger &&
                info.run_only_if_network_available);
    EXPECT_EQ(L"Keeps Kavor up to date.", info.description);
  }
  // Only an administrator sets up the firewall.
  security_.admin = false;
  firewall_.clear();
  FinalizeStep step(context_.get());
  Run(&step);
  EXPECT_TRUE(firewall_.empty());
}

}  // namespace
}  // namespace installer
