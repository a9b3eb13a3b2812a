#ifndef BASE_WIN_MESSAGE_WINDOW_H_
#define BASE_WIN_MESSAGE_WINDOW_H_

#include <windows.h>

#include <string>

#include "base/callback.h"
#include "base/macros.h"

namespace base {
namespace win {

// A message-only window: receives posted and sent messages for a component
// that has no visible window.
class MessageWindow {
 public:
  // Handles a message: returns true when it did, with |result| set;
  // otherwise the default window procedure runs.
  using MessageCallback = RepeatingCallback<bool(
      UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result)>;

  MessageWindow();
  ~MessageWindow();

  // Creates the window; false (with an error logged) on failure.
  bool Create(MessageCallback message_callback);
  bool CreateNamed(MessageCallback message_callback,
                   const std::wstring& window_name);

  HWND hwnd() const { return window_; }

 private:
  friend class MessageWindowClassRegistrar;

  bool DoCreate(MessageCallback message_callback, const wchar_t* window_name);

  static LRESULT CALLBACK WindowProc(HWND hwnd,
                                     UINT message,
                                     WPARAM wparam,
                                     LPARAM lparam);

  MessageCallback message_callback_;
  HWND window_ = nullptr;

  DISALLOW_COPY_AND_ASSIGN(MessageWindow);
};

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_MESSAGE_WINDOW_H_
