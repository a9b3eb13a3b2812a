#include "desktop/windows/installer/service/task_scheduler_v1.h"

#include <aclapi.h>
#include <objbase.h>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/win/scoped_generic.h"
#include "desktop/windows/installer/common/scheduled_task_info.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/service/task_scheduler_common.h"

namespace installer {

using Microsoft::WRL::ComPtr;

namespace {

// Longest limit in milliseconds below INFINITE, which means none.
constexpr uint64_t kLongestRunTimeMs = INFINITE - 1;

HRESULT Save(ITask* task) {
  ComPtr<IPersistFile> file;
  HRESULT hr = task->QueryInterface(
      IID_IPersistFile, reinterpret_cast<void**>(file.GetAddressOf()));
  if (FAILED(hr))
    return hr;
  return file->Save(nullptr, TRUE);
}

// Lets Authenticated Users read and run the system's task file, as the
// browser checks on its own updates.
void GrantAuthenticatedUsersAccess(ITask* task) {
  ComPtr<IPersistFile> file;
  LPOLESTR path = nullptr;
  if (FAILED(task->QueryInterface(
          IID_IPersistFile, reinterpret_cast<void**>(file.GetAddressOf()))) ||
      FAILED(file->GetCurFile(&path)) || !path) {
    return;
  }
  const std::wstring file_name(path);
  ::CoTaskMemFree(path);

  PACL dacl = nullptr;
  base::win::ScopedLocalSecurityDescriptor descriptor;
  if (::GetNamedSecurityInfoW(
          file_name.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
          nullptr, &dacl, nullptr, descriptor.receive()) != ERROR_SUCCESS) {
    return;
  }
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sid_size = sizeof(sid);
  if (!::CreateWellKnownSid(WinAuthenticatedUserSid, nullptr, sid, &sid_size)) {
    return;
  }
  EXPLICIT_ACCESSW access = {};
  access.grfAccessPermissions = GENERIC_READ | GENERIC_EXECUTE;
  access.grfAccessMode = GRANT_ACCESS;
  access.grfInheritance = NO_INHERITANCE;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  access.Trustee.ptstrName = reinterpret_cast<LPWSTR>(sid);
  base::win::ScopedLocalAcl new_dacl;
  if (::SetEntriesInAclW(1, &access, dacl, new_dacl.receive()) !=
      ERROR_SUCCESS) {
    return;
  }
  ::SetNamedSecurityInfoW(const_cast<wchar_t*>(file_name.c_str()),
                          SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                          nullptr, new_dacl.get(), nullptr);
}

// A trigger of |type| dated now, every other field 0.
TASK_TRIGGER MakeTrigger(const SYSTEMTIME& now, TASK_TRIGGER_TYPE type) {
  TASK_TRIGGER trigger = {};
  trigger.cbTriggerSize = sizeof(TASK_TRIGGER);
  trigger.wBeginYear = now.wYear;
  trigger.wBeginMonth = now.wMonth;
  trigger.wBeginDay = now.wDay;
  trigger.wStartHour = now.wHour;
  trigger.wStartMinute = now.wMinute;
  trigger.TriggerType = type;
  return trigger;
}

bool AddTrigger(ITask* task, TASK_TRIGGER* values) {
  WORD index = 0;
  ComPtr<ITaskTrigger> trigger;
  if (FAILED(task->CreateTrigger(&index, &trigger)))
    return false;
  // Without values the trigger keeps what the Task Scheduler gives a new
  // one.
  return !values || SUCCEEDED(trigger->SetTrigger(values));
}

}  // namespace

TaskSchedulerV1::TaskSchedulerV1() = default;

TaskSchedulerV1::~TaskSchedulerV1() = default;

bool TaskSchedulerV1::Initialize() {
  scheduler_.Reset();
  return SUCCEEDED(::CoCreateInstance(
      CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler,
      reinterpret_cast<void**>(scheduler_.GetAddressOf())));
}

ComPtr<ITask> TaskSchedulerV1::Activate(const std::wstring& full_name) {
  ComPtr<ITask> task;
  if (!scheduler_ || FAILED(scheduler_->Activate(
                         full_name.c_str(), IID_ITask,
                         reinterpret_cast<IUnknown**>(task.GetAddressOf())))) {
    return nullptr;
  }
  return task;
}

bool TaskSchedulerV1::RegisterTask(const ScheduledTaskInfo& info) {
  if (!scheduler_)
    return false;
  base::string16 user;
  if (!GetSamCompatibleUserName(&user))
    return false;
  const std::wstring full_name = GetScheduledTaskFullName(info.name);
  scheduler_->Delete(full_name.c_str());

  ComPtr<ITask> task;
  if (FAILED(scheduler_->NewWorkItem(
          full_name.c_str(), CLSID_CTask, IID_ITask,
          reinterpret_cast<IUnknown**>(task.GetAddressOf())))) {
    return false;
  }
  const bool system = info.run_as_system == 1;
  const bool run_once = info.schedule == RUN_ONCE;
  // An empty account is the local system account.
  const uint64_t run_time_ms =
      info.execution_time_limit_seconds == 0
          ? INFINITE
          : std::min<uint64_t>(info.execution_time_limit_seconds * 1000ull,
                               kLongestRunTimeMs);
  if (FAILED(
          task->SetAccountInformation(system ? L"" : user.c_str(), nullptr)) ||
      FAILED(task->SetApplicationName(
          info.command_line.GetProgram().value().c_str())) ||
      FAILED(task->SetComment(info.description.c_str())) ||
      FAILED(task->SetCreator(user.c_str())) ||
      FAILED(task->SetFlags(TASK_FLAG_RUN_ONLY_IF_LOGGED_ON |
                            (run_once ? TASK_FLAG_DELETE_WHEN_DONE : 0))) ||
      FAILED(task->SetMaxRunTime(static_cast<DWORD>(run_time_ms))) ||
      FAILED(task->SetParameters(
          info.command_line.GetArgumentsString().c_str()))) {
    return false;
  }

  SYSTEMTIME now = {};
  ::GetLocalTime(&now);
  TASK_TRIGGER time_trigger = MakeTrigger(
      now, run_once ? TASK_TIME_TRIGGER_ONCE : TASK_TIME_TRIGGER_DAILY);
  time_trigger.Type.Daily.DaysInterval = 1;
  if (!AddTrigger(task.Get(),
                  info.schedule == NO_TIME_TRIGGER ? nullptr : &time_trigger)) {
    return false;
  }
  if (info.add_logon_trigger && !run_once) {
    // Also for a system task: 1.0 has no trigger at system start that
    // waits for the network.
    TASK_TRIGGER logon = MakeTrigger(now, TASK_EVENT_TRIGGER_AT_LOGON);
    if (!AddTrigger(task.Get(), &logon))
      return false;
  }
  if (FAILED(Save(task.Get())))
    return false;
  if (system && !run_once)
    GrantAuthenticatedUsersAccess(task.Get());
  if (run_once)
    task->Run();
  return true;
}

void TaskSchedulerV1::RemoveOrphanedTasks() {
  ComPtr<IEnumWorkItems> items;
  if (!scheduler_ || FAILED(scheduler_->Enum(&items)))
    return;
  // Deleted after the walk, so that the enumeration does not change under
  // it.
  std::vector<std::wstring> orphans;
  for (;;) {
    LPWSTR* names = nullptr;
    ULONG fetched = 0;
    if (items->Next(1, &names, &fetched) != S_OK || fetched != 1 || !names)
      break;
    std::wstring name(names[0] ? names[0] : L"");
    ::CoTaskMemFree(names[0]);
    ::CoTaskMemFree(names);
    // The enumeration names the task files.
    if (base::EndsWith(name, L".job", base::CompareCase::INSENSITIVE_ASCII))
      name.resize(name.size() - 4);
    if (!IsProductScheduledTaskName(name))
      continue;
    ComPtr<ITask> task = Activate(name);
    HRESULT status = S_OK;
    if (!task || FAILED(task->GetStatus(&status)))
      break;
    if (status == SCHED_S_TASK_DISABLED)
      continue;
    LPWSTR application = nullptr;
    if (FAILED(task->GetApplicationName(&application)))
      break;
    const std::wstring program(application ? application : L"");
    ::CoTaskMemFree(application);
    const base::StringPiece16 unquoted =
        base::TrimString(program, L"\"", base::TRIM_ALL);
    if (!base::PathExists(base::FilePath(unquoted.as_string())))
      orphans.push_back(name);
  }
  for (const std::wstring& orphan : orphans)
    scheduler_->Delete(orphan.c_str());
}

void TaskSchedulerV1::RemoveTask(const std::wstring& name) {
  if (scheduler_)
    scheduler_->Delete(GetScheduledTaskFullName(name).c_str());
}

void TaskSchedulerV1::SetDailyInterval(const std::wstring& name,
                                       unsigned days) {
  ComPtr<ITask> task = Activate(GetScheduledTaskFullName(name));
  WORD count = 0;
  if (!task || FAILED(task->GetTriggerCount(&count)))
    return;
  for (WORD i = 0; i < count; ++i) {
    ComPtr<ITaskTrigger> trigger;
    TASK_TRIGGER values = {};
    values.cbTriggerSize = sizeof(values);
    if (FAILED(task->GetTrigger(i, &trigger)) ||
        FAILED(trigger->GetTrigger(&values))) {
      return;
    }
    if (values.TriggerType != TASK_TIME_TRIGGER_DAILY)
      continue;
    if (values.Type.Daily.DaysInterval != days) {
      values.Type.Daily.DaysInterval = static_cast<WORD>(days);
      if (SUCCEEDED(trigger->SetTrigger(&values)))
        Save(task.Get());
    }
    return;
  }
}

void TaskSchedulerV1::SetTaskEnabled(const std::wstring& name, bool enabled) {
  ComPtr<ITask> task = Activate(GetScheduledTaskFullName(name));
  DWORD flags = 0;
  if (!task || FAILED(task->GetFlags(&flags)))
    return;
  flags =
      enabled ? (flags & ~TASK_FLAG_DISABLED) : (flags | TASK_FLAG_DISABLED);
  if (SUCCEEDED(task->SetFlags(flags)))
    Save(task.Get());
}

bool TaskSchedulerV1::RunTask(const std::wstring& name,
                              const std::vector<std::wstring>& arguments) {
  // 1.0 cannot pass arguments to a run.
  ComPtr<ITask> task = Activate(GetScheduledTaskFullName(name));
  return task && SUCCEEDED(task->Run());
}

ScheduledTaskState TaskSchedulerV1::GetTaskState(const std::wstring& name) {
  ComPtr<ITask> task = Activate(GetScheduledTaskFullName(name));
  if (!task)
    return SCHEDULED_TASK_NOT_FOUND;
  HRESULT status = S_OK;
  if (FAILED(task->GetStatus(&status)))
    return SCHEDULED_TASK_UNKNOWN;
  switch (status) {
    case SCHED_S_TASK_READY:
    case SCHED_S_TASK_HAS_NOT_RUN:
      return SCHEDULED_TASK_READY;
    case SCHED_S_TASK_RUNNING:
      return SCHEDULED_TASK_RUNNING;
    case SCHED_S_TASK_DISABLED:
      return SCHEDULED_TASK_DISABLED;
    case SCHED_S_TASK_NO_MORE_RUNS:
    case SCHED_S_TASK_NOT_SCHEDULED:
    case SCHED_S_TASK_NO_VALID_TRIGGERS:
      return SCHEDULED_TASK_FINISHED;
    default:
      return SCHEDULED_TASK_UNKNOWN;
  }
}

base::Time TaskSchedulerV1::GetLastRunTime(const std::wstring& name) {
  ComPtr<ITask> task = Activate(GetScheduledTaskFullName(name));
  SYSTEMTIME local = {};
  if (!task)
    return base::Time();
  const HRESULT hr = task->GetMostRecentRunTime(&local);
  if (FAILED(hr) || hr == SCHED_S_TASK_HAS_NOT_RUN)
    return base::Time();
  return TimeFromLocalSystemTime(local);
}

}  // namespace installer
