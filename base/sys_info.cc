#include "base/sys_info.h"

#include <windows.h>

#include <limits>

#include "base/files/file_path.h"
#include "base/win/windows_version.h"

namespace base {

// static
int SysInfo::NumberOfProcessors() {
  return win::OSInfo::GetInstance()->processors();
}

// static
size_t SysInfo::AllocationGranularity() {
  return win::OSInfo::GetInstance()->allocation_granularity();
}

// static
int64_t SysInfo::AmountOfFreeDiskSpace(const FilePath& path) {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExW(path.value().c_str(), &available, nullptr,
                           nullptr)) {
    return -1;
  }
  constexpr uint64_t kInt64Max = std::numeric_limits<int64_t>::max();
  if (available.QuadPart >= kInt64Max)
    return static_cast<int64_t>(kInt64Max);
  return static_cast<int64_t>(available.QuadPart);
}

}  // namespace base
