#ifndef BASE_BASE_PATHS_H_
#define BASE_BASE_PATHS_H_

#include "base/base_paths_win.h"

namespace base {

class FilePath;

// Keys of the path service answered on every system.
enum BasePathKey {
  PATH_START = 0,

  DIR_CURRENT = 1,        // The current folder; never cached.
  DIR_EXE = 2,            // The folder of the process executable.
  DIR_MODULE = 3,         // The folder of the module holding this code.
  DIR_ASSETS = 4,         // Where the assets lie: the module's folder.
  DIR_TEMP = 5,           // The user's temporary folder.
  DIR_HOME = 6,           // The user's profile folder.
  FILE_EXE = 7,           // The process executable.
  FILE_MODULE = 8,        // The module holding this code.
  DIR_SOURCE_ROOT = 9,    // Two folders above DIR_EXE.
  DIR_USER_DESKTOP = 10,  // The user's desktop.
  DIR_TEST_DATA = 11,     // DIR_SOURCE_ROOT\base\test\data, when it exists.

  PATH_END
};

// Answers keys 2 to 6 and 11.
bool PathProvider(int key, FilePath* result);

}  // namespace base

#endif  // BASE_BASE_PATHS_H_
