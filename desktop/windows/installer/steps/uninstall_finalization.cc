#include "desktop/windows/installer/steps/uninstall_finalization.h"

#include <windows.h>
#include <shellapi.h>
#include <shobjidl.h>

#include <vector>

#include "base/command_line.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_split.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/installation_folder_details.h"
#include "desktop/windows/installer/installer_step_context.h"
#include "desktop/windows/installer/installer_utils.h"
#include "desktop/windows/installer/os_operations_impl.h"
#include "desktop/windows/installer/service/association_operations.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/steps/status_steps.h"
#include "desktop/windows/installer/utils/wmi_util.h"

namespace installer {

namespace {

const wchar_t kIeInstallInfoKey[] =
    L"SOFTWARE\\Clients\\StartMenuInternet\\IEXPLORE.EXE\\InstallInfo";
const wchar_t kInternetExplorerApp[] = L"Internet Explorer";

UninstallFinalizationOperations* g_operations_for_testing = nullptr;

// Switches file-system redirection off for a 32-bit process on 64-bit
// Windows while alive, so that a command naming the system folder reaches
// the native program. The functions are looked up because older systems
// lack them; kernel32 is always loaded, so no load count is taken.
class ScopedWow64RedirectionOff {
 public:
  ScopedWow64RedirectionOff() {
    HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    if (!kernel32)
      return;
    using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
    using DisableFunction = BOOL(WINAPI*)(PVOID*);
    auto is_wow64_process = reinterpret_cast<IsWow64ProcessFunction>(
        ::GetProcAddress(kernel32, "IsWow64Process"));
    auto disable = reinterpret_cast<DisableFunction>(
        ::GetProcAddress(kernel32, "Wow64DisableWow64FsRedirection"));
    revert_ = reinterpret_cast<RevertFunction>(
        ::GetProcAddress(kernel32, "Wow64RevertWow64FsRedirection"));
    BOOL is_wow64 = FALSE;
    if (!is_wow64_process || !disable || !revert_ ||
        !is_wow64_process(::GetCurrentProcess(), &is_wow64) || !is_wow64) {
      return;
    }
    disabled_ = disable(&old_value_) != FALSE;
  }
  ~ScopedWow64RedirectionOff() {
    if (disabled_)
      revert_(old_value_);
  }

  ScopedWow64RedirectionOff(const ScopedWow64RedirectionOff&) = delete;
  ScopedWow64RedirectionOff& operator=(const ScopedWow64RedirectionOff&) =
      delete;

 private:
  using RevertFunction = BOOL(WINAPI*)(PVOID);
  RevertFunction revert_ = nullptr;
  PVOID old_value_ = nullptr;
  bool disabled_ = false;
};

// This thread is a COM apartment and may own windows: other programs that
// send it a message without a time limit would wait as long as the program
// does, and may be what the program waits for. Sent messages are answered
// while waiting; posted ones stay queued.
void WaitAnsweringSentMessages(HANDLE handle) {
  for (;;) {
    const DWORD result = ::MsgWaitForMultipleObjects(1, &handle, FALSE,
                                                     INFINITE, QS_SENDMESSAGE);
    if (result == WAIT_OBJECT_0 + 1) {
      MSG message;
      ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
      continue;
    }
    if (result == WAIT_FAILED)
      PLOG(ERROR) << "Cannot wait for the program";
    return;
  }
}

class UninstallFinalizationOperationsImpl
    : public UninstallFinalizationOperations {
 public:
  void BroadcastBrowserChange() override { BroadcastDefaultBrowserChange(); }

  bool ReadReinstallCommand(base::string16* command) override {
    base::win::RegKey key;
    LONG error =
        key.Open(HKEY_LOCAL_MACHINE, kIeInstallInfoKey, KEY_QUERY_VALUE);
    if (error == ERROR_SUCCESS)
      error = key.ReadStringValue(L"ReinstallCommand", command);
    if (error != ERROR_SUCCESS) {
      VLOG(1) << "No reinstall command of Internet Explorer: " << error;
      return false;
    }
    return true;
  }

  bool RunAndWait(const base::string16& program,
                  const base::string16& arguments) override {
    ScopedWow64RedirectionOff redirection_off;
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    // No error box: the backend may run unseen, and a box nobody answers
    // would hold the uninstall; the failure is logged instead.
    info.fMask =
        SEE_MASK_NOCLOSEPROCESS | SEE_MASK_DOENVSUBST | SEE_MASK_FLAG_NO_UI;
    info.lpFile = program.c_str();
    info.lpParameters = arguments.c_str();
    info.nShow = SW_SHOW;
    if (!::ShellExecuteExW(&info)) {
      PLOG(ERROR) << "Cannot run " << program;
      return false;
    }
    base::win::ScopedHandle process(info.hProcess);
    if (process.IsValid())
      WaitAnsweringSentMessages(process.Get());
    return true;
  }

  void LaunchDetached(const base::string16& command_line) override {
    if (!LaunchProcessThroughWmi(command_line, nullptr))
      LOG(ERROR) << "Cannot start " << command_line;
  }
};

// Hands the default-browser role back to Internet Explorer: its own
// reinstall command for an all-users installation, then the user's choice
// (Windows 8) or the association registration.
void ResetDefaultBrowserToIe(InstallerStepContext* context) {
  VLOG(1) << "Attempting to reset the default browser to IE.";
  const base::win::Version version = base::win::GetVersion();
  if (!context->GetFolderDetails().IsHttpHandler() ||
      version < base::win::VISTA) {
    return;
  }
  UninstallFinalizationOperations* operations =
      GetUninstallFinalizationOperations();
  if (context->GetSettings()->GetAllUsers()) {
    base::string16 command;
    if (!operations->ReadReinstallCommand(&command))
      return;
    base::string16 program, arguments;
    SplitReinstallCommand(command, &program, &arguments);
    if (program.empty()) {
      LOG(ERROR) << "Internet Explorer's reinstall command names no program: "
                 << command;
      return;
    }
    if (!operations->RunAndWait(program, arguments))
      return;
  }
  AssociationOperations* associations = GetAssociationOperations();
  if (version == base::win::WIN8) {
    associations->ChooseHandlerWithOpenWithDialog(L"http");
    return;
  }
  const struct {
    const wchar_t* name;
    ASSOCIATIONTYPE type;
  } kDefaults[] = {{L".htm", AT_FILEEXTENSION},
                   {L".html", AT_FILEEXTENSION},
                   {L"http", AT_URLPROTOCOL},
                   {L"https", AT_URLPROTOCOL}};
  for (const auto& entry : kDefaults)
    associations->SetAppAsDefault(kInternetExplorerApp, entry.name, entry.type);
}

void RemoveFirewallRules(InstallerStepContext* context,
                         const base::FilePath& install_folder) {
  const base::FilePath& recorded =
      context->GetExistingInstallationStatus().subfolder;
  base::FilePath folder = install_folder;
  if (!recorded.empty() &&
      !JoinRecordedPath(install_folder, recorded, &folder)) {
    return;
  }
  SetUpFirewall(folder.Append(base::UTF8ToWide(GetBrowserExeName())), true);
}

void ShowUninstallSurvey(InstallerStepContext* context,
                         const base::CommandLine& command_line) {
  const std::string survey_url = GetNamedUrl("uninstall_survey");
  if (survey_url.empty() || command_line.HasSwitch("silent"))
    return;
  VLOG(1) << "Trying to display the uninstall survey";
  const InstallationFolderDetails& details = context->GetFolderDetails();
  const std::string url = BuildUninstallSurveyUrl(
      survey_url, GetVersionString(), details.GetAutoupdateUuid(),
      details.GetWelcomeUrl());
  base::FilePath program_files;
  if (!base::PathService::Get(base::DIR_PROGRAM_FILES6432, &program_files)) {
    LOG(ERROR) << "No program files folder for the uninstall survey";
    return;
  }
  const base::FilePath browser =
      program_files.Append(L"Internet Explorer").Append(L"iexplore.exe");
  GetUninstallFinalizationOperations()->LaunchDetached(BuildSurveyCommandLine(
      browser, url, base::win::GetVersion() >= base::win::WIN8));
}

}  // namespace

UninstallFinalizationOperations* GetUninstallFinalizationOperations() {
  if (g_operations_for_testing)
    return g_operations_for_testing;
  // Kept until the library unloads.
  static UninstallFinalizationOperationsImpl* const operations =
      new UninstallFinalizationOperationsImpl();
  return operations;
}

void SetUninstallFinalizationOperationsForTesting(
    UninstallFinalizationOperations* operations) {
  g_operations_for_testing = operations;
}

void FinalizeUninstallation(InstallerStepContext* context,
                            const base::FilePath& install_folder) {
  FinalizeUninstallationWithCommandLine(
      context, install_folder, *base::CommandLine::ForCurrentProcess());
}

void FinalizeUninstallationWithCommandLine(
    InstallerStepContext* context,
    const base::FilePath& install_folder,
    const base::CommandLine& command_line) {
  // Sent even for a standalone copy: shells may have listed the browser.
  GetUninstallFinalizationOperations()->BroadcastBrowserChange();
  if (context->GetSettings()->GetCopyOnly())
    return;
  ResetDefaultBrowserToIe(context);
  if (SecurityUtilsImpl::GetInstance()->IsUserAdmin(false))
    RemoveFirewallRules(context, install_folder);
  ShowUninstallSurvey(context, command_line);
}

void SplitReinstallCommand(const base::string16& command,
                           base::string16* program,
                           base::string16* arguments) {
  program->clear();
  arguments->clear();
  size_t program_start = 0;
  size_t separator = base::string16::npos;
  if (!command.empty() && command[0] == L'"') {
    program_start = 1;
    separator = command.find(L'"', 1);
  } else {
    separator = command.find(L' ');
  }
  if (separator == base::string16::npos) {
    *program = command.substr(program_start);
    return;
  }
  *program = command.substr(program_start, separator - program_start);
  size_t rest = separator + 1;
  // After a closing quote, the blank before the arguments.
  if (program_start == 1 && rest < command.size() && command[rest] == L' ')
    ++rest;
  *arguments = command.substr(rest);
}

std::string BuildUninstallSurveyUrl(const std::string& survey_url,
                                    const std::string& version,
                                    const std::string& uuid,
                                    const std::string& welcome_url) {
  std::string url = survey_url + "?version=" + version + "&uuid=" + uuid;
  const std::vector<std::string> parts = base::SplitString(
      welcome_url, "?", base::KEEP_WHITESPACE, base::SPLIT_WANT_ALL);
  if (parts.size() == 2)
    url += "&" + parts[1];
  return url;
}

base::string16 BuildSurveyCommandLine(const base::FilePath& browser,
                                      const std::string& url,
                                      bool private_window) {
  // The program files path has blanks: unquoted, the system would try
  // "C:\Program.exe" first. A blank or quote in the URL (it carries the
  // welcome page's query) would end the argument and start another one.
  base::string16 escaped;
  for (wchar_t c : base::UTF8ToWide(url)) {
    if (c == L' ')
      escaped += L"%20";
    else if (c == L'\t')
      escaped += L"%09";
    else if (c == L'"')
      escaped += L"%22";
    else
      escaped += c;
  }
  base::string16 command_line = L"\"" + browser.value() + L"\" " + escaped;
  if (private_window)
    command_line += L" -private";
  return command_line;
}

}  // namespace installer
