#include "base/win/message_window.h"

#include "base/check.h"
#include "base/logging.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace base {
namespace win {

namespace {

constexpr wchar_t kMessageWindowClassName[] = L"Kavor_MessageWindow";

HINSTANCE CurrentModule() {
  return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

}  // namespace

// Registers the window class on first use and unregisters it when the module
// goes away.
class MessageWindowClassRegistrar {
 public:
  static const MessageWindowClassRegistrar& Get() {
    static const MessageWindowClassRegistrar registrar;
    return registrar;
  }

  ATOM atom() const { return atom_; }

 private:
  MessageWindowClassRegistrar() {
    WNDCLASSEXW window_class = {};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = &MessageWindow::WindowProc;
    window_class.hInstance = CurrentModule();
    window_class.lpszClassName = kMessageWindowClassName;
    atom_ = ::RegisterClassExW(&window_class);
    if (!atom_) {
      PLOG(ERROR)
          << "Failed to register the window class for a message-only window";
    }
  }

  ~MessageWindowClassRegistrar() {
    if (atom_)
      ::UnregisterClassW(MAKEINTATOM(atom_), CurrentModule());
  }

  ATOM atom_ = 0;
};

MessageWindow::MessageWindow() = default;

MessageWindow::~MessageWindow() {
  if (window_)
    ::DestroyWindow(window_);
}

bool MessageWindow::Create(MessageCallback message_callback) {
  return DoCreate(std::move(message_callback), nullptr);
}

bool MessageWindow::CreateNamed(MessageCallback message_callback,
                                const std::wstring& window_name) {
  return DoCreate(std::move(message_callback), window_name.c_str());
}

bool MessageWindow::DoCreate(MessageCallback message_callback,
                             const wchar_t* window_name) {
  DCHECK(!window_);
  message_callback_ = std::move(message_callback);
  ATOM atom = MessageWindowClassRegistrar::Get().atom();
  window_ = ::CreateWindowExW(0, MAKEINTATOM(atom), window_name, 0, 0, 0, 0, 0,
                              HWND_MESSAGE, nullptr, CurrentModule(), this);
  if (!window_) {
    PLOG(ERROR) << "Failed to create a message-only window";
    return false;
  }
  return true;
}

// static
LRESULT CALLBACK MessageWindow::WindowProc(HWND hwnd,
                                           UINT message,
                                           WPARAM wparam,
                                           LPARAM lparam) {
  MessageWindow* self = reinterpret_cast<MessageWindow*>(
      ::GetWindowLongPtrW(hwnd, GWLP_USERDATA));

  switch (message) {
    case WM_CREATE: {
      const CREATESTRUCTW* create_struct =
          reinterpret_cast<const CREATESTRUCTW*>(lparam);
      self = static_cast<MessageWindow*>(create_struct->lpCreateParams);
      // The handle is needed by the callback before CreateWindowExW returns.
      self->window_ = hwnd;
      ::SetLastError(ERROR_SUCCESS);
      LONG_PTR result = ::SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                                            reinterpret_cast<LONG_PTR>(self));
      CHECK(result != 0 || ::GetLastError() == ERROR_SUCCESS);
      break;
    }
    case WM_DESTROY: {
      ::SetLastError(ERROR_SUCCESS);
      LONG_PTR result = ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      CHECK(result != 0 || ::GetLastError() == ERROR_SUCCESS);
      break;
    }
  }

  if (self) {
    LRESULT message_result;
    if (self->message_callback_.Run(message, wparam, lparam, &message_result))
      return message_result;
  }
  return ::DefWindowProcW(hwnd, message, wparam, lparam);
}

}  // namespace win
}  // namespace base
