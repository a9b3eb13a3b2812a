#include "desktop/windows/installer/service/task_scheduler_v2.h"

#include <map>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/scoped_log_lines.h"
#include "base/time/clock.h"
#include "base/win/scoped_variant.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/common/scheduled_task_info.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/test/fake_task_service.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using Microsoft::WRL::ComPtr;
using test::FakeTaskLog;
using test::HandOut;
using Lines = std::vector<std::wstring>;

std::wstring Text(BSTR text) {
  return text ? std::wstring(text, ::SysStringLen(text)) : L"(null)";
}

// A variant as the log shows it: its text, or "#" and its type.
std::wstring Shown(const VARIANT& value) {
  return value.vt == VT_BSTR ? Text(value.bstrVal)
                             : L"#" + std::to_wstring(value.vt);
}

class FakeExec : public test::StubExecAction {
 public:
  FakeExec(const std::wstring& path, TASK_ACTION_TYPE type)
      : StubExecAction(L"Exec"), path_(path), type_(type) {}
  STDMETHODIMP get_Type(TASK_ACTION_TYPE* type) override {
    *type = type_;
    return S_OK;
  }
  STDMETHODIMP get_Path(BSTR* path) override {
    *path = ::SysAllocString(path_.c_str());
    return S_OK;
  }

 private:
  const std::wstring path_;
  const TASK_ACTION_TYPE type_;
};

class FakeActions : public test::StubActionCollection {
 public:
  FakeActions() : StubActionCollection(L"Actions") {}
  STDMETHODIMP Create(TASK_ACTION_TYPE type, IAction** action) override {
    Record(L"Create", std::to_wstring(type));
    return HandOut(new FakeExec(L"", type), action);
  }
  STDMETHODIMP get_Count(LONG* count) override {
    *count = static_cast<LONG>(items.size());
    return S_OK;
  }
  STDMETHODIMP get_Item(LONG index, IAction** action) override {
    return HandOut(items.at(index - 1).Get(), action);
  }
  std::vector<ComPtr<FakeExec>> items;
};

// A daily trigger of a registered task, with its interval.
class FakeDailyTrigger : public test::StubDailyTrigger {
 public:
  explicit FakeDailyTrigger(short days)
      : StubDailyTrigger(L"Daily"), days_(days) {}
  STDMETHODIMP get_Type(TASK_TRIGGER_TYPE2* type) override {
    *type = TASK_TRIGGER_DAILY;
    return S_OK;
  }
  STDMETHODIMP get_DaysInterval(short* days) override {
    *days = days_;
    return S_OK;
  }

 private:
  const short days_;
};

class FakeLogonTrigger : public test::StubLogonTrigger {
 public:
  FakeLogonTrigger() : StubLogonTrigger(L"Logon") {}
  STDMETHODIMP get_Type(TASK_TRIGGER_TYPE2* type) override {
    *type = TASK_TRIGGER_LOGON;
    return S_OK;
  }
};

class FakeTriggers : public test::StubTriggerCollection {
 public:
  FakeTriggers() : StubTriggerCollection(L"Triggers") {}
  STDMETHODIMP get_Count(LONG* count) override {
    *count = static_cast<LONG>(items.size());
    return S_OK;
  }
  STDMETHODIMP get_Item(LONG index, ITrigger** trigger) override {
    return HandOut(items.at(index - 1).Get(), trigger);
  }
  std::vector<ComPtr<ITrigger>> items;
  STDMETHODIMP Create(TASK_TRIGGER_TYPE2 type, ITrigger** trigger) override {
    Record(L"Create", std::to_wstring(type));
    switch (type) {
      case TASK_TRIGGER_DAILY:
        return HandOut(new test::StubDailyTrigger(L"Daily"), trigger);
      case TASK_TRIGGER_LOGON:
        return HandOut(new test::StubLogonTrigger(L"Logon"), trigger);
      case TASK_TRIGGER_BOOT:
        return HandOut(new test::StubBootTrigger(L"Boot"), trigger);
      case TASK_TRIGGER_REGISTRATION:
        return HandOut(new test::StubRegistrationTrigger(L"Once"), trigger);
      default:
        return E_NOTIMPL;
    }
  }
};

class FakeDefinition : public test::StubTaskDefinition {
 public:
  FakeDefinition() : actions(new FakeActions), triggers(new FakeTriggers) {}
  STDMETHODIMP get_RegistrationInfo(IRegistrationInfo** info) override {
    return HandOut(new test::StubRegistrationInfo(L"Info"), info);
  }
  STDMETHODIMP get_Settings(ITaskSettings** settings) override {
    return HandOut(new test::StubTaskSettings(L"Settings"), settings);
  }
  STDMETHODIMP get_Triggers(ITriggerCollection** triggers) override {
    return HandOut(this->triggers.Get(), triggers);
  }
  STDMETHODIMP get_Actions(IActionCollection** collection) override {
    return HandOut(actions.Get(), collection);
  }
  STDMETHODIMP get_Principal(IPrincipal** principal) override {
    return HandOut(new test::StubPrincipal(L"Principal"), principal);
  }
  ComPtr<FakeActions> actions;
  ComPtr<FakeTriggers> triggers;
};

class FakeTask : public test::StubRegisteredTask {
 public:
  explicit FakeTask(const std::wstring& name)
      : StubRegisteredTask(L"Task"),
        name_(name),
        definition(new FakeDefinition) {}
  STDMETHODIMP get_Name(BSTR* name) override {
    *name = ::SysAllocString(name_.c_str());
    return S_OK;
  }
  STDMETHODIMP get_State(TASK_STATE* state) override {
    *state = state_;
    return S_OK;
  }
  STDMETHODIMP get_Enabled(VARIANT_BOOL* enabled) override {
    *enabled = enabled_;
    return S_OK;
  }
  STDMETHODIMP get_Definition(ITaskDefinition** definition_out) override {
    return HandOut(definition.Get(), definition_out);
  }
  // Logs the arguments joined by commas, or "#" and the variant type.
  STDMETHODIMP Run(VARIANT arguments, IRunningTask** running) override {
    std::wstring shown = Shown(arguments);
    if (arguments.vt == (VT_ARRAY | VT_BSTR)) {
      BSTR* items = nullptr;
      ::SafeArrayAccessData(arguments.parray, reinterpret_cast<void**>(&items));
      shown.clear();
      for (ULONG i = 0; i < arguments.parray->rgsabound[0].cElements; ++i)
        shown += (i ? L"," : L"") + Text(items[i]);
      ::SafeArrayUnaccessData(arguments.parray);
    }
    Record(L"Run", shown);
    *running = nullptr;
    return S_OK;
  }
  STDMETHODIMP get_LastRunTime(DATE* date) override {
    *date = last_run;
    return last_run_result;
  }
  STDMETHODIMP SetSecurityDescriptor(BSTR sddl, LONG flags) override {
    Record(L"SetSecurityDescriptor",
           Text(sddl) + L" " + std::to_wstring(flags));
    return sddl_result;
  }
  const std::wstring name_;
  TASK_STATE state_ = TASK_STATE_READY;
  VARIANT_BOOL enabled_ = VARIANT_TRUE;
  HRESULT sddl_result = S_OK;
  DATE last_run = 0;
  HRESULT last_run_result = S_OK;
  ComPtr<FakeDefinition> definition;
};

class FakeTaskList : public test::StubRegisteredTaskCollection {
 public:
  explicit FakeTaskList(const std::vector<ComPtr<FakeTask>>& tasks)
      : tasks_(tasks) {}
  STDMETHODIMP get_Count(LONG* count) override {
    *count = static_cast<LONG>(tasks_.size());
    return S_OK;
  }
  STDMETHODIMP get_Item(VARIANT index, IRegisteredTask** task) override {
    return HandOut(tasks_.at(index.lVal - 1).Get(), task);
  }

 private:
  const std::vector<ComPtr<FakeTask>> tasks_;
};

class FakeFolder : public test::StubTaskFolder {
 public:
  FakeFolder() : StubTaskFolder(L"Folder") {}
  STDMETHODIMP DeleteTask(BSTR name, LONG flags) override {
    Record(L"DeleteTask", Text(name) + L" " + std::to_wstring(flags));
    return S_OK;
  }
  STDMETHODIMP GetTask(BSTR name, IRegisteredTask** task) override {
    for (const ComPtr<FakeTask>& candidate : tasks) {
      if (candidate->name_ == Text(name))
        return HandOut(candidate.Get(), task);
    }
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  STDMETHODIMP GetTasks(LONG flags, IRegisteredTaskCollection** list) override {
    return HandOut(new FakeTaskList(tasks), list);
  }
  STDMETHODIMP RegisterTaskDefinition(BSTR name,
                                      ITaskDefinition*,
                                      LONG flags,
                                      VARIANT user,
                                      VARIANT password,
                                      TASK_LOGON_TYPE logon,
                                      VARIANT sddl,
                                      IRegisteredTask** task) override {
    Record(L"Register", Text(name) + L" " + std::to_wstring(flags) + L" " +
                            Shown(user) + L" " + Shown(password) + L" " +
                            std::to_wstring(logon) + L" [" + Shown(sddl) +
                            L"]");
    if (FAILED(register_result))
      return register_result;
    registered = new FakeTask(Text(name));
    registered->sddl_result = sddl_result;
    return HandOut(registered.Get(), task);
  }
  std::vector<ComPtr<FakeTask>> tasks;
  HRESULT register_result = S_OK;
  HRESULT sddl_result = S_OK;
  ComPtr<FakeTask> registered;
};

class FakeService : public test::StubTaskService {
 public:
  FakeService() : StubTaskService(L"Service"), root(new FakeFolder) {}
  STDMETHODIMP Connect(VARIANT a, VARIANT b, VARIANT c, VARIANT d) override {
    Record(L"Connect", Shown(a) + Shown(b) + Shown(c) + Shown(d));
    return S_OK;
  }
  STDMETHODIMP GetFolder(BSTR path, ITaskFolder** folder) override {
    Record(L"GetFolder", Text(path));
    return HandOut(root.Get(), folder);
  }
  STDMETHODIMP NewTask(DWORD flags, ITaskDefinition** definition) override {
    return HandOut(new FakeDefinition, definition);
  }
  ComPtr<FakeFolder> root;
};

class FixedClock : public base::Clock {
 public:
  base::Time Now() override {
    // 13 March 2018, 14:05:09 local time.
    base::Time time;
    EXPECT_TRUE(
        base::Time::FromLocalExploded({2018, 3, 2, 13, 14, 5, 9, 0}, &time));
    return time;
  }
};

class Security : public SecurityUtilsImpl {
 public:
  bool admin = false;
  bool IsUserAdmin(bool) override { return admin; }
};

HRESULT Create(ComPtr<FakeService> service, ComPtr<ITaskService>* out) {
  *out = service;
  return S_OK;
}

class TaskSchedulerV2Test : public testing::Test {
 protected:
  void SetUp() override {
    SecurityUtilsImpl::SetInstanceForTesting(&security_);
    ASSERT_TRUE(GetSamCompatibleUserName(&user_));
    FakeTaskLog().clear();
    ASSERT_TRUE(scheduler_.Initialize());
  }
  void TearDown() override {
    SecurityUtilsImpl::SetInstanceForTesting(nullptr);
  }

  static std::wstring Full(const std::wstring& name) {
    return base::UTF8ToWide(GetProductName()) + L" scheduled " + name;
  }

  // Whether |expected| appear in the log in that order.
  static bool Logged(const Lines& expected) {
    auto line = FakeTaskLog().begin();
    for (const std::wstring& want : expected) {
      line = std::find(line, FakeTaskLog().end(), want);
      if (line == FakeTaskLog().end()) {
        ADD_FAILURE() << "not logged in order: " << want;
        return false;
      }
    }
    return true;
  }
  static bool LoggedAny(const std::wstring& prefix) {
    for (const std::wstring& line : FakeTaskLog()) {
      if (line.compare(0, prefix.size(), prefix) == 0)
        return true;
    }
    return false;
  }

  Security security_;
  base::string16 user_;
  FixedClock clock_;
  ComPtr<FakeService> service_{new FakeService};
  TaskSchedulerV2 scheduler_{base::BindRepeating(&Create, service_), &clock_};
};

TEST_F(TaskSchedulerV2Test, Connects) {
  EXPECT_TRUE(Logged({L"Service.Connect #0#0#0#0", L"Service.GetFolder \\"}));
}

TEST_F(TaskSchedulerV2Test, RegistersTheTask) {
  const std::wstring name = Full(L"Autoupdate A");
  const std::wstring boundary = L"2018-03-13T14:05:09";
  const struct {
    ScheduledTaskSchedule schedule;
    bool system, admin;
    uint32_t limit;
    HRESULT register_result, sddl_result;
    bool result;
    Lines logged;
    Lines absent;
    const char* error;  // the error lines logged
  } kCases[] = {
      {DAILY,
       false,
       true,
       3600,
       S_OK,
       S_OK,
       true,
       {L"Folder.DeleteTask " + name + L" 0",
        L"Info.put_Author " + user_,
        L"Info.put_Description Keeps it.",
        L"Settings.put_ExecutionTimeLimit PT3600S",
        L"Settings.put_MultipleInstances 2",
        L"Settings.put_RunOnlyIfNetworkAvailable -1",
        L"Settings.put_StopIfGoingOnBatteries 0",
        L"Settings.put_DisallowStartIfOnBatteries 0",
        L"Settings.put_StartWhenAvailable -1",
        L"Triggers.Create 2",
        L"Daily.put_Id Daily run",
        L"Daily.put_StartBoundary " + boundary,
        L"Daily.put_DaysInterval 1",
        L"Triggers.Create 9",
        L"Logon.put_Id Logon run",
        L"Logon.put_StartBoundary " + boundary,
        L"Logon.put_UserId " + user_,
        L"Logon.put_Delay PT5M",
        L"Actions.Create 0",
        L"Exec.put_Path C:\\k\\launcher.exe",
        L"Exec.put_Arguments --scheduledautoupdate $(Arg0)",
        L"Principal.put_RunLevel 1",
        L"Folder.Register " + name + L" 6 " + user_ + L" #0 3 []"},
       {L"Task.", L"Boot.", L"Settings.put_DeleteExpiredTaskAfter"},
       ""},
      // A system task starts at boot, and users may read and run it.
      {DAILY,
       true,
       false,
       0,
       S_OK,
       E_ACCESSDENIED,
       true,
       {L"Settings.put_ExecutionTimeLimit PT0S", L"Triggers.Create 8",
        L"Boot.put_Id Logon run", L"Boot.put_StartBoundary " + boundary,
        L"Boot.put_Delay PT5M",
        L"Folder.Register " + name + L" 6 SYSTEM #0 5 []",
        L"Task.SetSecurityDescriptor D:(A;;GRGX;;;AU) 0"},
       {L"Logon.", L"Principal."},
       "Failed setting SDDL: -2147024891\n"},
      // Once: no logon trigger, the task goes as soon as it is registered.
      {RUN_ONCE,
       false,
       false,
       60,
       S_OK,
       S_OK,
       true,
       {L"Settings.put_DeleteExpiredTaskAfter PT0S", L"Triggers.Create 7",
        L"Once.put_Id Run once", L"Once.put_EndBoundary 2018-03-13T14:05:39",
        L"Folder.Register " + name + L" 6 " + user_ + L" #0 3 []",
        L"Folder.DeleteTask " + name + L" 0"},
       {L"Logon.", L"Boot.", L"Daily.", L"Once.put_StartBoundary"},
       ""},
      {NO_TIME_TRIGGER,
       false,
       false,
       60,
       E_ACCESSDENIED,
       S_OK,
       false,
       {L"Triggers.Create 9",
        L"Folder.Register " + name + L" 6 " + user_ + L" #0 3 []"},
       {L"Daily.", L"Once."},
       "Failed task registration: -2147024891\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.schedule << " " << c.system);
    FakeTaskLog().clear();
    security_.admin = c.admin;
    service_->root->register_result = c.register_result;
    service_->root->sddl_result = c.sddl_result;
    base::CommandLine command_line(base::FilePath(L"C:\\k\\launcher.exe"));
    command_line.AppendSwitch("scheduledautoupdate");
    command_line.AppendArg("$(Arg0)");
    ScheduledTaskInfo info(command_line);
    info.name = L"Autoupdate A";
    info.description = L"Keeps it.";
    info.run_as_system = c.system ? 1 : 0;
    info.execution_time_limit_seconds = c.limit;
    info.schedule = c.schedule;
    info.add_logon_trigger = 1;
    info.run_only_if_network_available = 1;
    base::ScopedLogLines log(base::logging::LOG_ERROR,
                             base::logging::LOG_ERROR);
    EXPECT_EQ(c.result, scheduler_.RegisterTask(info));
    EXPECT_EQ(c.error, log.text());
    EXPECT_TRUE(Logged(c.logged));
    for (const std::wstring& prefix : c.absent)
      EXPECT_FALSE(LoggedAny(prefix)) << prefix;
  }
}

TEST_F(TaskSchedulerV2Test, TaskState) {
  const struct {
    TASK_STATE state;
    ScheduledTaskState expected;
  } kCases[] = {
      {TASK_STATE_DISABLED, SCHEDULED_TASK_DISABLED},
      {TASK_STATE_QUEUED, SCHEDULED_TASK_READY},
      {TASK_STATE_READY, SCHEDULED_TASK_READY},
      {TASK_STATE_RUNNING, SCHEDULED_TASK_RUNNING},
      {TASK_STATE_UNKNOWN, SCHEDULED_TASK_UNKNOWN},
  };
  EXPECT_EQ(SCHEDULED_TASK_NOT_FOUND, scheduler_.GetTaskState(L"A"));
  ComPtr<FakeTask> task = new FakeTask(Full(L"A"));
  service_->root->tasks.push_back(task);
  for (const auto& c : kCases) {
    task->state_ = c.state;
    EXPECT_EQ(c.expected, scheduler_.GetTaskState(L"A")) << c.state;
  }
}

TEST_F(TaskSchedulerV2Test, RunsAndEnablesTheTask) {
  EXPECT_FALSE(scheduler_.RunTask(L"A", {}));
  service_->root->tasks.push_back(new FakeTask(Full(L"A")));
  EXPECT_TRUE(scheduler_.RunTask(L"A", {L"x y", L"z"}));
  EXPECT_TRUE(scheduler_.RunTask(L"A", {}));
  scheduler_.SetTaskEnabled(L"A", false);
  scheduler_.SetTaskEnabled(L"A", true);
  EXPECT_TRUE(Logged({L"Task.Run x y,z", L"Task.Run #0", L"Task.put_Enabled 0",
                      L"Task.put_Enabled -1"}));
}

// Only this product's enabled tasks with one program that is gone are
// swept.
TEST_F(TaskSchedulerV2Test, RemovesOrphanedTasksOfTheProductOnly) {
  wchar_t system[MAX_PATH];
  ASSERT_TRUE(::GetSystemDirectoryW(system, MAX_PATH));
  const std::wstring present = std::wstring(system) + L"\\kernel32.dll";
  const std::wstring missing = L"C:\\gone\\launcher.exe";
  const struct {
    std::wstring name;
    std::vector<std::wstring> programs;
    bool enabled;
    bool removed;
  } kTasks[] = {
      {Full(L"Autoupdate orphan"), {missing}, true, true},
      {L"KAVOR SCHEDULED Autoupdate other case",
       {L"\"" + missing + L"\""},
       true,
       true},
      {Full(L"Autoupdate alive"), {present}, true, false},
      {Full(L"Autoupdate quoted alive"),
       {L"\"" + present + L"\""},
       true,
       false},
      {Full(L"Autoupdate disabled"), {missing}, false, false},
      {Full(L"Autoupdate two"), {missing, missing}, true, false},
      {L"Other scheduled Autoupdate x", {missing}, true, false},
      {L" scheduled Autoupdate y", {missing}, true, false},
  };
  for (const auto& t : kTasks) {
    ComPtr<FakeTask> task = new FakeTask(t.name);
    task->enabled_ = t.enabled ? VARIANT_TRUE : VARIANT_FALSE;
    for (const std::wstring& program : t.programs) {
      task->definition->actions->items.push_back(
          new FakeExec(program, TASK_ACTION_EXEC));
    }
    service_->root->tasks.push_back(task);
  }
  scheduler_.RemoveOrphanedTasks();
  for (const auto& t : kTasks) {
    EXPECT_EQ(t.removed, LoggedAny(L"Folder.DeleteTask " + t.name + L" 0"))
        << t.name;
  }
}

TEST_F(TaskSchedulerV2Test, LastRunTime) {
  SYSTEMTIME ran = {2018, 3, 2, 13, 14, 5, 9, 0};
  DATE ran_date = 0;
  ASSERT_TRUE(::SystemTimeToVariantTime(&ran, &ran_date));
  // What the Task Scheduler reports for a task that never ran.
  SYSTEMTIME placeholder = {1999, 11, 2, 30, 0, 0, 0, 0};
  DATE placeholder_date = 0;
  ASSERT_TRUE(::SystemTimeToVariantTime(&placeholder, &placeholder_date));
  base::Time expected;
  ASSERT_TRUE(
      base::Time::FromLocalExploded({2018, 3, 2, 13, 14, 5, 9, 0}, &expected));
  const struct {
    HRESULT result;
    DATE date;
    base::Time expected;
  } kCases[] = {
      {S_OK, ran_date, expected},
      {SCHED_S_TASK_HAS_NOT_RUN, placeholder_date, base::Time()},
      {S_OK, 0, base::Time()},
      {E_FAIL, ran_date, base::Time()},
  };
  EXPECT_TRUE(scheduler_.GetLastRunTime(L"A").is_null());
  ComPtr<FakeTask> task = new FakeTask(Full(L"A"));
  service_->root->tasks.push_back(task);
  for (const auto& c : kCases) {
    SCOPED_TRACE(&c - kCases);
    task->last_run_result = c.result;
    task->last_run = c.date;
    EXPECT_EQ(c.expected, scheduler_.GetLastRunTime(L"A"));
  }
}

// The interval changes only when it differs, and the task is registered
// again as it is, under its own account.
TEST_F(TaskSchedulerV2Test, SetDailyInterval) {
  for (short days : {1, 3}) {
    SCOPED_TRACE(days);
    FakeTaskLog().clear();
    service_->root->tasks.clear();
    ComPtr<FakeTask> task = new FakeTask(Full(L"A"));
    task->definition->triggers->items = {new FakeLogonTrigger,
                                         new FakeDailyTrigger(days)};
    service_->root->tasks.push_back(task);
    scheduler_.SetDailyInterval(L"A", 3);
    const Lines changed = {L"Daily.put_DaysInterval 3",
                           L"Folder.Register " + Full(L"A") + L" 4 #0 #0 0 []"};
    if (days == 3)
      EXPECT_TRUE(FakeTaskLog().empty());
    else
      EXPECT_EQ(changed, FakeTaskLog());
  }
}

// Every reference the scheduler takes on the service's objects is given
// back once it and the service are gone.
TEST(TaskSchedulerV2References, AllReleased) {
  Security security;
  SecurityUtilsImpl::SetInstanceForTesting(&security);
  FixedClock clock;
  {
    ComPtr<FakeService> service = new FakeService;
    for (bool missing : {true, false}) {
      ComPtr<FakeTask> task = new FakeTask(base::UTF8ToWide(GetProductName()) +
                                           L" scheduled Autoupdate x");
      task->definition->actions->items.push_back(
          new FakeExec(missing ? L"C:\\gone\\launcher.exe" : L"C:\\windows",
                       TASK_ACTION_EXEC));
      service->root->tasks.push_back(task);
    }
    TaskSchedulerV2 scheduler(base::BindRepeating(&Create, service), &clock);
    ASSERT_TRUE(scheduler.Initialize());
    scheduler.RemoveOrphanedTasks();
    for (ScheduledTaskSchedule schedule : {DAILY, RUN_ONCE, NO_TIME_TRIGGER}) {
      for (uint32_t system : {0u, 1u}) {
        ScheduledTaskInfo info(
            base::CommandLine(base::FilePath(L"C:\\k\\launcher.exe")));
        info.name = L"Autoupdate A";
        info.run_as_system = system;
        info.schedule = schedule;
        info.add_logon_trigger = 1;
        EXPECT_TRUE(scheduler.RegisterTask(info));
      }
    }
    EXPECT_LT(0, test::LiveFakeObjects());
  }
  EXPECT_EQ(0, test::LiveFakeObjects());
  SecurityUtilsImpl::SetInstanceForTesting(nullptr);
}

}  // namespace
}  // namespace installer
