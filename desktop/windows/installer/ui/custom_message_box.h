#ifndef DESKTOP_WINDOWS_INSTALLER_UI_CUSTOM_MESSAGE_BOX_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_CUSTOM_MESSAGE_BOX_H_

#include <windows.h>

#include <string>

#include "base/callback.h"
#include "base/macros.h"

namespace installer {

// The installer's own message box: a title, a text that may hold a link and
// two buttons. A modeless dialog that disables its owner while it is shown;
// the run loop must use Win32DialogDispatcher for its keyboard handling.
// The callback decides whether the box closes (Close, or deleting it), so it
// may be told several results (a link, then a button); it may delete the
// box.
class CustomMessageBox {
 public:
  enum Result {
    RESULT_CLOSED = 0,
    RESULT_FIRST_BUTTON = 1,
    RESULT_SECOND_BUTTON = 2,
    RESULT_LINK_ACTIVATED = 3,
  };

  CustomMessageBox();
  // Closes the dialog if it is open.
  ~CustomMessageBox();

  // Shows the box without blocking; |callback| gets a Result for each answer
  // until the box is closed, and RESULT_CLOSED when the dialog is destroyed
  // from outside (with its owner) or replaced by another Show. False when
  // the dialog cannot be created (the callback is then never run). A
  // callback told of its replacement must not delete the box.
  bool Show(HWND parent,
            int title_id,
            const std::wstring& text,
            int first_button_id,
            int second_button_id,
            base::RepeatingCallback<void(int)> callback);

  // Enables the owner again and destroys the dialog, when shown.
  void Close();

  // The dialog while it is shown, else null.
  HWND dialog() const { return dialog_; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog,
                                     UINT message,
                                     WPARAM wparam,
                                     LPARAM lparam);
  // Forgets a dialog destroyed without Close and enables the owner again.
  void OnDialogDestroyed(HWND dialog);
  // Forgets |dialog| (Close and OnDialogDestroyed): enables the owner again
  // and stops the dispatcher handing it keyboard messages.
  void ForgetDialog(HWND dialog);
  // Hands |result| to the callback.
  void Report(int result);

  HWND dialog_ = nullptr;
  HWND owner_ = nullptr;
  base::RepeatingCallback<void(int)> callback_;

  DISALLOW_COPY_AND_ASSIGN(CustomMessageBox);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_CUSTOM_MESSAGE_BOX_H_
