#include "base/win/version_api.h"

#include "base/logging.h"
#include "base/win/system_library.h"

namespace base {
namespace win {

namespace {

const VersionApi* LoadVersionApi() {
  HMODULE module = LoadSystemLibrary(L"version.dll");
  if (!module) {
    PLOG(WARNING) << "LoadLibrary version.dll";
    return nullptr;
  }
  static VersionApi api;
  api.get_file_version_info_size =
      reinterpret_cast<decltype(api.get_file_version_info_size)>(
          ::GetProcAddress(module, "GetFileVersionInfoSizeW"));
  api.get_file_version_info =
      reinterpret_cast<decltype(api.get_file_version_info)>(
          ::GetProcAddress(module, "GetFileVersionInfoW"));
  api.ver_query_value = reinterpret_cast<decltype(api.ver_query_value)>(
      ::GetProcAddress(module, "VerQueryValueW"));
  if (!api.get_file_version_info_size || !api.get_file_version_info ||
      !api.ver_query_value) {
    PLOG(WARNING) << "GetProcAddress version.dll";
    return nullptr;
  }
  return &api;
}

}  // namespace

const VersionApi* GetVersionApi() {
  // Thread-safe: made once, by the first caller.
  static const VersionApi* const api = LoadVersionApi();
  return api;
}

}  // namespace win
}  // namespace base
