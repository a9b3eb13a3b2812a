#include "crash/util/win/module_version.h"

#include <memory>

#include "base/logging.h"
#include "base/win/version_api.h"

namespace crash_reporter {

bool GetModuleVersionAndType(const base::FilePath& path,
                             VS_FIXEDFILEINFO* vs_fixedfileinfo) {
  const base::win::VersionApi* const version = base::win::GetVersionApi();
  if (!version)
    return false;

  DWORD handle;
  const DWORD size =
      version->get_file_version_info_size(path.value().c_str(), &handle);
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
  if (!version->get_file_version_info(path.value().c_str(), 0, size,
                                      data.get())) {
    PLOG(WARNING) << "GetFileVersionInfo: " << path.value();
    return false;
  }

  VS_FIXEDFILEINFO* fixed_file_info;
  UINT fixed_file_info_size;
  if (!version->ver_query_value(data.get(), L"\\",
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
