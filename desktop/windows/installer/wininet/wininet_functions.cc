#include "desktop/windows/installer/wininet/wininet_functions.h"

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
      !Resolve(module, "InternetReadFile", &functions.read_file) ||
      !Resolve(module, "InternetCloseHandle", &functions.close_handle) ||
      !Resolve(module, "InternetCrackUrlW", &functions.crack_url) ||
      !Resolve(module, "InternetCombineUrlW", &functions.combine_url) ||
      !Resolve(module, "InternetSetOptionW", &functions.set_option)) {
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

}  // namespace installer
