#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_STARTUP_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_STARTUP_H_

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/message_loop/message_loop.h"
#include "base/strings/string_piece.h"
#include "base/time/time.h"
#include "desktop/windows/installer/common/installer_result.h"
#include "desktop/windows/installer/settings.h"

namespace base {
class CommandLine;
class Environment;
}  // namespace base

namespace installer {

// The roles one process can play, in the order their switches are tested.
enum class ProcessRole {
  kPrintVersion,
  kPrintInternalVersion,
  kPrintStream,
  kCrashReporterChild,
  kConsoleHelp,
  kFolderPermission,
  kBackend,
  kSilentFrontEnd,
  kFrontEndWithWindow,
};

// |silent| is the interprocess state's answer; the other roles come from
// switches alone.
ProcessRole ChooseProcessRole(const base::CommandLine& command_line,
                              bool silent);

// A backend is started by `backend` and also by
// `register-kavor-as-protocol-handler`, which has no front end.
bool IsBackendRun(const base::CommandLine& command_line);

// Backends and silent front ends show no window and need no native message
// dispatching.
base::MessageLoop::Type ChooseMessageLoopType(bool backend, bool silent);

// The variable read when the command line names no verbosity.
extern const char kVerbosityVariable[];

// True when |text| is a decimal verbose level the installer takes: 0 to 9.
bool IsAcceptedVerbosity(base::StringPiece text);

// Appends --v=<variable's text> to |command_line| when it has no `v` switch
// and the variable holds an accepted level.
void ApplyVerbosityFromEnvironment(base::Environment* environment,
                                   base::CommandLine* command_line);

// "kavor_installer_<yyyymmddhhmmssmmm>.log" for the local time |now|.
std::wstring MakeLogFileName(const base::Time::Exploded& now);

// "Kavor Installer": the folder of the log files and of the downloads.
std::wstring GetInstallerFolderName();

// The log file: |name| in the installer folder under |temp_dir|, created
// when missing; the bare |name| (relative to the current folder) when that
// folder can't be had.
base::FilePath ChooseLogFile(const base::FilePath& temp_dir,
                             const std::wstring& name);

// "<Product> installer starting - version <version> <stream>".
std::string MakeStartingLine();

// The run's flags as their log lines: each label directly followed by 0 or
// 1, in the order they are logged.
struct RunFlags {
  bool uninstall = false;
  bool silent = false;
  bool run_immediately = false;
  bool backend = false;
  bool inside_package = false;
  bool autoupdate = false;
};
std::vector<std::string> DescribeRunFlags(const RunFlags& flags);

// The architecture of the package the run installs.
const char* InstallerArchitectureToString(InstallerArchitecture architecture);

class PayloadManager;

// Logs what the payload of the installer executable holds and sets the
// architecture for a full package. A corrupted payload is logged as a FATAL
// line "Corrupted payload" when the run ends without any window, else shown
// to the user in a message box that offers the home page; either way the
// result is RESULT_CORRUPTED_PACKAGE and the run must end with it.
InstallerResult ActOnPayload(const PayloadManager& payload,
                             InstallerArchitecture* architecture);

// Whether a corrupted payload ends the run without any window (the browser
// feature "tamber-library" is on by default).
bool EndsCorruptedRunWithoutWindow();

// Writes |text| as a FATAL line of the log without ending the process: the
// corrupted-payload paths must still return their exit code.
void LogFatalAndGoOn(const char* file, int line, const std::string& text);

// What keeps the installer off a machine: the message reported for a
// Windows older than Windows 7 or a processor without SSE2, in that order;
// empty when the machine is supported. |windows_version| is a
// base::win::Version value.
std::string GetUnsupportedSystemMessage(int windows_version, bool has_sse2);

// The refusal made when the library loads on a processor without SSE2:
// |show_error| gets the text and the caption of the message box, and the
// process exit code is returned (1); 0 when SSE2 is there and the library
// goes on loading.
int CheckSse2AtLoad(bool has_sse2,
                    void (*show_error)(const wchar_t* text,
                                       const wchar_t* caption));

// Restricts the loader to the system folder for every DLL loaded from now
// on: an installer runs from a download folder, where anyone may have left
// a DLL that bears a system DLL's name. Called first thing in start-up.
void RestrictDllSearchPath();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_STARTUP_H_
