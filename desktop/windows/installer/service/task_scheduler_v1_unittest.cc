#include "desktop/windows/installer/service/task_scheduler_v1.h"

#include <windows.h>
#include <mstask.h>
#include <objbase.h>
#include <wrl/client.h>

#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_com_initializer.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/common/scheduled_task_info.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using Microsoft::WRL::ComPtr;

const wchar_t kName[] = L"Autoupdate v1test";

std::wstring Full(const std::wstring& name) {
  return base::UTF8ToWide(GetProductName()) + L" scheduled " + name;
}

// Task Scheduler 1.0 of the test's own Wine prefix: the tasks are files of
// its C:\windows\tasks, removed again by each test.
class TaskSchedulerV1Test : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.CreateUniqueTempDir());
    ASSERT_TRUE(scheduler_.Initialize());
    ASSERT_TRUE(SUCCEEDED(::CoCreateInstance(
        CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler,
        reinterpret_cast<void**>(raw_.GetAddressOf()))));
  }
  void TearDown() override {
    // Retried while Wine's scheduler service still holds a new task file.
    for (const std::wstring& name : made_) {
      for (int pass = 0; pass < 50 && Open(name); ++pass) {
        if (FAILED(raw_->Delete(name.c_str())))
          ::Sleep(10);
      }
    }
  }

  ScheduledTaskInfo Info(ScheduledTaskSchedule schedule,
                         bool logon,
                         uint32_t limit) {
    base::CommandLine command_line(dir_.GetPath().Append(L"launcher.exe"));
    command_line.AppendSwitch("scheduledautoupdate");
    command_line.AppendArg("$(Arg0)");
    ScheduledTaskInfo info(command_line);
    info.name = kName;
    info.description = L"Keeps it up to date.";
    info.schedule = schedule;
    info.add_logon_trigger = logon ? 1 : 0;
    info.execution_time_limit_seconds = limit;
    made_.push_back(Full(info.name));
    return info;
  }

  ComPtr<ITask> Open(const std::wstring& full_name) {
    ComPtr<ITask> task;
    raw_->Activate(full_name.c_str(), IID_ITask,
                   reinterpret_cast<IUnknown**>(task.GetAddressOf()));
    return task;
  }

  // The triggers of the task, in order.
  static std::vector<TASK_TRIGGER> Triggers(ITask* task) {
    std::vector<TASK_TRIGGER> triggers;
    WORD count = 0;
    EXPECT_TRUE(SUCCEEDED(task->GetTriggerCount(&count)));
    for (WORD i = 0; i < count; ++i) {
      ComPtr<ITaskTrigger> trigger;
      TASK_TRIGGER values = {};
      values.cbTriggerSize = sizeof(values);
      EXPECT_TRUE(SUCCEEDED(task->GetTrigger(i, &trigger)) &&
                  SUCCEEDED(trigger->GetTrigger(&values)));
      triggers.push_back(values);
    }
    return triggers;
  }

  // The trigger types of the task, in order.
  static std::vector<int> TriggerTypes(ITask* task,
                                       std::vector<int>* days = nullptr) {
    std::vector<int> types;
    for (const TASK_TRIGGER& values : Triggers(task)) {
      types.push_back(values.TriggerType);
      if (days)
        days->push_back(values.Type.Daily.DaysInterval);
    }
    return types;
  }

  // Makes a task named |full_name| for |program| the way another tool
  // would.
  void MakeRawTask(const std::wstring& full_name,
                   const base::FilePath& program) {
    made_.push_back(full_name);
    ComPtr<ITask> task;
    ASSERT_TRUE(SUCCEEDED(
        raw_->NewWorkItem(full_name.c_str(), CLSID_CTask, IID_ITask,
                          reinterpret_cast<IUnknown**>(task.GetAddressOf()))));
    ComPtr<IPersistFile> file;
    ASSERT_TRUE(SUCCEEDED(task->SetApplicationName(program.value().c_str())) &&
                SUCCEEDED(task.As(&file)) &&
                SUCCEEDED(file->Save(nullptr, TRUE)));
  }

  base::win::ScopedCOMInitializer com_;
  base::ScopedTempDir dir_;
  TaskSchedulerV1 scheduler_;
  ComPtr<ITaskScheduler> raw_;
  std::vector<std::wstring> made_;
};

TEST_F(TaskSchedulerV1Test, RegistersTriggersFlagsAndLimits) {
  const struct {
    ScheduledTaskSchedule schedule;
    bool logon;
    uint32_t limit;
    std::vector<int> triggers;
    DWORD flags;
    DWORD max_run_time;
  } kCases[] = {
      {DAILY,
       true,
       3600,
       {TASK_TIME_TRIGGER_DAILY, TASK_EVENT_TRIGGER_AT_LOGON},
       TASK_FLAG_RUN_ONLY_IF_LOGGED_ON,
       3600000},
      {DAILY,
       false,
       0,
       {TASK_TIME_TRIGGER_DAILY},
       TASK_FLAG_RUN_ONLY_IF_LOGGED_ON,
       INFINITE},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.schedule << " " << c.limit);
    ScheduledTaskInfo info = Info(c.schedule, c.logon, c.limit);
    ASSERT_TRUE(scheduler_.RegisterTask(info));
    ComPtr<ITask> task = Open(Full(kName));
    ASSERT_TRUE(task);
    std::vector<int> days;
    EXPECT_EQ(c.triggers, TriggerTypes(task.Get(), &days));
    ASSERT_FALSE(days.empty());
    EXPECT_EQ(1, days[0]);
    DWORD flags = 0, max_run_time = 0;
    LPWSTR parameters = nullptr, application = nullptr;
    EXPECT_TRUE(SUCCEEDED(task->GetFlags(&flags)));
    EXPECT_EQ(c.flags, flags);
    EXPECT_TRUE(SUCCEEDED(task->GetMaxRunTime(&max_run_time)));
    EXPECT_EQ(c.max_run_time, max_run_time);
    ASSERT_TRUE(SUCCEEDED(task->GetParameters(&parameters)));
    EXPECT_EQ(L"--scheduledautoupdate $(Arg0)", std::wstring(parameters));
    ASSERT_TRUE(SUCCEEDED(task->GetApplicationName(&application)));
    EXPECT_EQ(info.command_line.GetProgram().value(),
              std::wstring(application));
    ::CoTaskMemFree(parameters);
    ::CoTaskMemFree(application);
  }
}

// Both triggers are dated today at the time of registration; nothing else
// is set.
TEST_F(TaskSchedulerV1Test, TriggersStartNow) {
  SYSTEMTIME before = {}, after = {};
  ::GetLocalTime(&before);
  ASSERT_TRUE(scheduler_.RegisterTask(Info(DAILY, true, 3600)));
  ::GetLocalTime(&after);
  ComPtr<ITask> task = Open(Full(kName));
  ASSERT_TRUE(task);
  const std::vector<TASK_TRIGGER> triggers = Triggers(task.Get());
  ASSERT_EQ(2u, triggers.size());
  // The clock may pass a minute, or midnight, during the registration.
  auto at = [](const SYSTEMTIME& t) {
    return std::vector<int>{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute};
  };
  for (const TASK_TRIGGER& t : triggers) {
    SCOPED_TRACE(t.TriggerType);
    const std::vector<int> start = {t.wBeginYear, t.wBeginMonth, t.wBeginDay,
                                    t.wStartHour, t.wStartMinute};
    EXPECT_TRUE(start == at(before) || start == at(after));
    EXPECT_EQ((std::vector<int>{0, 0, 0, 0, 0, 0}),
              (std::vector<int>{t.wEndYear, t.wEndMonth, t.wEndDay,
                                static_cast<int>(t.MinutesDuration),
                                static_cast<int>(t.MinutesInterval),
                                static_cast<int>(t.rgFlags)}));
  }
}

// Once: started at once and deleted by the Task Scheduler when done; no
// logon trigger even when asked for.
TEST_F(TaskSchedulerV1Test, RunOnceDeletesItselfWhenDone) {
  ASSERT_TRUE(scheduler_.RegisterTask(Info(RUN_ONCE, true, 60)));
  ComPtr<ITask> task = Open(Full(kName));
  ASSERT_TRUE(task);
  DWORD flags = 0;
  EXPECT_TRUE(SUCCEEDED(task->GetFlags(&flags)));
  EXPECT_EQ(static_cast<DWORD>(TASK_FLAG_RUN_ONLY_IF_LOGGED_ON |
                               TASK_FLAG_DELETE_WHEN_DONE),
            flags);
  EXPECT_EQ(std::vector<int>{TASK_TIME_TRIGGER_ONCE}, TriggerTypes(task.Get()));
}

// A second registration replaces the first: one task, with the second's
// triggers (no time trigger: the one new trigger keeps its defaults).
TEST_F(TaskSchedulerV1Test, RegisteringTwiceLeavesOneTask) {
  ASSERT_TRUE(scheduler_.RegisterTask(Info(DAILY, true, 3600)));
  ASSERT_TRUE(scheduler_.RegisterTask(Info(NO_TIME_TRIGGER, false, 3600)));
  ComPtr<IEnumWorkItems> items;
  ASSERT_TRUE(SUCCEEDED(raw_->Enum(&items)));
  int found = 0;
  LPWSTR* names = nullptr;
  ULONG fetched = 0;
  while (items->Next(1, &names, &fetched) == S_OK && fetched == 1) {
    found += (std::wstring(names[0]) == Full(kName) + L".job");
    ::CoTaskMemFree(names[0]);
    ::CoTaskMemFree(names);
  }
  EXPECT_EQ(1, found);
  ComPtr<ITask> task = Open(Full(kName));
  ASSERT_TRUE(task);
  EXPECT_EQ(1u, TriggerTypes(task.Get()).size());
}

TEST_F(TaskSchedulerV1Test, StateEnablingAndInterval) {
  EXPECT_EQ(SCHEDULED_TASK_NOT_FOUND, scheduler_.GetTaskState(kName));
  ASSERT_TRUE(scheduler_.RegisterTask(Info(DAILY, true, 3600)));
  EXPECT_EQ(SCHEDULED_TASK_READY, scheduler_.GetTaskState(kName));
  EXPECT_TRUE(scheduler_.GetLastRunTime(kName).is_null());

  // Wine's status does not follow the flag; the stored flags do.
  for (bool enabled : {false, true}) {
    scheduler_.SetTaskEnabled(kName, enabled);
    DWORD flags = 0;
    ComPtr<ITask> task = Open(Full(kName));
    ASSERT_TRUE(task && SUCCEEDED(task->GetFlags(&flags)));
    EXPECT_EQ(enabled ? 0u : static_cast<DWORD>(TASK_FLAG_DISABLED),
              flags & TASK_FLAG_DISABLED);
  }

  scheduler_.SetDailyInterval(kName, 3);
  std::vector<int> days;
  ComPtr<ITask> task = Open(Full(kName));
  ASSERT_TRUE(task);
  TriggerTypes(task.Get(), &days);
  EXPECT_EQ((std::vector<int>{3, 0}), days);
}

// Only this product's tasks whose program is gone are swept.
TEST_F(TaskSchedulerV1Test, RemovesOrphanedTasksOfTheProductOnly) {
  const base::FilePath present = dir_.GetPath().Append(L"launcher.exe");
  const base::FilePath missing = dir_.GetPath().Append(L"gone\\launcher.exe");
  ASSERT_EQ(0, base::WriteFile(present, "", 0));
  const struct {
    std::wstring name;
    base::FilePath program;
    bool kept;
  } kTasks[] = {
      {Full(L"Autoupdate orphan"), missing, false},
      {Full(L"Autoupdate alive"), present, true},
      {L"Other scheduled Autoupdate x", missing, true},
      {L" scheduled Autoupdate y", missing, true},
  };
  for (const auto& t : kTasks)
    MakeRawTask(t.name, t.program);
  // Wine's scheduler service reads each new task file as it appears and
  // holds it meanwhile; a task it holds cannot go yet, and the sweep stops
  // quietly at such an error. Sweep again until the orphan is gone.
  for (int pass = 0; pass < 50 && Open(kTasks[0].name); ++pass) {
    scheduler_.RemoveOrphanedTasks();
    if (Open(kTasks[0].name))
      ::Sleep(10);
  }
  for (const auto& t : kTasks)
    EXPECT_EQ(t.kept, Open(t.name) != nullptr) << t.name;
}

}  // namespace
}  // namespace installer
