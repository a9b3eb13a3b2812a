#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_TASK_SERVICE_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_TASK_SERVICE_H_

// Stand-ins for the Task Scheduler 2.0 objects. Each stub answers every
// call with E_NOTIMPL except the simple setters, which record
// "Tag.put_Name value" in FakeTaskLog() and succeed; tests derive from the
// stubs for the calls whose answers matter.

#include <windows.h>
#include <oleauto.h>
#include <taskschd.h>

#include <string>
#include <vector>

#include "desktop/windows/installer/service/task_scheduler_triggers.h"

namespace installer {
namespace test {

inline std::vector<std::wstring>& FakeTaskLog() {
  static std::vector<std::wstring>* const log = new std::vector<std::wstring>;
  return *log;
}

// How many fakes exist; tests check that every reference taken is given
// back.
inline int& LiveFakeObjects() {
  static int live = 0;
  return live;
}

// IUnknown and IDispatch of one fake; it answers the ids of |I| and of the
// interface it extends.
template <typename I, const IID* kIid, const IID* kBaseIid = &IID_IDispatch>
class FakeDispatch : public I {
 public:
  explicit FakeDispatch(const wchar_t* tag = L"") : tag_(tag) {
    ++LiveFakeObjects();
  }
  virtual ~FakeDispatch() { --LiveFakeObjects(); }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (iid != IID_IUnknown && iid != IID_IDispatch && iid != *kIid &&
        iid != *kBaseIid) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<I*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG refs = --refs_;
    if (!refs)
      delete this;
    return refs;
  }
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  STDMETHODIMP Invoke(DISPID,
                      REFIID,
                      LCID,
                      WORD,
                      DISPPARAMS*,
                      VARIANT*,
                      EXCEPINFO*,
                      UINT*) override {
    return E_NOTIMPL;
  }

 protected:
  void Record(const std::wstring& call, const std::wstring& value) {
    FakeTaskLog().push_back(tag_ + L"." + call + L" " + value);
  }
  HRESULT Put(const wchar_t* call, BSTR value) {
    Record(call, value ? value : L"(null)");
    return S_OK;
  }
  HRESULT Put(const wchar_t* call, long value) {
    Record(call, std::to_wstring(value));
    return S_OK;
  }

 private:
  const std::wstring tag_;
  ULONG refs_ = 0;
};

// Hands |object| out through an out-parameter, as COM does.
template <typename T, typename I>
HRESULT HandOut(T* object, I** out) {
  *out = object;
  object->AddRef();
  return S_OK;
}

#define NOT_USED(method, ...)                 \
  STDMETHODIMP method(__VA_ARGS__) override { \
    return E_NOTIMPL;                         \
  }
#define RECORD_TEXT(method)                  \
  STDMETHODIMP method(BSTR value) override { \
    return this->Put(L"" #method, value);    \
  }
#define RECORD_NUMBER(method, type)                          \
  STDMETHODIMP method(type value) override {                 \
    return this->Put(L"" #method, static_cast<long>(value)); \
  }

class StubTaskService : public FakeDispatch<ITaskService, &IID_ITaskService> {
 public:
  using FakeDispatch::FakeDispatch;
  NOT_USED(GetFolder, BSTR, ITaskFolder**)
  NOT_USED(GetRunningTasks, LONG, IRunningTaskCollection**)
  NOT_USED(NewTask, DWORD, ITaskDefinition**)
  NOT_USED(Connect, VARIANT, VARIANT, VARIANT, VARIANT)
  NOT_USED(get_Connected, VARIANT_BOOL*)
  NOT_USED(get_TargetServer, BSTR*)
  NOT_USED(get_ConnectedUser, BSTR*)
  NOT_USED(get_ConnectedDomain, BSTR*)
  NOT_USED(get_HighestVersion, DWORD*)
};

class StubTaskFolder : public FakeDispatch<ITaskFolder, &IID_ITaskFolder> {
 public:
  using FakeDispatch::FakeDispatch;
  NOT_USED(get_Name, BSTR*)
  NOT_USED(get_Path, BSTR*)
  NOT_USED(GetFolder, BSTR, ITaskFolder**)
  NOT_USED(GetFolders, LONG, ITaskFolderCollection**)
  NOT_USED(CreateFolder, BSTR, VARIANT, ITaskFolder**)
  NOT_USED(DeleteFolder, BSTR, LONG)
  NOT_USED(GetTask, BSTR, IRegisteredTask**)
  NOT_USED(GetTasks, LONG, IRegisteredTaskCollection**)
  NOT_USED(DeleteTask, BSTR, LONG)
  NOT_USED(RegisterTask,
           BSTR,
           BSTR,
           LONG,
           VARIANT,
           VARIANT,
           TASK_LOGON_TYPE,
           VARIANT,
           IRegisteredTask**)
  NOT_USED(RegisterTaskDefinition,
           BSTR,
           ITaskDefinition*,
           LONG,
           VARIANT,
           VARIANT,
           TASK_LOGON_TYPE,
           VARIANT,
           IRegisteredTask**)
  NOT_USED(GetSecurityDescriptor, LONG, BSTR*)
  NOT_USED(SetSecurityDescriptor, BSTR, LONG)
};

class StubTaskDefinition
    : public FakeDispatch<ITaskDefinition, &IID_ITaskDefinition> {
 public:
  using FakeDispatch::FakeDispatch;
  NOT_USED(get_RegistrationInfo, IRegistrationInfo**)
  NOT_USED(put_RegistrationInfo, IRegistrationInfo*)
  NOT_USED(get_Triggers, ITriggerCollection**)
  NOT_USED(put_Triggers, ITriggerCollection*)
  NOT_USED(get_Settings, ITaskSettings**)
  NOT_USED(put_Settings, ITaskSettings*)
  NOT_USED(get_Data, BSTR*)
  RECORD_TEXT(put_Data)
  NOT_USED(get_Principal, IPrincipal**)
  NOT_USED(put_Principal, IPrincipal*)
  NOT_USED(get_Actions, IActionCollection**)
  NOT_USED(put_Actions, IActionCollection*)
  NOT_USED(get_XmlText, BSTR*)
  RECORD_TEXT(put_XmlText)
};

class StubRegistrationInfo
    : public FakeDispatch<IRegistrationInfo, &IID_IRegistrationInfo> {
 public:
  using FakeDispatch::FakeDispatch;
  NOT_USED(get_Description, BSTR*)
  RECORD_TEXT(put_Description)
  NOT_USED(get_Author, BSTR*)
  RECORD_TEXT(put_Author)
  NOT_USED(get_Version, BSTR*)
  RECORD_TEXT(put_Version)
  NOT_USED(get_Date, BSTR*)
  RECORD_TEXT(put_Date)
  NOT_USED(get_Documentation, BSTR*)
  RECORD_TEXT(put_Documentation)
  NOT_USED(get_XmlText, BSTR*)
  RECORD_TEXT(put_XmlText)
  NOT_USED(get_URI, BSTR*)
  RECORD_TEXT(put_URI)
  NOT_USED(get_SecurityDescriptor, VARIANT*)
  NOT_USED(put_SecurityDescriptor, VARIANT)
  NOT_USED(get_Source, BSTR*)
  RECORD_TEXT(put_Source)
};

class StubTaskSettings
    : public FakeDispatch<ITaskSettings, &IID_ITaskSettings> {
 public:
  using FakeDispatch::FakeDispatch;
  NOT_USED(get_AllowDemandStart, VARIANT_BOOL*)
  RECORD_NUMBER(put_AllowDemandStart, VARIANT_BOOL)
  NOT_USED(get_RestartInterval, BSTR*)
  RECORD_TEXT(put_RestartInterval)
  NOT_USED(get_RestartCount, INT*)
  RECORD_NUMBER(put_RestartCount, INT)
  NOT_USED(get_MultipleInstances, TASK_INSTANCES_POLICY*)
  RECORD_NUMBER(put_MultipleInstances, TASK_INSTANCES_POLICY)
  NOT_USED(get_StopIfGoingOnBatteries, VARIANT_BOOL*)
  RECORD_NUMBER(put_StopIfGoingOnBatteries, VARIANT_BOOL)
  NOT_USED(get_DisallowStartIfOnBatteries, VARIANT_BOOL*)
  RECORD_NUMBER(put_DisallowStartIfOnBatteries, VARIANT_BOOL)
  NOT_USED(get_AllowHardTerminate, VARIANT_BOOL*)
  RECORD_NUMBER(put_AllowHardTerminate, VARIANT_BOOL)
  NOT_USED(get_StartWhenAvailable, VARIANT_BOOL*)
  RECORD_NUMBER(put_StartWhenAvailable, VARIANT_BOOL)
  NOT_USED(get_XmlText, BSTR*)
  RECORD_TEXT(put_XmlText)
  NOT_USED(get_RunOnlyIfNetworkAvailable, VARIANT_BOOL*)
  RECORD_NUMBER(put_RunOnlyIfNetworkAvailable, VARIANT_BOOL)
  NOT_USED(get_ExecutionTimeLimit, BSTR*)
  RECORD_TEXT(put_ExecutionTimeLimit)
  NOT_USED(get_Enabled, VARIANT_BOOL*)
  RECORD_NUMBER(put_Enabled, VARIANT_BOOL)
  NOT_USED(get_DeleteExpiredTaskAfter, BSTR*)
  RECORD_TEXT(put_DeleteExpiredTaskAfter)
  NOT_USED(get_Priority, INT*)
  RECORD_NUMBER(put_Priority, INT)
  NOT_USED(get_Compatibility, TASK_COMPATIBILITY*)
  RECORD_NUMBER(put_Compatibility, TASK_COMPATIBILITY)
  NOT_USED(get_Hidden, VARIANT_BOOL*)
  RECORD_NUMBER(put_Hidden, VARIANT_BOOL)
  NOT_USED(get_IdleSettings, IIdleSettings**)
  NOT_USED(put_IdleSettings, IIdleSettings*)
  NOT_USED(get_RunOnlyIfIdle, VARIANT_BOOL*)
  RECORD_NUMBER(put_RunOnlyIfIdle, VARIANT_BOOL)
  NOT_USED(get_WakeToRun, VARIANT_BOOL*)
  RECORD_NUMBER(put_WakeToRun, VARIANT_BOOL)
  NOT_USED(get_NetworkSettings, INetworkSettings**)
  NOT_USED(put_NetworkSettings, INetworkSettings*)
};

class StubTriggerCollection
    : public FakeDispatch<ITriggerCollection, &IID_ITriggerCollection> {
 public:
  using FakeDispatch::FakeDispatch;
  NOT_USED(get_Count, LONG*)
  NOT_USED(get_Item, LONG, ITrigger**)
  NOT_USED(get__NewEnum, IUnknown**)
  NOT_USED(Create, TASK_TRIGGER_TYPE2, ITrigger**)
  NOT_USED(Remove, VARIANT)
  NOT_USED(Clear)
};

class StubActionCollection
    : public FakeDispatch<IActionCollection, &IID_IActionCollection> {
 public:
  using FakeDispatch::FakeDispatch;
  NOT_USED(get_Count, LONG*)
  NOT_USED(get_Item, LONG, IAction**)
  NOT_USED(get__NewEnum, IUnknown**)
  NOT_USED(get_XmlText, BSTR*)
  RECORD_TEXT(put_XmlText)
  NOT_USED(Create, TASK_ACTION_TYPE, IAction**)
  NOT_USED(Remove, VARIANT)
  NOT_USED(Clear)
  NOT_USED(get_Context, BSTR*)
  RECORD_TEXT(put_Context)
};

class StubPrincipal : public FakeDispatch<IPrincipal, &IID_IPrincipal> {
 public:
  using FakeDispatch::FakeDispatch;
  NOT_USED(get_Id, BSTR*)
  RECORD_TEXT(put_Id)
  NOT_USED(get_DisplayName, BSTR*)
  RECORD_TEXT(put_DisplayName)
  NOT_USED(get_UserId, BSTR*)
  RECORD_TEXT(put_UserId)
  NOT_USED(get_LogonType, TASK_LOGON_TYPE*)
  RECORD_NUMBER(put_LogonType, TASK_LOGON_TYPE)
  NOT_USED(get_GroupId, BSTR*)
  RECORD_TEXT(put_GroupId)
  NOT_USED(get_RunLevel, TASK_RUNLEVEL_TYPE*)
  RECORD_NUMBER(put_RunLevel, TASK_RUNLEVEL_TYPE)
};

class StubRegisteredTask
    : public FakeDispatch<IRegisteredTask, &IID_IRegisteredTask> {
 public:
  using FakeDispatch::FakeDispatch;
  NOT_USED(get_Name, BSTR*)
  NOT_USED(get_Path, BSTR*)
  NOT_USED(get_State, TASK_STATE*)
  NOT_USED(get_Enabled, VARIANT_BOOL*)
  RECORD_NUMBER(put_Enabled, VARIANT_BOOL)
  NOT_USED(Run, VARIANT, IRunningTask**)
  NOT_USED(RunEx, VARIANT, LONG, LONG, BSTR, IRunningTask**)
  NOT_USED(GetInstances, LONG, IRunningTaskCollection**)
  NOT_USED(get_LastRunTime, DATE*)
  NOT_USED(get_LastTaskResult, LONG*)
  NOT_USED(get_NumberOfMissedRuns, LONG*)
  NOT_USED(get_NextRunTime, DATE*)
  NOT_USED(get_Definition, ITaskDefinition**)
  NOT_USED(get_Xml, BSTR*)
  NOT_USED(GetSecurityDescriptor, LONG, BSTR*)
  NOT_USED(SetSecurityDescriptor, BSTR, LONG)
  NOT_USED(Stop, LONG)
  NOT_USED(GetRunTimes,
           const LPSYSTEMTIME,
           const LPSYSTEMTIME,
           DWORD*,
           LPSYSTEMTIME*)
};

class StubRegisteredTaskCollection
    : public FakeDispatch<IRegisteredTaskCollection,
                          &IID_IRegisteredTaskCollection> {
 public:
  using FakeDispatch::FakeDispatch;
  NOT_USED(get_Count, LONG*)
  NOT_USED(get_Item, VARIANT, IRegisteredTask**)
  NOT_USED(get__NewEnum, IUnknown**)
};

template <typename I, const IID* kIid>
class StubTrigger : public FakeDispatch<I, kIid, &IID_ITrigger> {
 public:
  using FakeDispatch<I, kIid, &IID_ITrigger>::FakeDispatch;
  using FakeDispatch<I, kIid, &IID_ITrigger>::Put;
  NOT_USED(get_Type, TASK_TRIGGER_TYPE2*)
  NOT_USED(get_Id, BSTR*)
  RECORD_TEXT(put_Id)
  NOT_USED(get_Repetition, IRepetitionPattern**)
  NOT_USED(put_Repetition, IRepetitionPattern*)
  NOT_USED(get_ExecutionTimeLimit, BSTR*)
  RECORD_TEXT(put_ExecutionTimeLimit)
  NOT_USED(get_StartBoundary, BSTR*)
  RECORD_TEXT(put_StartBoundary)
  NOT_USED(get_EndBoundary, BSTR*)
  RECORD_TEXT(put_EndBoundary)
  NOT_USED(get_Enabled, VARIANT_BOOL*)
  RECORD_NUMBER(put_Enabled, VARIANT_BOOL)
};

template <typename I, const IID* kIid>
class StubAction : public FakeDispatch<I, kIid, &IID_IAction> {
 public:
  using FakeDispatch<I, kIid, &IID_IAction>::FakeDispatch;
  using FakeDispatch<I, kIid, &IID_IAction>::Put;
  NOT_USED(get_Id, BSTR*)
  RECORD_TEXT(put_Id)
  NOT_USED(get_Type, TASK_ACTION_TYPE*)
};

class StubExecAction : public StubAction<IExecAction, &IID_IExecAction> {
 public:
  using StubAction::StubAction;
  NOT_USED(get_Path, BSTR*)
  RECORD_TEXT(put_Path)
  NOT_USED(get_Arguments, BSTR*)
  RECORD_TEXT(put_Arguments)
  NOT_USED(get_WorkingDirectory, BSTR*)
  RECORD_TEXT(put_WorkingDirectory)
};

class StubDailyTrigger : public StubTrigger<IDailyTrigger, &IID_IDailyTrigger> {
 public:
  using StubTrigger::StubTrigger;
  NOT_USED(get_DaysInterval, short*)
  RECORD_NUMBER(put_DaysInterval, short)
  NOT_USED(get_RandomDelay, BSTR*)
  RECORD_TEXT(put_RandomDelay)
};

template <typename I, const IID* kIid>
class StubDelayTrigger : public StubTrigger<I, kIid> {
 public:
  using StubTrigger<I, kIid>::StubTrigger;
  NOT_USED(get_Delay, BSTR*)
  RECORD_TEXT(put_Delay)
};

class StubLogonTrigger
    : public StubDelayTrigger<ILogonTrigger, &kLogonTriggerIid> {
 public:
  using StubDelayTrigger::StubDelayTrigger;
  NOT_USED(get_UserId, BSTR*)
  RECORD_TEXT(put_UserId)
};

using StubBootTrigger = StubDelayTrigger<IBootTrigger, &kBootTriggerIid>;
using StubRegistrationTrigger =
    StubDelayTrigger<IRegistrationTrigger, &kRegistrationTriggerIid>;

#undef NOT_USED
#undef RECORD_TEXT
#undef RECORD_NUMBER

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_TASK_SERVICE_H_
