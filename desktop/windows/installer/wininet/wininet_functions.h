#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_WININET_FUNCTIONS_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_WININET_FUNCTIONS_H_

#include <windows.h>
#include <wininet.h>

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
  decltype(&::InternetReadFile) read_file;
  decltype(&::InternetCloseHandle) close_handle;
  decltype(&::InternetCrackUrlW) crack_url;
  decltype(&::InternetCombineUrlW) combine_url;
  decltype(&::InternetSetOptionW) set_option;
};

// Null, after logging why, when wininet.dll or one of its functions cannot
// be had; the answer of the first call stands for the process's life.
const WininetFunctions* Wininet();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_WININET_FUNCTIONS_H_
