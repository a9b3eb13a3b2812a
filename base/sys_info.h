#ifndef BASE_SYS_INFO_H_
#define BASE_SYS_INFO_H_

#include <stddef.h>
#include <stdint.h>

namespace base {

class FilePath;

// Facts about the machine, from the process's OSInfo record and the system.
class SysInfo {
 public:
  // The number of logical processors.
  static int NumberOfProcessors();

  // The granularity of virtual-memory allocations: mapping offsets are
  // aligned to it.
  static size_t AllocationGranularity();

  // The bytes on the volume of |path| available to the calling user; -1
  // when the volume cannot be queried.
  static int64_t AmountOfFreeDiskSpace(const FilePath& path);
};

}  // namespace base

#endif  // BASE_SYS_INFO_H_
