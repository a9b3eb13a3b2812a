#ifndef CRASH_TEST_TEST_PROGRAM_H_
#define CRASH_TEST_TEST_PROGRAM_H_

#include "base/base_paths.h"
#include "base/files/file_path.h"
#include "base/path_service.h"

namespace crash_reporter {
namespace test {

// A program built beside the test executable; empty when that folder is
// unknown.
inline base::FilePath TestProgram(const wchar_t* name) {
  base::FilePath exe_dir;
  if (!base::PathService::Get(base::DIR_EXE, &exe_dir))
    return base::FilePath();
  return exe_dir.Append(name);
}

}  // namespace test
}  // namespace crash_reporter

#endif  // CRASH_TEST_TEST_PROGRAM_H_
