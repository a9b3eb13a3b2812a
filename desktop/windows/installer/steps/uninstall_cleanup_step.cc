#include "desktop/windows/installer/steps/uninstall_cleanup_step.h"

#include <windows.h>

#include <memory>
#include <string>
#include <utility>

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/process/process_handle.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/folder_permission_process.h"
#include "desktop/windows/installer/installation_folder_details.h"
#include "desktop/windows/installer/installer_step_context.h"
#include "desktop/windows/installer/installer_utils.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/service/transactions/file_operations.h"
#include "desktop/windows/installer/service/windows_task_scheduler.h"
#include "desktop/windows/installer/settings.h"

namespace installer {

const wchar_t kUninstallBatchFileName[] = L"k.bat";

namespace {

const wchar_t kLauncherFileName[] = L"launcher.exe";
const wchar_t kPrefDefaultOverridesFileName[] = L"pref_default_overrides";

// |text| in the OEM code page, when every character of it has its own
// spelling there (a best-fit stand-in would name another file).
bool ToOemCodePage(const base::string16& text, std::string* oem) {
  oem->clear();
  if (text.empty())
    return true;
  const int wide_size = static_cast<int>(text.size());
  const int size = ::WideCharToMultiByte(CP_OEMCP, 0, text.data(), wide_size,
                                         nullptr, 0, nullptr, nullptr);
  if (size <= 0)
    return false;
  oem->resize(size);
  if (::WideCharToMultiByte(CP_OEMCP, 0, text.data(), wide_size, &(*oem)[0],
                            size, nullptr, nullptr) != size) {
    return false;
  }
  base::string16 back(text.size(), L'\0');
  return ::MultiByteToWideChar(CP_OEMCP, 0, oem->data(), size, &back[0],
                               wide_size) == wide_size &&
         back == text;
}

// A path inside a batch line. cmd reads a batch in the console's code page,
// which for the new hidden console of the batch is the OEM code page: the
// path goes in that code page, or as its short (8.3) name when a character
// of it has no place there. "%" is doubled, since cmd
// would otherwise expand "%NAME%" inside it and delete another file.
std::string BatchPath(const base::FilePath& path) {
  std::string text;
  if (!ToOemCodePage(path.value(), &text)) {
    const DWORD size = ::GetShortPathNameW(path.value().c_str(), nullptr, 0);
    base::string16 short_path(size, L'\0');
    const DWORD length =
        size ? ::GetShortPathNameW(path.value().c_str(), &short_path[0], size)
             : 0;
    short_path.resize(length < size ? length : 0);
    if (short_path.empty() || !ToOemCodePage(short_path, &text)) {
      // Left as it is, the batch at least names every other file right.
      LOG(WARNING) << "The clean-up batch cannot spell " << path.value()
                   << ": it may stay";
      text = path.AsUTF8Unsafe();
    }
  }
  base::ReplaceSubstringsAfterOffset(&text, 0, "%", "%%");
  return text;
}

void AddWatchBlock(int index, uint32_t pid, std::string* text) {
  const std::string variable = "PID" + base::IntToString(index) + "_RUNNING";
  *text += "IF %" + variable + "%==TRUE (\n";
  *text += "TASKLIST /FI \"PID eq " + base::UintToString(pid) +
           "\" | FIND /c /i \".exe\"\n";
  *text += "IF ERRORLEVEL 1 SET " + variable + "=FALSE\n";
  *text += ")\n";
}

// Never a drive root, nor a path that would be taken relative to the
// current folder.
bool IsDeletableFolder(const base::FilePath& folder) {
  return folder.IsAbsolute() && folder.DirName() != folder;
}

}  // namespace

void AddHoldingFolders(const base::FilePath& path,
                       std::set<base::FilePath>* folders) {
  for (base::FilePath folder = path.DirName(); folder.DirName() != folder;
       folder = folder.DirName()) {
    folders->insert(folder);
  }
}

std::string BuildUninstallBatch(
    uint32_t pid1,
    uint32_t pid2,
    uint32_t pid3,
    const std::vector<base::FilePath>& pending_files,
    const std::set<base::FilePath>& pending_folders) {
  const std::pair<int, uint32_t> watched[] = {{1, pid1}, {2, pid2}, {3, pid3}};
  std::string text;
  for (const auto& process : watched) {
    if (process.first == 1 || process.second)
      text += "SET PID" + base::IntToString(process.first) + "_RUNNING=TRUE\n";
  }
  text += ":again\n";
  for (const auto& process : watched) {
    if (process.first == 1 || process.second)
      AddWatchBlock(process.first, process.second, &text);
  }
  // A pause of about a second between two looks.
  text += "ping -n 2 127.0.0.1\n";
  for (const auto& process : watched) {
    if (process.first == 1 || process.second)
      text += "IF %PID" + base::IntToString(process.first) +
              "_RUNNING%==TRUE GOTO :again\n";
  }
  for (const base::FilePath& file : pending_files)
    text += "del \"" + BatchPath(file) + "\"\n";
  // A folder sorts after every folder that holds it.
  for (auto folder = pending_folders.rbegin(); folder != pending_folders.rend();
       ++folder) {
    text += "rmdir \"" + BatchPath(*folder) + "\"\n";
  }
  text += "del %0\n";
  return text;
}

UninstallCleanupStep::UninstallCleanupStep(
    InstallerStepContext* context, const base::CommandLine* command_line)
    : InstallerStep("uninstall_cleanup", context),
      command_line_(command_line) {}

UninstallCleanupStep::~UninstallCleanupStep() = default;

void UninstallCleanupStep::Execute(InstallerStepResult* result, int attempt) {
  *result = InstallerStepResult(STEP_DONE);
  LOG(INFO) << "Cleaning up files after uninstallation";
  const base::FilePath install_folder = GetFolderDetails().GetPath();
  const Settings* settings = GetSettings();
  if (!settings->GetCopyOnly())
    RemoveAutoupdateTask();

  const InstallationStatus& status =
      GetContext()->GetExistingInstallationStatus();
  std::vector<base::FilePath> pending_files;
  std::set<base::FilePath> pending_folders;
  base::FilePath files_folder = install_folder;
  if (!status.subfolder.empty() &&
      !JoinRecordedPath(install_folder, status.subfolder, &files_folder)) {
    files_folder.clear();
  }
  if (!files_folder.empty()) {
    for (const base::FilePath& entry : status.files) {
      base::FilePath file;
      if (!JoinRecordedPath(files_folder, entry, &file) ||
          Delete(file, true, true, install_folder)) {
        continue;
      }
      pending_files.push_back(file);
      AddHoldingFolders(file, &pending_folders);
    }
  }

  const base::FilePath launcher = install_folder.Append(kLauncherFileName);
  if (!Delete(launcher, true, true, install_folder))
    pending_files.push_back(launcher);

  const base::FilePath old_browser =
      install_folder.Append(base::UTF8ToWide(GetBrowserExeName()))
          .ReplaceExtension(L".old");
  if (base::PathExists(old_browser))
    Delete(old_browser, false, false, install_folder);

  const base::FilePath overrides =
      install_folder.Append(kPrefDefaultOverridesFileName);
  if (!Delete(overrides, false, true, install_folder))
    pending_files.push_back(overrides);

  for (const base::FilePath& entry : status.root_files) {
    base::FilePath file;
    if (JoinRecordedPath(install_folder, entry, &file))
      Delete(file, true, true, install_folder);
  }

  unsigned initial_pid = 0;
  base::StringToUint(command_line_->GetSwitchValueNative("initial-pid"),
                     &initial_pid);
  const std::string batch = BuildUninstallBatch(
      base::GetCurrentProcId(), initial_pid,
      GetContext()->GetSecondInstallerPid(), pending_files, pending_folders);
  const base::FilePath batch_path =
      install_folder.Append(kUninstallBatchFileName);
  const int size = static_cast<int>(batch.size());
  if (base::WriteFile(batch_path, batch.data(), size) != size) {
    LOG(ERROR) << "Cannot write " << batch_path.value() << ": "
               << FormatWin32Error(::GetLastError());
  } else if (!GetContext()->HasTemporaryFolderPermission()) {
    // Otherwise the folder-permission process, which outlives this one
    // with the rights to the folder, starts it.
    LOG(INFO) << "Starting final cleanup batch file.";
    StartBatch(install_folder);
  }

  if (settings->GetDeleteProfile())
    DeleteProfile(install_folder);
}

void UninstallCleanupStep::StartBatch(const base::FilePath& install_folder) {
  RunUninstallBatch(install_folder);
}

void UninstallCleanupStep::RemoveAutoupdateTask() {
  VLOG(1) << "Removing scheduled task";
  std::unique_ptr<WindowsTaskScheduler> scheduler =
      CreateWindowsTaskScheduler();
  // The uninstall goes on without the task service: a task it cannot reach
  // is not worth an error of the run.
  if (!scheduler || !scheduler->Initialize()) {
    VLOG(1) << "No task scheduler to remove the task from";
    return;
  }
  scheduler->RemoveOrphanedTasks();
  scheduler->RemoveTask(L"Autoupdate " +
                        GetContext()->GetExistingInstallationStatus().app_id);
}

bool UninstallCleanupStep::Delete(const base::FilePath& path,
                                  bool check_in_use,
                                  bool remove_empty_parents,
                                  const base::FilePath& root) {
  std::string error;
  if (ExecuteOperation(GetContext()->GetTransaction(),
                       std::make_unique<DeleteFileOperation>(
                           path, check_in_use, remove_empty_parents, root),
                       &error)) {
    return true;
  }
  LOG(WARNING) << "Cannot delete " << path.value() << " now: " << error;
  return false;
}

void UninstallCleanupStep::DeleteProfile(const base::FilePath& install_folder) {
  InstallationImpl installation(install_folder);
  base::FilePath root;
  base::FilePath profile;
  if (!installation.GetProfileRootDirectory(&root) ||
      !installation.GetProfileDirectory(&profile)) {
    return;
  }
  LOG(INFO) << "Deleting user profile.";
  base::FilePath cache;
  installation.GetCacheDirectory(profile, &cache);
  // For a profile path of the form "...\<USERNAME>" the root holds the
  // profiles of every user: only this user's profile goes, and the root
  // only once nobody else's is left in it.
  for (const base::FilePath& folder : {profile, cache}) {
    if (!IsDeletableFolder(folder)) {
      LOG(ERROR) << "Refusing to delete the folder " << folder.value();
    } else if (!base::DeleteFile(folder, true)) {
      LOG(WARNING) << "Cannot delete " << folder.value();
    }
  }
  // RemoveDirectory leaves a folder that is not empty alone.
  if (root != profile && IsDeletableFolder(root) &&
      !::RemoveDirectoryW(root.value().c_str())) {
    VLOG(1) << "Keeping " << root.value() << ": "
            << FormatWin32Error(::GetLastError());
  }
}

}  // namespace installer
