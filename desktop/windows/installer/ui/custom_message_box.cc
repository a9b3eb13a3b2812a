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

}  // namespace installer
