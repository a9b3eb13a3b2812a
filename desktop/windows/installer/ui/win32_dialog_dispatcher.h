#ifndef DESKTOP_WINDOWS_INSTALLER_UI_WIN32_DIALOG_DISPATCHER_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_WIN32_DIALOG_DISPATCHER_H_

#include <windows.h>

#include "base/macros.h"
#include "base/message_loop/message_pump_dispatcher.h"

namespace installer {

// Offers each native message of the UI run loop to the active modeless
// dialog first, so that Tab, Enter, Escape and mnemonics work in it.
class Win32DialogDispatcher : public base::MessagePumpDispatcher {
 public:
  static Win32DialogDispatcher* GetInstance();

  uint32_t Dispatch(const MSG& msg) override;

  // The dialogs call these on activation and deactivation.
  void SetActiveDialog(HWND dialog);
  void ClearActiveDialog(HWND dialog);
  HWND active_dialog() const { return active_dialog_; }

 private:
  friend class Win32DialogDispatcherTest;
  Win32DialogDispatcher() = default;

  HWND active_dialog_ = nullptr;

  DISALLOW_COPY_AND_ASSIGN(Win32DialogDispatcher);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_WIN32_DIALOG_DISPATCHER_H_
