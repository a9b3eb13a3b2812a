#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_TRIGGERS_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_TRIGGERS_H_

// The Task Scheduler 2.0 triggers that the compiler's taskschd.h leaves out:
// at logon, at system start and at registration. Their layout and ids are
// those the Task Scheduler publishes; each adds its members behind ITrigger.

#include <windows.h>
#include <taskschd.h>

namespace installer {

// {72DADE38-FAE4-4B3E-BAF4-5D009AF02B1C}
inline constexpr IID kLogonTriggerIid = {
    0x72DADE38,
    0xFAE4,
    0x4B3E,
    {0xBA, 0xF4, 0x5D, 0x00, 0x9A, 0xF0, 0x2B, 0x1C}};
// {2A9C35DA-D357-41F4-BBC1-207AC1B1F3CB}
inline constexpr IID kBootTriggerIid = {
    0x2A9C35DA,
    0xD357,
    0x41F4,
    {0xBB, 0xC1, 0x20, 0x7A, 0xC1, 0xB1, 0xF3, 0xCB}};
// {4C8FEC3A-C218-4E0C-B23D-629024DB91A2}
inline constexpr IID kRegistrationTriggerIid = {
    0x4C8FEC3A,
    0xC218,
    0x4E0C,
    {0xB2, 0x3D, 0x62, 0x90, 0x24, 0xDB, 0x91, 0xA2}};

class ILogonTrigger : public ITrigger {
 public:
  virtual HRESULT STDMETHODCALLTYPE get_Delay(BSTR* delay) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Delay(BSTR delay) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_UserId(BSTR* user) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_UserId(BSTR user) = 0;
};

class IBootTrigger : public ITrigger {
 public:
  virtual HRESULT STDMETHODCALLTYPE get_Delay(BSTR* delay) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Delay(BSTR delay) = 0;
};

class IRegistrationTrigger : public ITrigger {
 public:
  virtual HRESULT STDMETHODCALLTYPE get_Delay(BSTR* delay) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Delay(BSTR delay) = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_TASK_SCHEDULER_TRIGGERS_H_
