#include "desktop/windows/installer/wininet/wininet_functions.h"

#include <utility>

#include "base/logging.h"
#include "base/win/system_library.h"

namespace installer {

namespace {

template <typename T>
bool Resolve(HMODULE module, const char* name, T* function) {
  *function = reinterpret_cast<T>(::GetProcAddress(module, name));
  return *function != nullptr;
}

const WininetFunctions* LoadWininet() {
  HMODULE module = base::win::LoadSystemLibrary(L"wininet.dll");
  if (!module) {
    PLOG(ERROR) << "Could not load wininet.dll";
    return nullptr;
  }
  static WininetFunctions functions;
  if (!Resolve(module, "InternetOpenW", &functions.open) ||
      !Resolve(module, "InternetConnectW", &functions.connect) ||
      !Resolve(module, "HttpOpenRequestW", &functions.open_request) ||
      !Resolve(module, "HttpSendRequestW", &functions.send_request) ||
      !Resolve(module, "HttpQueryInfoW", &functions.query_info) ||
      !Resolve(module, "InternetQueryDataAvailable",
               &functions.query_data_available) ||
      !Resolve(module, "InternetReadFile", &functions.read_file) ||
      !Resolve(module, "InternetCloseHandle", &functions.close_handle) ||
      !Resolve(module, "InternetCrackUrlW", &functions.crack_url) ||
      !Resolve(module, "InternetSetOptionW", &functions.set_option) ||
      !Resolve(module, "InternetSetStatusCallbackW",
               &functions.set_status_callback) ||
      !Resolve(module, "InternetErrorDlg", &functions.error_dlg)) {
    LOG(ERROR) << "wininet.dll lacks a function the installer needs";
    return nullptr;
  }
  return &functions;
}

}  // namespace

const WininetFunctions* Wininet() {
  static const WininetFunctions* const functions = LoadWininet();
  return functions;
}

void SetInternetTimeouts(HINTERNET handle,
                         DWORD timeout_ms,
                         DWORD connect_retries) {
  const std::pair<DWORD, DWORD> kOptions[] = {
      {INTERNET_OPTION_CONNECT_TIMEOUT, timeout_ms},
      {INTERNET_OPTION_SEND_TIMEOUT, timeout_ms},
      {INTERNET_OPTION_RECEIVE_TIMEOUT, timeout_ms},
      {INTERNET_OPTION_CONNECT_RETRIES, connect_retries},
  };
  for (const auto& option : kOptions) {
    if (option.first == INTERNET_OPTION_CONNECT_RETRIES && connect_retries == 0)
      continue;
    DWORD value = option.second;
    if (!Wininet()->set_option(handle, option.first, &value, sizeof(value)))
      VPLOG(1) << "Could not set WinINet option " << option.first;
  }
}

void CloseInternetHandle(HINTERNET* handle) {
  if (*handle) {
    Wininet()->close_handle(*handle);
    *handle = nullptr;
  }
}

}  // namespace installer
