// A child process that runs code of the base library, for tests whose
// subject must not run in the test process itself. The first argument picks
// what it does.
//
// DLL loading: run from a folder where tests have planted libraries that
// bear system DLL names (see kavor_planted_dll); the mode picks what loads:
//   load-library NAME   LoadLibraryW by bare name (what a planted DLL catches)
//   load-system NAME    base::win::LoadSystemLibrary
//   restrict NAME       RestrictDllSearchToSystemFolder, then LoadLibraryW
//   dpi-awareness       base::win::IsProcessPerMonitorDpiAware (shcore.dll)
//   winrt               base::win::RoInitialize (combase.dll)
//   launch-as-user      base::LaunchProcess under the process's own token
//                       (userenv.dll); the grandchild has no mode and
//                       ends at once
// Exit codes: 0 no planted library got loaded, 3 a planted one did, 4 the
// restriction could not be set.
//
// Jobs: run inside a job that allows breakaway:
//   launch-in-job [breakaway]  launches "report-job" through
//                              base::LaunchProcess, with breakaway_from_job
//                              when asked, and exits with its code
//   report-job                 exits with 0 outside any job, 5 inside one
//
// Logging: several writers of one log file:
//   log-lines PATH TAG COUNT   appends COUNT lines "TAG line N" to the log
//                              file PATH through base logging; exits with 0
//
// Shortcuts:
//   read-shortcut PATH...      writes the target, working folder and
//                              arguments of each shortcut, one per line,
//                              to standard output; exits with 0, 6 when a
//                              shortcut cannot be read
//
// 99: bad usage or a failed step.

#include <windows.h>
#include <shellapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/logging.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/win/dpi.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_com_initializer.h"
#include "base/win/scoped_handle.h"
#include "base/win/shortcut.h"
#include "base/win/system_library.h"
#include "base/win/winrt.h"

namespace {

const int kClean = 0;
const int kPlantedLoaded = 3;
const int kCannotRestrict = 4;
const int kInJob = 5;
const int kUnreadableShortcut = 6;
const int kBadUsage = 99;

const wchar_t* const kPlantedNames[] = {L"userenv.dll", L"shcore.dll",
                                        L"combase.dll"};

bool AnyPlantedLoaded() {
  for (const wchar_t* name : kPlantedNames) {
    HMODULE module = ::GetModuleHandleW(name);
    if (module && ::GetProcAddress(module, "KavorPlantedDllMarker"))
      return true;
  }
  return false;
}

void LaunchAsSelf() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY,
                          &token)) {
    return;
  }
  base::win::ScopedHandle scoped_token(token);
  HANDLE primary = nullptr;
  if (!::DuplicateTokenEx(token, MAXIMUM_ALLOWED, nullptr,
                          SecurityImpersonation, TokenPrimary, &primary)) {
    return;
  }
  base::win::ScopedHandle scoped_primary(primary);
  wchar_t self[MAX_PATH];
  if (!::GetModuleFileNameW(nullptr, self, MAX_PATH))
    return;
  base::LaunchOptions options;
  options.user_token = primary;
  options.start_hidden = true;
  options.wait = true;
  // Whether the launch works does not matter here, only what it loaded.
  (void)base::LaunchProcess(base::CommandLine(base::FilePath(self)), options);
}

int ReportJob() {
  BOOL in_job = FALSE;
  if (!::IsProcessInJob(::GetCurrentProcess(), nullptr, &in_job))
    return kBadUsage;
  return in_job ? kInJob : kClean;
}

int LaunchInJob(bool breakaway) {
  wchar_t self[MAX_PATH];
  if (!::GetModuleFileNameW(nullptr, self, MAX_PATH))
    return kBadUsage;
  base::CommandLine command((base::FilePath(self)));
  command.AppendArg("report-job");
  base::LaunchOptions options;
  options.start_hidden = true;
  options.breakaway_from_job = breakaway;
  base::Process grandchild = base::LaunchProcess(command, options);
  int exit_code = kBadUsage;
  if (!grandchild.IsValid() || !grandchild.WaitForExit(&exit_code))
    return kBadUsage;
  return exit_code;
}

int LogLines(const wchar_t* path, const wchar_t* tag, int count) {
  base::logging::LoggingSettings settings;
  settings.logging_dest = base::logging::LOG_TO_FILE;
  settings.log_file = path;
  settings.delete_old = base::logging::APPEND_TO_OLD_FILE;
  if (!base::logging::BaseInitLoggingImpl(settings))
    return kBadUsage;
  const std::string narrow_tag(tag, tag + wcslen(tag));
  for (int i = 0; i < count; ++i)
    LOG(INFO) << narrow_tag << " line " << i;
  base::logging::CloseLogFile();
  return kClean;
}

int ReadShortcuts(int count, wchar_t** paths) {
  base::win::ScopedCOMInitializer com;
  if (!com.Succeeded())
    return kBadUsage;
  for (int i = 0; i < count; ++i) {
    base::win::ShortcutProperties properties;
    if (!base::win::ResolveShortcutProperties(
            base::FilePath(paths[i]),
            base::win::ShortcutProperties::PROPERTIES_TARGET |
                base::win::ShortcutProperties::PROPERTIES_WORKING_DIR |
                base::win::ShortcutProperties::PROPERTIES_ARGUMENTS,
            &properties)) {
      return kUnreadableShortcut;
    }
    printf("%s\n%s\n%s\n", base::WideToUTF8(properties.target.value()).c_str(),
           base::WideToUTF8(properties.working_dir.value()).c_str(),
           base::WideToUTF8(properties.arguments).c_str());
  }
  return kClean;
}

int Run(int argc, wchar_t** argv) {
  if (argc < 2)
    return kBadUsage;
  const wchar_t* mode = argv[1];
  const wchar_t* name = argc >= 3 ? argv[2] : nullptr;
  if (wcscmp(mode, L"report-job") == 0)
    return ReportJob();
  if (wcscmp(mode, L"launch-in-job") == 0)
    return LaunchInJob(name && wcscmp(name, L"breakaway") == 0);
  if (wcscmp(mode, L"read-shortcut") == 0 && name)
    return ReadShortcuts(argc - 2, argv + 2);
  if (wcscmp(mode, L"log-lines") == 0 && argc == 5)
    return LogLines(name, argv[3], _wtoi(argv[4]));
  if (wcscmp(mode, L"load-library") == 0 && name) {
    ::LoadLibraryW(name);
  } else if (wcscmp(mode, L"load-system") == 0 && name) {
    base::win::LoadSystemLibrary(name);
  } else if (wcscmp(mode, L"restrict") == 0 && name) {
    if (!base::win::RestrictDllSearchToSystemFolder())
      return kCannotRestrict;
    ::LoadLibraryW(name);
  } else if (wcscmp(mode, L"dpi-awareness") == 0) {
    base::win::IsProcessPerMonitorDpiAware();
  } else if (wcscmp(mode, L"winrt") == 0) {
    if (SUCCEEDED(base::win::RoInitialize(0)))
      base::win::RoUninitialize();
  } else if (wcscmp(mode, L"launch-as-user") == 0) {
    LaunchAsSelf();
  } else {
    return kBadUsage;
  }
  return AnyPlantedLoaded() ? kPlantedLoaded : kClean;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv)
    return kBadUsage;
  int result = Run(argc, argv);
  ::LocalFree(argv);
  return result;
}
