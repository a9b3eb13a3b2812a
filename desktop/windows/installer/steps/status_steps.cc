#include "desktop/windows/installer/steps/status_steps.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/time/time.h"
#include "base/win/windows_version.h"
#include "components/prefs/json_pref_store.h"
#include "desktop/windows/installer/common/json_pref_store_factory.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/common/scheduled_task_info.h"
#include "desktop/windows/installer/common/tracking_data_dictionary.h"
#include "desktop/windows/installer/installer_step_context.h"
#include "desktop/windows/installer/installer_utils.h"
#include "desktop/windows/installer/interprocess_state.h"
#include "desktop/windows/installer/os_operations.h"
#include "desktop/windows/installer/service/association_operations.h"
#include "desktop/windows/installer/service/firewall_manager.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/json_installation_status_writer.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/service/transactions/file_operations.h"
#include "desktop/windows/installer/service/windows_task_scheduler.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/steps/uninstall_finalization.h"
#include "desktop/windows/installer/steps/write_installer_prefs_step.h"
#include "desktop/windows/l10n_handler/l10n_handler.h"

namespace installer {

const wchar_t kInstallationStatusFileName[] = L"installation_status.json";
const wchar_t kOldStatusFolderName[] = L"old_status";

namespace {

const wchar_t kLegacyStatusFileName[] = L"installation_status.xml";
const wchar_t kTrackingDataFileName[] = L"server_tracking_data";

base::FilePath BrowserExe(const base::FilePath& folder) {
  return folder.Append(base::UTF8ToWide(GetBrowserExeName()));
}

// Writes |contents| to |path| through the run's transaction, so that a
// rolled-back run puts back what was there.
bool WriteFileInTransaction(InstallerStepContext* context,
                            const base::FilePath& path,
                            const std::string& contents,
                            std::string* error) {
  base::FilePath temp;
  if (!base::CreateTemporaryFileInDir(path.DirName(), &temp)) {
    *error = "Cannot create a temporary file beside " + path.AsUTF8Unsafe();
    return false;
  }
  const int size = static_cast<int>(contents.size());
  const bool written =
      base::WriteFile(temp, contents.data(), size) == size &&
      ExecuteOperation(context->GetTransaction(),
                       std::make_unique<CopyFileOperation>(temp, path), error);
  if (!base::DeleteFile(temp, false))
    LOG(WARNING) << "Cannot remove " << temp.value();
  return written;
}

bool WriteStatus(InstallerStepContext* context,
                 const InstallationStatus& status) {
  const base::FilePath path =
      context->GetInstallFolder().Append(kInstallationStatusFileName);
  JsonInstallationStatusWriter writer;
  const std::string json = writer.ToJson(status);
  std::string error;
  if (json.empty()) {
    error = "no text";
  } else if (WriteFileInTransaction(context, path, json, &error)) {
    return true;
  }
  LOG(ERROR) << "Cannot write " << path.value() << ": " << error;
  return false;
}

}  // namespace

void SetUpFirewall(const base::FilePath& executable, bool remove) {
  std::unique_ptr<FirewallManager> manager = FirewallManager::Create(
      FirewallManagerFactory::GetInstance(), executable);
  if (!manager) {
    LOG(ERROR) << "Failed creating a FirewallManager.";
    return;
  }
  if (remove)
    manager->RemoveAllRules();
  else if (!manager->AddMdnsInboundRule())
    LOG(ERROR) << "Failed creating a firewall rules.";
}

InstallTrackingDataStep::InstallTrackingDataStep(InstallerStepContext* context,
                                                 InterprocessState* state)
    : InstallerStep("install_tracking_data", context), state_(state) {}

InstallTrackingDataStep::~InstallTrackingDataStep() = default;

void InstallTrackingDataStep::Execute(InstallerStepResult* result,
                                      int attempt) {
  *result = InstallerStepResult(STEP_DONE);
  const TrackingDataDictionary* tracking = state_->GetTrackingData();
  const std::string blob =
      tracking ? tracking->SerializeTrackingBlob() : std::string();
  if (blob.empty())
    return;
  const base::FilePath path =
      GetContext()->GetInstallFolder().Append(kTrackingDataFileName);
  std::string error;
  if (!WriteFileInTransaction(GetContext(), path, blob, &error))
    LOG(ERROR) << "Cannot write the tracking data: " << error;
}

WriteInstallationStatusStep::WriteInstallationStatusStep(
    InstallerStepContext* context, bool merge_existing)
    : InstallerStep(merge_existing ? "update_installation_status"
                                   : "write_installation_status",
                    context),
      merge_existing_(merge_existing) {}

WriteInstallationStatusStep::~WriteInstallationStatusStep() = default;

void WriteInstallationStatusStep::Execute(InstallerStepResult* result,
                                          int attempt) {
  LOG(INFO) << "Writing the installation status";
  InstallationStatus status;
  if (merge_existing_) {
    status = GetContext()->GetExistingInstallationStatus();
    for (const base::FilePath& file : GetStatusUnderConstruction()->files) {
      if (std::find(status.files.begin(), status.files.end(), file) ==
          status.files.end()) {
        status.files.push_back(file);
      }
    }
  } else {
    InstallationStatus* built = GetStatusUnderConstruction();
    // Later runs find this installation's files through its subfolder.
    if (built->subfolder.empty()) {
      GetContext()->GetInstallFolder().AppendRelativePath(
          GetContext()->GetTargetFolderForStatus(), &built->subfolder);
    }
    status = *built;
  }
  if (!WriteStatus(GetContext(), status)) {
    *result =
        InstallerStepResult(STEP_FAILED, RESULT_GENERAL_ERROR, base::string16(),
                            "Failed saving the installation status");
    return;
  }
  *result = InstallerStepResult(STEP_DONE);
}

SetupFileAndProtocolHandlersStep::SetupFileAndProtocolHandlersStep(
    InstallerStepContext* context)
    : InstallerStep("setup_file_and_protocol_handlers", context) {}

SetupFileAndProtocolHandlersStep::~SetupFileAndProtocolHandlersStep() = default;

void SetupFileAndProtocolHandlersStep::Execute(InstallerStepResult* result,
                                               int attempt) {
  LOG(INFO) << "Setting up protocol handlers.";
  // An elevated backend started by another backend leaves the user's
  // choice, which only the Settings app can make here, to that backend.
  if (base::win::GetVersion() >= base::win::WIN10 &&
      !GetAssociationOperations()->CanSetDefaultBrowserDirectly() &&
      base::CommandLine::ForCurrentProcess()->HasSwitch("parent-pid")) {
    *result = InstallerStepResult(STEP_DONE);
    return;
  }
  GetOsOperations()->StoreDefaultBrowserSettings(*GetSettings(),
                                                 GetStatusUnderConstruction());
  *result = InstallerStepResult(STEP_DONE);
}

FinalizeStep::FinalizeStep(InstallerStepContext* context)
    : InstallerStep("finalize", context) {}

FinalizeStep::~FinalizeStep() = default;

void FinalizeStep::Execute(InstallerStepResult* result, int attempt) {
  LOG(INFO) << "Finalizing the installation";
  const Settings* settings = GetSettings();
  // A per-user run that holds a temporary grant on the folder runs for
  // another user; the task would be that user's to make.
  if (!settings->GetCopyOnly() &&
      (settings->GetAllUsers() ||
       !GetContext()->HasTemporaryFolderPermission())) {
    RegisterAutoupdateTask();
  }
  if (SecurityUtilsImpl::GetInstance()->IsUserAdmin(false))
    SetUpFirewall(BrowserExe(GetTargetFolder()), false);
  *result = InstallerStepResult(STEP_DONE);
}

void FinalizeStep::RegisterAutoupdateTask() {
  std::unique_ptr<WindowsTaskScheduler> scheduler =
      CreateWindowsTaskScheduler();
  LOG(INFO) << "Creating scheduled task";
  if (!scheduler || !scheduler->Initialize()) {
    LOG(ERROR) << "Could not initialize task scheduler";
    return;
  }
  scheduler->RemoveOrphanedTasks();

  const base::FilePath install_folder = GetContext()->GetInstallFolder();
  base::CommandLine command_line(install_folder.Append(L"launcher.exe"));
  command_line.AppendSwitch("scheduledautoupdate");
  command_line.AppendArg("$(Arg0)");
  ScheduledTaskInfo info(command_line);
  info.description = GetString(IDS_AUTOUPDATE_TASK_DESCRIPTION);
  info.name = L"Autoupdate " + GetStatusUnderConstruction()->app_id;
  info.run_as_system = GetSettings()->GetAllUsers() ? 1 : 0;
  info.execution_time_limit_seconds = 3600;
  info.schedule = DAILY;
  info.add_logon_trigger = 1;
  info.run_only_if_network_available = 1;
  if (!scheduler->RegisterTask(info)) {
    LOG(ERROR) << "Could not create scheduled task";
    return;
  }

  // The task counts its own failures; a registration that works takes one
  // back.
  const base::FilePath prefs_path =
      install_folder.Append(kInstallerPrefsFileName);
  base::scoped_refptr<JsonPrefStore> prefs =
      CreateJsonPrefStore(GetPrefsTaskPool(), prefs_path);
  const base::Value* count = nullptr;
  if (prefs->GetValue("au_task_error_count", &count) && count->is_int() &&
      count->GetInt() > 0) {
    const int decremented = count->GetInt() - 1;
    prefs->SetValue("au_task_error_count",
                    std::make_unique<base::Value>(decremented), 0);
    LOG(INFO) << "Setting autoupdate task error counter to : " << decremented;
  }
  ReleasePrefStoreAndWait(&prefs, prefs_path);
}

RemoveOldFilesStep::RemoveOldFilesStep(InstallerStepContext* context)
    : InstallerStep("remove_old_files", context) {}

RemoveOldFilesStep::~RemoveOldFilesStep() = default;

void RemoveOldFilesStep::Execute(InstallerStepResult* result, int attempt) {
  *result = InstallerStepResult(STEP_DONE);
  LOG(INFO) << "Removing installed files.";
  const base::FilePath install_folder = GetContext()->GetInstallFolder();
  const base::FilePath old_status = install_folder.Append(kOldStatusFolderName);
  if (!base::DirectoryExists(old_status)) {
    LOG(INFO) << "No old status files found.";
    return;
  }
  std::vector<base::FilePath> status_files;
  base::FileEnumerator files(old_status, false, base::FileEnumerator::FILES);
  for (base::FilePath path = files.Next(); !path.empty(); path = files.Next())
    status_files.push_back(path);
  for (const base::FilePath& path : status_files) {
    const base::string16 name = path.BaseName().value();
    if (name.find(L".xml.") != base::string16::npos)
      RemoveOldInstallation(path, true);
    else if (name.find(L".json.") != base::string16::npos)
      RemoveOldInstallation(path, false);
  }
  base::FileEnumerator left(
      old_status, false,
      base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES);
  if (left.Next().empty() && !base::DeleteFile(old_status, false)) {
    LOG(WARNING) << "Cannot remove " << old_status.value();
  }

  // Shortcuts of a component that earlier versions installed.
  base::FilePath programs;
  if (!GetKnownFolderPath(FOLDERID_Programs, CSIDL_PROGRAMS, &programs,
                          false)) {
    return;
  }
  base::FileEnumerator shortcuts(
      programs, false, base::FileEnumerator::FILES,
      base::UTF8ToWide(GetProductName()) + L"*Message Center.lnk");
  for (base::FilePath path = shortcuts.Next(); !path.empty();
       path = shortcuts.Next()) {
    if (!base::DeleteFile(path, false))
      LOG(WARNING) << "Cannot delete " << path.value();
  }
}

void RemoveOldFilesStep::RemoveOldInstallation(const base::FilePath& path,
                                               bool legacy_xml) {
  std::string contents;
  if (!base::ReadFileToString(path, &contents)) {
    LOG(ERROR) << "Cannot load an old file to string: " << path.value();
    return;
  }
  const InstallationStatusOrigin origin =
      legacy_xml ? INSTALLATION_STATUS_LEGACY_XML_RECOVERED_FROM_OLD_FILES
                 : INSTALLATION_STATUS_RECOVERED_FROM_OLD_FILES;
  std::unique_ptr<InstallationStatusReader> reader =
      CreateInstallationStatusReader(origin);
  std::unique_ptr<InstallationStatus> status;
  if (reader)
    reader->Read(&status, contents, origin);
  // Without a usable subfolder the old files would be looked for in the
  // install folder itself, among the current installation's files.
  base::FilePath folder;
  if (!status || !JoinRecordedPath(GetContext()->GetInstallFolder(),
                                   status->subfolder, &folder)) {
    LOG(ERROR) << "Found invalid old status file: " << path.value()
               << (reader ? " " + reader->GetError() : std::string());
    return;
  }
  LOG(INFO) << "Found old status file: " << path.value();

  const bool uninstall = GetSettings()->GetOperation() == OPERATION_UNINSTALL;
  Transaction transaction;
  bool all_deleted = true;
  for (const base::FilePath& entry : status->files) {
    base::FilePath file;
    std::string error;
    if (JoinRecordedPath(folder, entry, &file) &&
        ExecuteOperation(
            &transaction,
            std::make_unique<DeleteFileOperation>(
                file, true, true, GetContext()->GetInstallFolder()),
            &error)) {
      continue;
    }
    LOG(ERROR) << "Cannot delete the old file " << entry.value() << ": "
               << error;
    all_deleted = false;
    // An upgrade keeps an old installation whole or removes it whole; an
    // uninstall removes what it can.
    if (!uninstall) {
      RollbackOperations(&transaction);
      break;
    }
  }
  if (SecurityUtilsImpl::GetInstance()->IsUserAdmin(false))
    SetUpFirewall(BrowserExe(folder), true);
  if (all_deleted) {
    LOG(INFO) << "Deleting " << path.value();
    if (!base::DeleteFile(path, false))
      LOG(ERROR) << "Cannot delete " << path.value();
  }
  CommitOperations(&transaction);
}

RemoveOldRootFilesStep::RemoveOldRootFilesStep(InstallerStepContext* context)
    : InstallerStep("remove_old_root_files", context) {}

RemoveOldRootFilesStep::~RemoveOldRootFilesStep() = default;

void RemoveOldRootFilesStep::Execute(InstallerStepResult* result, int attempt) {
  LOG(INFO) << "Removing old files from installation root";
  const base::FilePath install_folder = GetContext()->GetInstallFolder();
  for (const base::FilePath& entry :
       GetContext()->GetExistingInstallationStatus().root_files) {
    base::FilePath file;
    std::string error;
    if (JoinRecordedPath(install_folder, entry, &file) &&
        !ExecuteOperation(GetContext()->GetTransaction(),
                          std::make_unique<DeleteFileOperation>(
                              file, false, true, install_folder),
                          &error)) {
      LOG(WARNING) << "Cannot delete " << file.value() << ": " << error;
    }
  }
  *result = InstallerStepResult(STEP_DONE);
}

MoveOldStatusStep::MoveOldStatusStep(InstallerStepContext* context)
    : InstallerStep("move_old_status", context) {}

MoveOldStatusStep::~MoveOldStatusStep() = default;

void MoveOldStatusStep::Execute(InstallerStepResult* result, int attempt) {
  *result = InstallerStepResult(STEP_DONE);
  LOG(INFO) << "Preserving previous installer status.";
  const base::FilePath install_folder = GetContext()->GetInstallFolder();
  base::FilePath status = install_folder.Append(kInstallationStatusFileName);
  if (!base::PathExists(status))
    status = install_folder.Append(kLegacyStatusFileName);
  if (!base::PathExists(status)) {
    LOG(INFO) << "No previous status file found.";
    return;
  }
  const base::FilePath old_status = install_folder.Append(kOldStatusFolderName);
  std::string error;
  if (!base::DirectoryExists(old_status)) {
    LOG(INFO) << "Creating folder for old status files.";
    if (!ExecuteOperation(GetContext()->GetTransaction(),
                          std::make_unique<CreateFolderOperation>(old_status),
                          &error)) {
      LOG(ERROR) << "Cannot create " << old_status.value() << ": " << error;
      return;
    }
  }
  LOG(INFO) << "Moving old status file.";
  const base::FilePath destination =
      old_status.Append(status.BaseName().value() + L"." +
                        base::Int64ToString16(base::Time::Now().ToTimeT()));
  if (!ExecuteOperation(GetContext()->GetTransaction(),
                        std::make_unique<MoveFileOperation>(status, destination,
                                                            install_folder),
                        &error)) {
    LOG(ERROR) << "Cannot move " << status.value() << ": " << error;
  }
}

UninstallFinalizeStep::UninstallFinalizeStep(InstallerStepContext* context)
    : InstallerStep("uninstall_finalize", context) {}

UninstallFinalizeStep::~UninstallFinalizeStep() = default;

void UninstallFinalizeStep::Execute(InstallerStepResult* result, int attempt) {
  LOG(INFO) << "Finalizing the uninstallation";
  const base::FilePath install_folder = GetContext()->GetInstallFolder();
  // An installation made by an older installer describes itself in the
  // legacy file only; whichever status is left behind would make the folder
  // read as an installation still, so every one that is there goes.
  std::vector<base::FilePath> statuses;
  for (const wchar_t* name :
       {kInstallationStatusFileName, kLegacyStatusFileName}) {
    const base::FilePath status = install_folder.Append(name);
    if (base::PathExists(status))
      statuses.push_back(status);
  }
  if (statuses.empty())
    statuses.push_back(install_folder.Append(kInstallationStatusFileName));
  for (const base::FilePath& status : statuses) {
    std::string error;
    if (!ExecuteOperation(GetContext()->GetTransaction(),
                          std::make_unique<DeleteFileOperation>(
                              status, false, true, install_folder),
                          &error)) {
      LOG(ERROR) << "Cannot delete " << status.value() << ": " << error;
      *result = InstallerStepResult(
          STEP_FAILED, RESULT_UNINSTALL_ERROR, base::string16(),
          "Failed to remove installation status file");
      return;
    }
  }
  FinalizeUninstallation(GetContext(), GetContext()->GetInstallFolder());
  *result = InstallerStepResult(STEP_DONE);
}

}  // namespace installer
