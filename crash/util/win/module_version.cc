#include "crash/util/win/module_version.h"

#include <memory>

#include "base/logging.h"
#include "base/win/system_library.h"

namespace crash_reporter {

namespace {

using GetFileVersionInfoSizeWFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
using GetFileVersionInfoWFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
using VerQueryValueWFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

struct VersionFunctions {
  GetFileVersionInfoSizeWFn get_size = nullptr;
  GetFileVersionInfoWFn get_info = nullptr;
  VerQueryValueWFn query = nullptr;
};

// version.dll is no KnownDLL: bound at run time from the system folder, so a
// copy planted beside the program is never the one used. Null when it cannot
// be had; the first answer stands for the process's life.
const VersionFunctions* LoadVersionFunctions() {
  HMODULE module = base::win::LoadSystemLibrary(L"version.dll");
  if (!module) {
    PLOG(WARNING) << "LoadLibrary version.dll";
    return nullptr;
  }
  static VersionFunctions functions;
  functions.get_size = reinterpret_cast<GetFileVersionInfoSizeWFn>(
      ::GetProcAddress(module, "GetFileVersionInfoSizeW"));
  functions.get_info = reinterpret_cast<GetFileVersionInfoWFn>(
      ::GetProcAddress(module, "GetFileVersionInfoW"));
  functions.query = reinterpret_cast<VerQueryValueWFn>(
      ::GetProcAddress(module, "VerQueryValueW"));
  if (!functions.get_size || !functions.get_info || !functions.query) {
    PLOG(WARNING) << "GetProcAddress version.dll";
    return nullptr;
  }
  return &functions;
}

const VersionFunctions* Version() {
  static const VersionFunctions* const functions = LoadVersionFunctions();
  return functions;
}

}  // namespace

bool GetModuleVersionAndType(const base::FilePath& path,
                             VS_FIXEDFILEINFO* vs_fixedfileinfo) {
  const VersionFunctions* version = Version();
  if (!version)
    return false;

  DWORD handle;
  const DWORD size = version->get_size(path.value().c_str(), &handle);
  if (!size) {
    // A module without a version resource is no surprise worth a line:
    // one with other resources says the type is missing, one without any
    // resources that the data is.
    const DWORD error = ::GetLastError();
    PLOG_IF(WARNING, error != ERROR_RESOURCE_TYPE_NOT_FOUND &&
                         error != ERROR_RESOURCE_DATA_NOT_FOUND)
        << "GetFileVersionInfoSize: " << path.value();
    return false;
  }

  std::unique_ptr<uint8_t[]> data(new uint8_t[size]);
  if (!version->get_info(path.value().c_str(), 0, size, data.get())) {
    PLOG(WARNING) << "GetFileVersionInfo: " << path.value();
    return false;
  }

  VS_FIXEDFILEINFO* fixed_file_info;
  UINT fixed_file_info_size;
  if (!version->query(data.get(), L"\\",
                      reinterpret_cast<void**>(&fixed_file_info),
                      &fixed_file_info_size) ||
      !fixed_file_info || fixed_file_info_size < sizeof(VS_FIXEDFILEINFO)) {
    PLOG(WARNING) << "VerQueryValue";
    return false;
  }

  *vs_fixedfileinfo = *fixed_file_info;
  vs_fixedfileinfo->dwFileFlags &= vs_fixedfileinfo->dwFileFlagsMask;
  return true;
}

}  // namespace crash_reporter
