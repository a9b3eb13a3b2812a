#include "desktop/windows/installer/ui/custom_message_box.h"

#include <richedit.h>

#include <utility>

#include "base/logging.h"
#include "desktop/windows/installer/ui/image_loader.h"
#include "desktop/windows/installer/ui/resource_ids.h"
#include "desktop/windows/installer/ui/rich_text_links.h"
#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"
#include "desktop/windows/l10n_handler/l10n_handler.h"

namespace installer {

namespace {

const COLORREF kTextColor = RGB(104, 104, 104);

// Posted to the dialog on a click on the link, whose callback must not run
// inside the rich edit's own button handler (it may delete the box, and the
// control with it).
const UINT kLinkActivatedMessage = WM_APP + 1;

}  // namespace

CustomMessageBox::CustomMessageBox() = default;

CustomMessageBox::~CustomMessageBox() {
  Close();
}

bool CustomMessageBox::Show(HWND parent,
                            int title_id,
                            const std::wstring& text,
                            int first_button_id,
                            int second_button_id,
                            base::RepeatingCallback<void(int)> callback) {
  // One box at a time: a second Show replaces the first, whose callback is
  // told that it closed (a run loop may be waiting for its answer).
  if (dialog_) {
    Close();
    base::RepeatingCallback<void(int)> old_callback = std::move(callback_);
    callback_.Reset();
    old_callback.Run(RESULT_CLOSED);
  }
  InitRichEdit();
  LOG(INFO) << "Displaying custom message box";
  HINSTANCE module = ::GetModuleHandleW(nullptr);
  HWND dialog = ::CreateDialogParamW(module, MAKEINTRESOURCEW(IDD_MESSAGE_BOX),
                                     parent, &CustomMessageBox::DialogProc,
                                     reinterpret_cast<LPARAM>(this));
  if (!dialog) {
    PLOG(ERROR) << "Failed to display custom message box";
    return false;
  }
  dialog_ = dialog;
  callback_ = std::move(callback);
  owner_ = parent;
  if (owner_)
    ::EnableWindow(owner_, FALSE);

  SetInstallerIcons(dialog_);
  ::SetWindowTextW(dialog_, GetString(title_id).c_str());

  HWND message = ::GetDlgItem(dialog_, IDC_MESSAGE_TEXT);
  ::SendMessageW(message, EM_SETEVENTMASK, 0, ENM_LINK);
  // The text lies on the dialog's face, not in a white box.
  ::SendMessageW(message, EM_SETBKGNDCOLOR, 0, ::GetSysColor(COLOR_BTNFACE));
  SuppressCaret(message);
  SetRichTextWithLinks(message, text, kTextColor);

  HWND first_button = ::GetDlgItem(dialog_, IDC_FIRST_BUTTON);
  HWND second_button = ::GetDlgItem(dialog_, IDC_SECOND_BUTTON);
  if (first_button_id) {
    ::SetWindowTextW(first_button, GetString(first_button_id).c_str());
    ::SendMessageW(dialog_, DM_SETDEFID, IDC_FIRST_BUTTON, 0);
  } else {
    ::ShowWindow(first_button, SW_HIDE);
    ::SendMessageW(dialog_, DM_SETDEFID, IDC_SECOND_BUTTON, 0);
  }
  ::SetWindowTextW(second_button, GetString(second_button_id).c_str());
  ::ShowWindow(dialog_, SW_SHOW);
  // A hidden button cannot take the focus; the default one does.
  ::SetFocus(first_button_id ? first_button : second_button);
  return true;
}

void CustomMessageBox::Close() {
  if (!dialog_)
    return;
  LOG(INFO) << "Destroying custom message box";
  HWND dialog = dialog_;
  ForgetDialog(dialog);
  ::SetWindowLongPtrW(dialog, DWLP_USER, 0);
  ::DestroyWindow(dialog);
}

void CustomMessageBox::OnDialogDestroyed(HWND dialog) {
  LOG(WARNING) << "Custom message box destroyed with its owner";
  ForgetDialog(dialog);
  // Whoever waits for an answer gets one.
  Report(RESULT_CLOSED);
}

void CustomMessageBox::ForgetDialog(HWND dialog) {
  dialog_ = nullptr;
  // The owner is enabled first so that it takes the activation back.
  if (owner_)
    ::EnableWindow(owner_, TRUE);
  owner_ = nullptr;
  Win32DialogDispatcher::GetInstance()->ClearActiveDialog(dialog);
}

void CustomMessageBox::Report(int result) {
  if (callback_.is_null())
    return;
  // The callback may delete this box: nothing of it is used afterwards.
  base::RepeatingCallback<void(int)> callback = callback_;
  callback.Run(result);
}

// static
INT_PTR CALLBACK CustomMessageBox::DialogProc(HWND dialog,
                                              UINT message,
                                              WPARAM wparam,
                                              LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrW(dialog, DWLP_USER, lparam);
    // The focus is set by Show.
    return FALSE;
  }
  CustomMessageBox* self = reinterpret_cast<CustomMessageBox*>(
      ::GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_ACTIVATE:
      if (LOWORD(wparam) == WA_INACTIVE)
        Win32DialogDispatcher::GetInstance()->ClearActiveDialog(dialog);
      else
        Win32DialogDispatcher::GetInstance()->SetActiveDialog(dialog);
      return FALSE;
    case WM_CLOSE:
      if (self)
        self->Report(RESULT_CLOSED);
      return TRUE;
    case WM_NOTIFY: {
      const NMHDR* header = reinterpret_cast<const NMHDR*>(lparam);
      if (header->idFrom == IDC_MESSAGE_TEXT && header->code == EN_LINK) {
        const ENLINK* link = reinterpret_cast<const ENLINK*>(lparam);
        // Other mouse messages over the link go on to the control.
        if (link->msg != WM_LBUTTONUP)
          return FALSE;
        ::PostMessageW(dialog, kLinkActivatedMessage, 0, 0);
        // The click is handled here; the control ignores it.
        ::SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 1);
        return TRUE;
      }
      return FALSE;
    }
    case WM_NCDESTROY:
      // Destroyed from outside (Close clears the pointer first), e.g. with
      // its owner.
      if (self) {
        ::SetWindowLongPtrW(dialog, DWLP_USER, 0);
        self->OnDialogDestroyed(dialog);
      }
      return FALSE;
    case kLinkActivatedMessage:
      if (self)
        self->Report(RESULT_LINK_ACTIVATED);
      return TRUE;
    case WM_COMMAND:
      if (!self)
        return FALSE;
      switch (LOWORD(wparam)) {
        case IDC_FIRST_BUTTON:
          self->Report(RESULT_FIRST_BUTTON);
          return TRUE;
        case IDC_SECOND_BUTTON:
          self->Report(RESULT_SECOND_BUTTON);
          return TRUE;
        case IDCANCEL:
          // Escape closes the box as its title bar does.
          self->Report(RESULT_CLOSED);
          return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}

}  // namespace installer
