#include "desktop/windows/installer/service/task_scheduler_v2.h"

#include <oleauto.h>

#include <utility>

#include "base/bind.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/time/default_clock.h"
#include "base/win/scoped_bstr.h"
#include "base/win/scoped_variant.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/common/scheduled_task_info.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/service/task_scheduler_common.h"
#include "desktop/windows/installer/service/task_scheduler_triggers.h"

namespace installer {

using Microsoft::WRL::ComPtr;

namespace {

HRESULT CreateSystemTaskService(ComPtr<ITaskService>* service) {
  return ::CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER,
                            IID_ITaskService,
                            reinterpret_cast<void**>(service->GetAddressOf()));
}

// The local time without a zone, as the Task Scheduler reads boundaries.
std::wstring FormatBoundary(base::Time time) {
  base::Time::Exploded local;
  time.LocalExplode(&local);
  return base::ASCIIToWide(base::StringPrintf(
      "%02d-%02d-%02dT%02d:%02d:%02d", local.year, local.month,
      local.day_of_month, local.hour, local.minute, local.second));
}

template <typename Interface>
bool QueryTrigger(ITrigger* trigger, REFIID iid, Interface** result) {
  return SUCCEEDED(
      trigger->QueryInterface(iid, reinterpret_cast<void**>(result)));
}

// A variant the Task Scheduler reads as "no value".
VARIANT NoValue() {
  VARIANT empty;
  ::VariantInit(&empty);
  return empty;
}

}  // namespace

TaskSchedulerV2::TaskSchedulerV2()
    : TaskSchedulerV2(base::BindRepeating(&CreateSystemTaskService),
                      base::DefaultClock::GetInstance()) {}

TaskSchedulerV2::TaskSchedulerV2(TaskServiceCreator creator, base::Clock* clock)
    : creator_(std::move(creator)), clock_(clock) {}

TaskSchedulerV2::~TaskSchedulerV2() = default;

bool TaskSchedulerV2::Initialize() {
  root_.Reset();
  service_.Reset();
  ComPtr<ITaskService> service;
  if (FAILED(creator_.Run(&service)) || !service)
    return false;
  // Empty variants: the local machine, as the current user.
  if (FAILED(service->Connect(NoValue(), NoValue(), NoValue(), NoValue())))
    return false;
  ComPtr<ITaskFolder> root;
  if (FAILED(service->GetFolder(TaskString(L"\\"), &root)) || !root)
    return false;
  service_ = std::move(service);
  root_ = std::move(root);
  return true;
}

bool TaskSchedulerV2::RegisterTask(const ScheduledTaskInfo& info) {
  if (!root_)
    return false;
  base::string16 user;
  if (!GetSamCompatibleUserName(&user))
    return false;
  const TaskString full_name(GetScheduledTaskFullName(info.name));
  root_->DeleteTask(full_name, 0);

  ComPtr<ITaskDefinition> definition;
  if (FAILED(service_->NewTask(0, &definition)))
    return false;
  ComPtr<IRegistrationInfo> registration;
  if (FAILED(definition->get_RegistrationInfo(&registration)) ||
      FAILED(registration->put_Author(TaskString(user))) ||
      FAILED(registration->put_Description(TaskString(info.description)))) {
    return false;
  }

  ComPtr<ITaskSettings> settings;
  const std::wstring time_limit =
      L"PT" + base::UintToString16(info.execution_time_limit_seconds) + L"S";
  if (FAILED(definition->get_Settings(&settings)) ||
      FAILED(settings->put_ExecutionTimeLimit(TaskString(time_limit))) ||
      FAILED(settings->put_MultipleInstances(TASK_INSTANCES_IGNORE_NEW)) ||
      FAILED(settings->put_RunOnlyIfNetworkAvailable(
          info.run_only_if_network_available ? VARIANT_TRUE : VARIANT_FALSE)) ||
      FAILED(settings->put_StopIfGoingOnBatteries(VARIANT_FALSE)) ||
      FAILED(settings->put_DisallowStartIfOnBatteries(VARIANT_FALSE)) ||
      FAILED(settings->put_StartWhenAvailable(VARIANT_TRUE))) {
    return false;
  }
  base::Time boundary_time = clock_->Now();
  if (info.schedule == RUN_ONCE) {
    // The registration trigger runs the task at once; the definition expires
    // shortly after and goes.
    if (FAILED(settings->put_DeleteExpiredTaskAfter(TaskString(L"PT0S"))))
      return false;
    boundary_time += base::TimeDelta::FromSeconds(30);
  }
  if (!AddTriggers(info, user, definition.Get(),
                   FormatBoundary(boundary_time)) ||
      !AddExecAction(info, definition.Get())) {
    return false;
  }

  if (SecurityUtilsImpl::GetInstance()->IsUserAdmin(false)) {
    ComPtr<IPrincipal> principal;
    if (FAILED(definition->get_Principal(&principal)) ||
        FAILED(principal->put_RunLevel(TASK_RUNLEVEL_HIGHEST))) {
      return false;
    }
  }

  const bool system = info.run_as_system == 1;
  base::win::ScopedVariant account(system ? L"SYSTEM" : user.c_str());
  base::win::ScopedVariant no_descriptor(L"");
  ComPtr<IRegisteredTask> registered;
  HRESULT hr = root_->RegisterTaskDefinition(
      full_name, definition.Get(), TASK_CREATE_OR_UPDATE, *account.ptr(),
      NoValue(),
      system ? TASK_LOGON_SERVICE_ACCOUNT : TASK_LOGON_INTERACTIVE_TOKEN,
      *no_descriptor.ptr(), &registered);
  if (FAILED(hr) || !registered) {
    LOG(ERROR) << "Failed task registration: " << hr;
    return false;
  }
  if (system) {
    // Users may read and start the system's task (the browser checks on it).
    hr = registered->SetSecurityDescriptor(TaskString(L"D:(A;;GRGX;;;AU)"), 0);
    if (FAILED(hr))
      LOG(ERROR) << "Failed setting SDDL: " << hr;
  }
  if (info.schedule == RUN_ONCE)
    RemoveTask(info.name);
  return true;
}

bool TaskSchedulerV2::AddTriggers(const ScheduledTaskInfo& info,
                                  const std::wstring& user,
                                  ITaskDefinition* definition,
                                  const std::wstring& boundary) {
  ComPtr<ITriggerCollection> triggers;
  if (FAILED(definition->get_Triggers(&triggers)))
    return false;
  ComPtr<ITrigger> trigger;
  if (info.schedule == DAILY) {
    ComPtr<IDailyTrigger> daily;
    if (FAILED(triggers->Create(TASK_TRIGGER_DAILY, &trigger)) ||
        !QueryTrigger(trigger.Get(), IID_IDailyTrigger, daily.GetAddressOf()) ||
        FAILED(daily->put_Id(TaskString(L"Daily run"))) ||
        FAILED(daily->put_StartBoundary(TaskString(boundary))) ||
        FAILED(daily->put_DaysInterval(1))) {
      return false;
    }
  } else if (info.schedule == RUN_ONCE) {
    ComPtr<IRegistrationTrigger> once;
    if (FAILED(triggers->Create(TASK_TRIGGER_REGISTRATION, &trigger)) ||
        !QueryTrigger(trigger.Get(), kRegistrationTriggerIid,
                      once.GetAddressOf()) ||
        FAILED(once->put_Id(TaskString(L"Run once"))) ||
        FAILED(once->put_EndBoundary(TaskString(boundary)))) {
      return false;
    }
  }
  if (!info.add_logon_trigger || info.schedule == RUN_ONCE)
    return true;

  const TaskString delay(base::StringPrintf(
      L"PT%dM", static_cast<int>(GetAutoupdateTaskLogonDelayMinutes())));
  trigger.Reset();
  // Nobody logs on to the system account: its task runs at system start.
  if (info.run_as_system == 1) {
    ComPtr<IBootTrigger> boot;
    return SUCCEEDED(triggers->Create(TASK_TRIGGER_BOOT, &trigger)) &&
           QueryTrigger(trigger.Get(), kBootTriggerIid, boot.GetAddressOf()) &&
           SUCCEEDED(boot->put_Id(TaskString(L"Logon run"))) &&
           SUCCEEDED(boot->put_StartBoundary(TaskString(boundary))) &&
           SUCCEEDED(boot->put_Delay(delay));
  }
  ComPtr<ILogonTrigger> logon;
  return SUCCEEDED(triggers->Create(TASK_TRIGGER_LOGON, &trigger)) &&
         QueryTrigger(trigger.Get(), kLogonTriggerIid, logon.GetAddressOf()) &&
         SUCCEEDED(logon->put_Id(TaskString(L"Logon run"))) &&
         SUCCEEDED(logon->put_StartBoundary(TaskString(boundary))) &&
         SUCCEEDED(logon->put_UserId(TaskString(user))) &&
         SUCCEEDED(logon->put_Delay(delay));
}

bool TaskSchedulerV2::AddExecAction(const ScheduledTaskInfo& info,
                                    ITaskDefinition* definition) {
  ComPtr<IActionCollection> actions;
  ComPtr<IAction> action;
  ComPtr<IExecAction> exec;
  return SUCCEEDED(definition->get_Actions(&actions)) &&
         SUCCEEDED(actions->Create(TASK_ACTION_EXEC, &action)) &&
         SUCCEEDED(action->QueryInterface(
             IID_IExecAction, reinterpret_cast<void**>(exec.GetAddressOf()))) &&
         SUCCEEDED(exec->put_Path(
             TaskString(info.command_line.GetProgram().value()))) &&
         SUCCEEDED(exec->put_Arguments(
             TaskString(info.command_line.GetArgumentsString())));
}

void TaskSchedulerV2::RemoveOrphanedTasks() {
  if (!root_)
    return;
  ComPtr<IRegisteredTaskCollection> tasks;
  LONG count = 0;
  if (FAILED(root_->GetTasks(0, &tasks)) || FAILED(tasks->get_Count(&count)))
    return;
  // Deleted after the walk, so that the collection does not change under
  // it.
  std::vector<std::wstring> orphans;
  for (LONG i = 1; i <= count; ++i) {
    ComPtr<IRegisteredTask> task;
    base::win::ScopedBstr name;
    base::win::ScopedVariant index(static_cast<int32_t>(i));
    if (FAILED(tasks->get_Item(*index.ptr(), &task)) ||
        FAILED(task->get_Name(name.Receive())) || !name.Get()) {
      break;
    }
    const std::wstring task_name(name.Get(), ::SysStringLen(name.Get()));
    if (!IsProductScheduledTaskName(task_name))
      continue;
    VARIANT_BOOL enabled = VARIANT_FALSE;
    ComPtr<ITaskDefinition> definition;
    ComPtr<IActionCollection> actions;
    LONG action_count = 0;
    if (FAILED(task->get_Enabled(&enabled)) ||
        FAILED(task->get_Definition(&definition)) ||
        FAILED(definition->get_Actions(&actions)) ||
        FAILED(actions->get_Count(&action_count))) {
      break;
    }
    if (enabled == VARIANT_FALSE || action_count != 1)
      continue;
    ComPtr<IAction> action;
    TASK_ACTION_TYPE type = TASK_ACTION_EXEC;
    if (FAILED(actions->get_Item(1, &action)) ||
        FAILED(action->get_Type(&type))) {
      break;
    }
    if (type != TASK_ACTION_EXEC)
      continue;
    ComPtr<IExecAction> exec;
    base::win::ScopedBstr path;
    if (FAILED(action->QueryInterface(
            IID_IExecAction, reinterpret_cast<void**>(exec.GetAddressOf()))) ||
        FAILED(exec->get_Path(path.Receive()))) {
      break;
    }
    // A path written by hand may be quoted.
    const base::StringPiece16 program =
        base::TrimString(path.Get() ? path.Get() : L"", L"\"", base::TRIM_ALL);
    if (!base::PathExists(base::FilePath(program.as_string())))
      orphans.push_back(task_name);
  }
  for (const std::wstring& orphan : orphans)
    root_->DeleteTask(TaskString(orphan), 0);
}

void TaskSchedulerV2::RemoveTask(const std::wstring& name) {
  if (root_)
    root_->DeleteTask(TaskString(GetScheduledTaskFullName(name)), 0);
}

ComPtr<IRegisteredTask> TaskSchedulerV2::GetTask(const std::wstring& name) {
  ComPtr<IRegisteredTask> task;
  if (!root_ || FAILED(root_->GetTask(
                    TaskString(GetScheduledTaskFullName(name)), &task))) {
    return nullptr;
  }
  return task;
}

void TaskSchedulerV2::SetDailyInterval(const std::wstring& name,
                                       unsigned days) {
  ComPtr<IRegisteredTask> task = GetTask(name);
  ComPtr<ITaskDefinition> definition;
  ComPtr<ITriggerCollection> triggers;
  LONG count = 0;
  if (!task || FAILED(task->get_Definition(&definition)) ||
      FAILED(definition->get_Triggers(&triggers)) ||
      FAILED(triggers->get_Count(&count))) {
    return;
  }
  for (LONG i = 1; i <= count; ++i) {
    ComPtr<ITrigger> trigger;
    TASK_TRIGGER_TYPE2 type = TASK_TRIGGER_EVENT;
    if (FAILED(triggers->get_Item(i, &trigger)) ||
        FAILED(trigger->get_Type(&type))) {
      return;
    }
    if (type != TASK_TRIGGER_DAILY)
      continue;
    ComPtr<IDailyTrigger> daily;
    short interval = 0;
    if (!QueryTrigger(trigger.Get(), IID_IDailyTrigger, daily.GetAddressOf()) ||
        FAILED(daily->get_DaysInterval(&interval)) ||
        static_cast<unsigned>(interval) == days ||
        FAILED(daily->put_DaysInterval(static_cast<short>(days)))) {
      return;
    }
    base::win::ScopedVariant no_descriptor(L"");
    ComPtr<IRegisteredTask> updated;
    root_->RegisterTaskDefinition(TaskString(GetScheduledTaskFullName(name)),
                                  definition.Get(), TASK_UPDATE, NoValue(),
                                  NoValue(), TASK_LOGON_NONE,
                                  *no_descriptor.ptr(), &updated);
    return;
  }
}

void TaskSchedulerV2::SetTaskEnabled(const std::wstring& name, bool enabled) {
  ComPtr<IRegisteredTask> task = GetTask(name);
  if (task)
    task->put_Enabled(enabled ? VARIANT_TRUE : VARIANT_FALSE);
}

bool TaskSchedulerV2::RunTask(const std::wstring& name,
                              const std::vector<std::wstring>& arguments) {
  ComPtr<IRegisteredTask> task = GetTask(name);
  if (!task)
    return false;
  base::win::ScopedVariant parameters;
  if (!arguments.empty()) {
    SAFEARRAY* array = ::SafeArrayCreateVector(
        VT_BSTR, 0, static_cast<ULONG>(arguments.size()));
    CHECK(array);  // Out of memory.
    for (LONG i = 0; i < static_cast<LONG>(arguments.size()); ++i) {
      // The array keeps a copy of the string.
      CHECK(SUCCEEDED(::SafeArrayPutElement(
          array, &i, static_cast<BSTR>(TaskString(arguments[i])))));
    }
    parameters.Set(array);
  }
  ComPtr<IRunningTask> running;
  return SUCCEEDED(task->Run(*parameters.ptr(), &running));
}

ScheduledTaskState TaskSchedulerV2::GetTaskState(const std::wstring& name) {
  ComPtr<IRegisteredTask> task = GetTask(name);
  if (!task)
    return SCHEDULED_TASK_NOT_FOUND;
  TASK_STATE state = TASK_STATE_UNKNOWN;
  if (FAILED(task->get_State(&state)))
    return SCHEDULED_TASK_UNKNOWN;
  switch (state) {
    case TASK_STATE_DISABLED:
      return SCHEDULED_TASK_DISABLED;
    case TASK_STATE_QUEUED:
    case TASK_STATE_READY:
      return SCHEDULED_TASK_READY;
    case TASK_STATE_RUNNING:
      return SCHEDULED_TASK_RUNNING;
    default:
      return SCHEDULED_TASK_UNKNOWN;
  }
}

base::Time TaskSchedulerV2::GetLastRunTime(const std::wstring& name) {
  ComPtr<IRegisteredTask> task = GetTask(name);
  if (!task)
    return base::Time();
  DATE date = 0;
  SYSTEMTIME local = {};
  // A task that never ran succeeds with a placeholder date: no run time.
  const HRESULT hr = task->get_LastRunTime(&date);
  if (FAILED(hr) || hr == SCHED_S_TASK_HAS_NOT_RUN || date == 0 ||
      !::VariantTimeToSystemTime(date, &local)) {
    return base::Time();
  }
  return TimeFromLocalSystemTime(local);
}

}  // namespace installer
