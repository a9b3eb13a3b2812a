#ifndef CRASH_UTIL_WIN_MODULE_VERSION_H_
#define CRASH_UTIL_WIN_MODULE_VERSION_H_

#include <windows.h>

#include "base/files/file_path.h"

namespace crash_reporter {

// Reads the fixed version record of the module at |path| into
// |vs_fixedfileinfo|, its file flags already masked by its flags mask.
// False, after a warning in the log, when the record cannot be read; a
// module without a version resource fails without one.
bool GetModuleVersionAndType(const base::FilePath& path,
                             VS_FIXEDFILEINFO* vs_fixedfileinfo);

}  // namespace crash_reporter

#endif  // CRASH_UTIL_WIN_MODULE_VERSION_H_
