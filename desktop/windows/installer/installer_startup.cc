#include "desktop/windows/installer/installer_startup.h"

#include <windows.h>
#include <shellapi.h>
#include <stdio.h>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/environment.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/run_loop.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/system_library.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/installer_experiments.h"
#include "desktop/windows/installer/package_fetcher/payload_manager.h"
#include "desktop/windows/installer/ui/custom_message_box.h"
#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"
#include "desktop/windows/installer/utils/working_folder.h"
#include "desktop/windows/l10n_handler/l10n_handler.h"

namespace installer {

const char kVerbosityVariable[] = "KAVOR_INSTALLER_VERBOSITY";

ProcessRole ChooseProcessRole(const base::CommandLine& command_line,
                              bool silent) {
  if (command_line.HasSwitch("version"))
    return ProcessRole::kPrintVersion;
  if (command_line.HasSwitch("internal-version"))
    return ProcessRole::kPrintInternalVersion;
  if (command_line.HasSwitch("stream"))
    return ProcessRole::kPrintStream;
  if (command_line.HasSwitch("crash-reporter-parent-id"))
    return ProcessRole::kCrashReporterChild;
  if (command_line.HasSwitch("help") || command_line.HasSwitch("?"))
    return ProcessRole::kConsoleHelp;
  if (command_line.HasSwitch("set-folder-permission"))
    return ProcessRole::kFolderPermission;
  if (IsBackendRun(command_line))
    return ProcessRole::kBackend;
  return silent ? ProcessRole::kSilentFrontEnd
                : ProcessRole::kFrontEndWithWindow;
}

bool IsBackendRun(const base::CommandLine& command_line) {
  return command_line.HasSwitch("backend") ||
         command_line.HasSwitch("register-kavor-as-protocol-handler");
}

base::MessageLoop::Type ChooseMessageLoopType(bool backend, bool silent) {
  return backend || silent ? base::MessageLoop::TYPE_DEFAULT
                           : base::MessageLoop::TYPE_UI;
}

bool IsAcceptedVerbosity(base::StringPiece text) {
  int level = 0;
  return base::StringToInt(text, &level) && level >= 0 && level <= 9;
}

void ApplyVerbosityFromEnvironment(base::Environment* environment,
                                   base::CommandLine* command_line) {
  if (command_line->HasSwitch("v"))
    return;
  std::string text;
  if (environment->GetVar(kVerbosityVariable, &text) &&
      IsAcceptedVerbosity(text)) {
    command_line->AppendSwitchASCII("v", text);
  }
}

std::wstring MakeLogFileName(const base::Time::Exploded& now) {
  char stamp[64];
  snprintf(stamp, sizeof(stamp), "_%04d%02d%02d%02d%02d%02d%03d.log", now.year,
           now.month, now.day_of_month, now.hour, now.minute, now.second,
           now.millisecond);
  return base::UTF8ToWide(GetProductShortName() + "_installer" + stamp);
}

std::wstring GetInstallerFolderName() {
  return base::UTF8ToWide(GetProductName() + " Installer");
}

base::FilePath ChooseLogFile(const base::FilePath& temp_dir,
                             const std::wstring& name) {
  base::FilePath folder;
  if (!temp_dir.empty() &&
      ProbeWorkingFolder(temp_dir, GetInstallerFolderName(), base::FilePath(),
                         &folder)) {
    return folder.Append(name);
  }
  return base::FilePath(name);
}

std::string MakeStartingLine() {
  return GetProductName() + " installer starting - version " +
         GetVersionString() + " " + GetChannelName();
}

std::vector<std::string> DescribeRunFlags(const RunFlags& flags) {
  const struct {
    const char* label;
    bool value;
  } kLines[] = {
      {"Uninstall:", flags.uninstall},
      {"Silent:", flags.silent},
      {"Run Immediately", flags.run_immediately},
      {"Backend", flags.backend},
      {"Inside package", flags.inside_package},
      {"Autoupdate:", flags.autoupdate},
  };
  std::vector<std::string> lines;
  for (const auto& line : kLines)
    lines.push_back(std::string(line.label) + (line.value ? "1" : "0"));
  return lines;
}

const char* InstallerArchitectureToString(InstallerArchitecture architecture) {
  switch (architecture) {
    case InstallerArchitecture::X86:
      return "X86";
    case InstallerArchitecture::X64:
      return "X64";
    default:
      return "invalid";
  }
}

namespace {

void OnCorruptedPayloadBoxClosed(const base::RepeatingClosure& quit,
                                 int result) {
  if (result == CustomMessageBox::RESULT_FIRST_BUTTON ||
      result == CustomMessageBox::RESULT_LINK_ACTIVATED) {
    std::wstring home = base::UTF8ToWide(GetNamedUrl("homepage"));
    ::ShellExecuteW(nullptr, L"open", home.c_str(), nullptr, nullptr,
                    SW_SHOWNORMAL);
  }
  quit.Run();
}

// Tells the user that the installer file is broken; the run then ends with
// RESULT_CORRUPTED_PACKAGE whatever happens here.
void HandleCorruptedPayload() {
  if (EndsCorruptedRunWithoutWindow()) {
    LogFatalAndGoOn(__FILE__, __LINE__, "Corrupted payload");
    return;
  }
  std::wstring language;
  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();
  if (command_line.HasSwitch("language"))
    language = command_line.GetSwitchValueNative("language");
  SetUiLanguage(&language);
  base::RunLoop run_loop(Win32DialogDispatcher::GetInstance());
  CustomMessageBox box;
  if (!box.Show(nullptr, IDS_CORRUPTED_INSTALLER_TITLE,
                GetString(IDS_CORRUPTED_INSTALLER_TEXT),
                IDS_CORRUPTED_INSTALLER_GO, IDS_CORRUPTED_INSTALLER_CANCEL,
                base::BindRepeating(&OnCorruptedPayloadBoxClosed,
                                    run_loop.QuitClosure()))) {
    LogFatalAndGoOn(__FILE__, __LINE__, "Cannot initialize the message box");
    return;
  }
  run_loop.Run();
}

}  // namespace

InstallerResult ActOnPayload(const PayloadManager& payload,
                             InstallerArchitecture* architecture) {
  switch (payload.GetPayloadType()) {
    case PAYLOAD_NONE:
      LOG(WARNING) << "Failed reading payload";
      break;
    case PAYLOAD_TRACKING_DATA:
      LOG(INFO) << "Tracking data: " << payload.GetPayload();
      break;
    case PAYLOAD_EXTERNAL_TRACKING_DATA:
      LOG(ERROR) << "External should only ever be reported after calling"
                 << "SetPayload";
      break;
    case PAYLOAD_FULL_PACKAGE:
      *architecture = InstallerArchitecture::X64;
      LOG(INFO) << "Found full package";
      break;
    case PAYLOAD_CORRUPTED:
      HandleCorruptedPayload();
      return RESULT_CORRUPTED_PACKAGE;
  }
  return RESULT_SUCCESS;
}

bool EndsCorruptedRunWithoutWindow() {
  const FeatureRecord* feature = FindBrowserFeature(kTamberLibraryFeature);
  return feature && IsFeatureEnabledByDefault(*feature);
}

namespace {

std::string* g_captured_fatal_line = nullptr;
DWORD g_capturing_thread = 0;

// Lines of other threads, logged while the handler is in place, are left
// to the logging.
bool CaptureLine(base::logging::LogSeverity severity,
                 const char* file,
                 int line,
                 size_t message_start,
                 const std::string& str) {
  if (severity != base::logging::LOG_FATAL ||
      ::GetCurrentThreadId() != g_capturing_thread) {
    return false;
  }
  *g_captured_fatal_line = str;
  return true;
}

}  // namespace

void LogFatalAndGoOn(const char* file, int line, const std::string& text) {
  // The handler takes the line before the logging would end the process;
  // it is then appended to the log file by hand.
  std::string captured;
  g_captured_fatal_line = &captured;
  g_capturing_thread = ::GetCurrentThreadId();
  base::logging::LogMessageHandler previous =
      base::logging::GetLogMessageHandler();
  base::logging::SetLogMessageHandler(&CaptureLine);
  {
    base::logging::LogMessage(file, line, base::logging::LOG_FATAL).stream()
        << text;
  }
  base::logging::SetLogMessageHandler(previous);
  g_captured_fatal_line = nullptr;
  std::wstring log_file = base::logging::GetLogFileFullPath();
  if (log_file.empty() || captured.empty())
    return;
  base::logging::CloseLogFile();
  // A log line that can't be written has nowhere else to be reported.
  (void)base::AppendToFile(base::FilePath(log_file), captured.data(),
                           static_cast<int>(captured.size()));
}

std::string GetUnsupportedSystemMessage(int windows_version, bool has_sse2) {
  if (windows_version < base::win::WIN7) {
    return "This version of " + GetProductName() +
           " doesn't support windows versions prior to Windows 7";
  }
  if (!has_sse2)
    return "SSE2 not supported by the computer";
  return std::string();
}

int CheckSse2AtLoad(bool has_sse2,
                    void (*show_error)(const wchar_t* text,
                                       const wchar_t* caption)) {
  if (has_sse2)
    return 0;
  show_error(
      L"This program requires a computer that supports SSE2 "
      L"instructions.",
      L"Error");
  return 1;
}

void RestrictDllSearchPath() {
  base::win::RestrictDllSearchToSystemFolder();
}

}  // namespace installer
