#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_WININET_FUNCTIONS_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_WININET_FUNCTIONS_H_

#include <windows.h>
#include <wininet.h>

#include "base/macros.h"

namespace installer {

// The WinINet functions the installer calls. wininet.dll is no KnownDLL, so
// it is not imported (an installer runs from a download folder, where a DLL
// of that name may lie): it is loaded from the system folder on first use
// and stays loaded.
struct WininetFunctions {
  decltype(&::InternetOpenW) open;
  decltype(&::InternetConnectW) connect;
  decltype(&::HttpOpenRequestW) open_request;
  decltype(&::HttpSendRequestW) send_request;
  decltype(&::HttpQueryInfoW) query_info;
  decltype(&::InternetQueryDataAvailable) query_data_available;
  decltype(&::InternetReadFile) read_file;
  decltype(&::InternetCloseHandle) close_handle;
  decltype(&::InternetCrackUrlW) crack_url;
  decltype(&::InternetSetOptionW) set_option;
  decltype(&::InternetSetStatusCallbackW) set_status_callback;
  decltype(&::InternetErrorDlg) error_dlg;
};

// Null, after logging why, when wininet.dll or one of its functions cannot
// be had; the answer of the first call stands for the process's life.
const WininetFunctions* Wininet();

// Sets the connect, send and receive time-outs of |handle| to |timeout_ms|,
// and WinINet's own connect retries to |connect_retries| unless that is 0
// (0 leaves WinINet's default). Set on the session and again on each
// request: not every WinINet passes the session's values on.
void SetInternetTimeouts(HINTERNET handle,
                         DWORD timeout_ms,
                         DWORD connect_retries);

// Closes |*handle| if it is open and clears it.
void CloseInternetHandle(HINTERNET* handle);

// Closes a WinINet handle when it goes out of scope.
class ScopedInternetHandle {
 public:
  explicit ScopedInternetHandle(HINTERNET handle) : handle_(handle) {}
  ~ScopedInternetHandle() { CloseInternetHandle(&handle_); }
  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HINTERNET handle_;
  DISALLOW_COPY_AND_ASSIGN(ScopedInternetHandle);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_WININET_FUNCTIONS_H_
