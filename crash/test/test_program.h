#ifndef CRASH_TEST_TEST_PROGRAM_H_
#define CRASH_TEST_TEST_PROGRAM_H_

#include <windows.h>
#include <stdio.h>

#include <string>

#include "base/base_paths.h"
#include "base/files/file_path.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/process/process.h"

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

// Starts |command_line| with |options|. A loaded machine may refuse a start
// for a moment: a failed start is reported with its error and tried once
// more; an invalid process means both failed.
inline base::Process StartTestProgram(const std::wstring& command_line,
                                      const base::LaunchOptions& options) {
  for (int attempt = 1;; ++attempt) {
    base::Process process = base::LaunchProcess(command_line, options);
    if (process.IsValid())
      return process;
    const unsigned long error = ::GetLastError();
    fprintf(stderr, "starting %ls failed (error %lu)%s\n",
            command_line.c_str(), error,
            attempt == 1 ? "; trying once more" : "");
    fflush(stderr);
    if (attempt == 2)
      return process;
  }
}

}  // namespace test
}  // namespace crash_reporter

#endif  // CRASH_TEST_TEST_PROGRAM_H_
