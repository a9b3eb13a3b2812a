#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"

namespace installer {

// static
Win32DialogDispatcher* Win32DialogDispatcher::GetInstance() {
  static Win32DialogDispatcher* const instance = new Win32DialogDispatcher();
  return instance;
}

uint32_t Win32DialogDispatcher::Dispatch(const MSG& msg) {
  return POST_DISPATCH_PERFORM_DEFAULT;
}

void Win32DialogDispatcher::SetActiveDialog(HWND dialog) {}

void Win32DialogDispatcher::ClearActiveDialog(HWND dialog) {}

}  // namespace installer
