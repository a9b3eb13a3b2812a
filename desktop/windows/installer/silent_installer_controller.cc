#include "desktop/windows/installer/silent_installer_controller.h"

#include <string.h>

#include <utility>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/cpu.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/time/time.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/avro_stats/avro_events.h"
#include "desktop/windows/installer/avro_stats/avro_stats_sender.h"
#include "desktop/windows/installer/common/installer_result.h"
#include "desktop/windows/installer/common/process_runner.h"
#include "desktop/windows/installer/installation_folder_details.h"
#include "desktop/windows/installer/installer_startup.h"
#include "desktop/windows/installer/interprocess_state.h"
#include "desktop/windows/installer/package_fetcher/payload_manager.h"
#include "desktop/windows/installer/runner/main_process_installer_runner.h"
#include "desktop/windows/installer/service/security_utils.h"

namespace installer {

const int SilentInstallerController::kTerminateDelayMs = 1000;

SilentInstallerController::SilentInstallerController(
    std::unique_ptr<MainProcessInstallerRunner> runner, Settings* settings)
    : InstallerController(std::move(runner), settings, nullptr) {}

SilentInstallerController::~SilentInstallerController() {
  if (observing_settings_)
    settings()->RemoveObserver(this);
  runner()->RemoveObserver(this);
}

void SilentInstallerController::RunUICallbackAndPostReply(
    UICallback ui_callback,
    base::scoped_refptr<base::SingleThreadTaskRunner> reply_runner,
    Reply reply) {
  LOG(ERROR) << "Cannot display UI requested by fetcher when running silently";
  reply_runner->PostTask(FROM_HERE, base::BindOnce(std::move(reply), 1));
}

int SilentInstallerController::Start(PayloadManager* payload_manager,
                                     const base::FilePath& download_folder,
                                     base::OnceClosure quit_closure) {
  settings()->AddObserver(this);
  observing_settings_ = true;
  const int result =
      Initialize(payload_manager, download_folder, std::move(quit_closure));
  if (result != 0)
    return result;
  InterprocessState* state = GetInterprocessState();
  if (has_fetcher()) {
    // Without a fetcher (its thread did not start) the failure is on its
    // way.
    if (state->IsFixDownloadableResources())
      StartPackageFetcher();
    else if (package_fetcher())
      package_fetcher()->Restart();
  } else {
    tracking_data_from_package_ = true;
  }

  SendControllerLaunched(payload_manager, true, true);

  runner()->AddObserver(this);
  if (!settings()->IsFetchingFolderDetails())
    ExpectPathChanged();
  return 0;
}

void SilentInstallerController::ExpectPathChanged() {
  base::ThreadTaskRunnerHandle::Get()->PostTask(
      FROM_HERE, base::BindOnce(&SilentInstallerController::OnPathChanged,
                                weak_factory_.GetWeakPtr()));
}

void SilentInstallerController::OnPathChanged() {
  if (terminated())
    return;
  InstallerController::OnPathChanged();
  Settings* run_settings = settings();
  const bool needs_elevation = SecurityUtilsImpl::GetInstance()->NeedsElevation(
      run_settings->GetAllUsers(),
      run_settings->GetFolderDetails().HasWriteAccess());
  if (needs_elevation && run_settings->GetAllUsers()) {
    VLOG(2) << "Cannot elevate in when silent. Switching to current user mode.";
    run_settings->SetMode(INSTALL_MODE_CURRENT_USER);
    run_settings->SetInstallFolder(run_settings->GetDefaultInstallFolder(
        DEFAULT_FOLDER_STANDARD | DEFAULT_FOLDER_REGISTRY));
    if (!run_settings->IsFetchingFolderDetails() &&
        run_settings->GetAllUsers()) {
      // The settings refused the change; going round again would loop.
      OnError(RESULT_INSUFFICIENT_PRIVILEGES, base::string16(),
              "Cannot switch to current user mode");
      return;
    }
    if (!run_settings->IsFetchingFolderDetails())
      ExpectPathChanged();
    return;
  }
  if (needs_elevation && !GetInterprocessState()->IsAutoupdate()) {
    const base::FilePath fallback = run_settings->GetDefaultInstallFolder(
        DEFAULT_FOLDER_STANDARD | DEFAULT_FOLDER_COMMAND_LINE);
    if (_wcsicmp(run_settings->GetInstallFolder().value().c_str(),
                 fallback.value().c_str()) != 0) {
      run_settings->SetInstallFolder(fallback);
      if (!run_settings->IsFetchingFolderDetails()) {
        if (run_settings->GetInstallFolder() != fallback) {
          OnError(RESULT_INSUFFICIENT_PRIVILEGES, base::string16(),
                  "Cannot move to a writable install folder");
          return;
        }
        ExpectPathChanged();
      }
      return;
    }
  }
  if (GetInterprocessState()->IsFixDownloadableResources())
    StartPackageFetcher();
  VLOG(1) << "Settings obtained. Starting.";
  RunBackend();
}

void SilentInstallerController::RunBackend() {
  GetAvroStatsSender()->Send(
      std::make_unique<SettingsAcceptedEvent>(settings()->GetSummary()));
  const std::string unsupported = GetUnsupportedSystemMessage(
      base::win::GetVersion(), base::CPU().has_sse2());
  if (!unsupported.empty()) {
    OnError(RESULT_GENERAL_ERROR, base::string16(), unsupported);
    return;
  }
  if (tracking_data_from_package_) {
    VLOG(2) << "Got tracking data from package.";
    StartTrackingDataActions();
  }
  VLOG(2) << "Preparing to run the installer.";
  StartBackendOrReport();
}

void SilentInstallerController::NotifyPackageReady(
    const base::FilePath& folder) {
  InstallerController::NotifyPackageReady(folder);
  tracking_data_from_package_ = true;
  if (!settings()->IsFetchingFolderDetails()) {
    VLOG(2) << "Got tracking data from status.";
    StartTrackingDataActions();
  }
}

void SilentInstallerController::NotifyPackageFetcherError(
    FailureKind kind,
    const std::string& description,
    const std::vector<FetchChunkStatistics>& details) {
  if (package_fetcher() && package_fetcher()->Retry())
    return;
  VLOG(1) << "Package fetcher failed.";
  InstallerController::NotifyPackageFetcherError(kind, description, details);
  Terminate();
}

void SilentInstallerController::OnError(int code,
                                        const base::string16& path,
                                        const std::string& message) {
  InstallerController::OnError(code, path, message);
  VLOG(2) << "Installer error: terminating";
  Terminate();
}

void SilentInstallerController::OnSuccess() {
  InstallerController::OnSuccess();
  Terminate();
}

void SilentInstallerController::OnBackendProcessTerminated(int result) {
  InstallerController::OnBackendProcessTerminated(result);
  VLOG(2) << "Installer ended. Error is: " << this->result() << ". terminating";
  base::ThreadTaskRunnerHandle::Get()->PostDelayedTask(
      FROM_HERE,
      base::BindOnce(&SilentInstallerController::Terminate,
                     weak_factory_.GetWeakPtr()),
      base::TimeDelta::FromMilliseconds(kTerminateDelayMs));
}

}  // namespace installer
