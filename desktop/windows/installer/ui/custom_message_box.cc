#include "desktop/windows/installer/ui/custom_message_box.h"

namespace installer {

CustomMessageBox::CustomMessageBox() = default;

CustomMessageBox::~CustomMessageBox() = default;

bool CustomMessageBox::Show(HWND parent,
                            int title_id,
                            const std::wstring& text,
                            int first_button_id,
                            int second_button_id,
                            base::OnceCallback<void(int)> callback) {
  // There is no dialog to create yet.
  return false;
}

// static
Win32DialogDispatcher* Win32DialogDispatcher::GetInstance() {
  static Win32DialogDispatcher* const instance = new Win32DialogDispatcher();
  return instance;
}

uint32_t Win32DialogDispatcher::Dispatch(const MSG& msg) {
  // No dialog is ever active, so every message takes the default way.
  return POST_DISPATCH_PERFORM_DEFAULT;
}

}  // namespace installer
