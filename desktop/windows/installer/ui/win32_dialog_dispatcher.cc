#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"

#include "base/logging.h"

namespace installer {

// static
Win32DialogDispatcher* Win32DialogDispatcher::GetInstance() {
  static Win32DialogDispatcher instance;
  return &instance;
}

uint32_t Win32DialogDispatcher::Dispatch(const MSG& msg) {
  if (!active_dialog_)
    return POST_DISPATCH_PERFORM_DEFAULT;
  // IsDialogMessageW takes a non-const message, and may alter it.
  MSG copy = msg;
  return ::IsDialogMessageW(active_dialog_, &copy)
             ? POST_DISPATCH_NONE
             : POST_DISPATCH_PERFORM_DEFAULT;
}

void Win32DialogDispatcher::SetActiveDialog(HWND dialog) {
  VLOG(2) << "Switching to hwnd " << dialog;
  active_dialog_ = dialog;
}

void Win32DialogDispatcher::ClearActiveDialog(HWND dialog) {
  VLOG(2) << "Switching away from hwnd " << dialog;
  if (active_dialog_ == dialog) {
    active_dialog_ = nullptr;
    return;
  }
  VLOG(2) << "Another hwnd was already selected";
}

}  // namespace installer
