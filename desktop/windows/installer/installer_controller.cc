#include "desktop/windows/installer/installer_controller.h"

#include <utility>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/features/feature_registry.h"
#include "base/files/file_enumerator.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/process/launch.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/thread.h"
#include "base/threading/thread_task_runner_handle.h"
#include "desktop/windows/installer/avro_stats/avro_events.h"
#include "desktop/windows/installer/avro_stats/avro_stats_sender.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/common/installer_result.h"
#include "desktop/windows/installer/common/process_runner.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/common/tracking_data_dictionary.h"
#include "desktop/windows/installer/installation_folder_details.h"
#include "desktop/windows/installer/interprocess_state.h"
#include "desktop/windows/installer/common/file_version_utils.h"
#include "desktop/windows/installer/lzma_util/lzma_util.h"
#include "desktop/windows/installer/package_fetcher/additional_file_downloader_impl.h"
#include "desktop/windows/installer/package_fetcher/folder_preparer.h"
#include "desktop/windows/installer/package_fetcher/main_package_downloader_impl.h"
#include "desktop/windows/installer/package_fetcher/package_fetch_sequencer_impl.h"
#include "desktop/windows/installer/package_fetcher/package_metadata_retriever_impl.h"
#include "desktop/windows/installer/package_fetcher/package_version_checker_impl.h"
#include "desktop/windows/installer/package_fetcher/payload_manager.h"
#include "desktop/windows/installer/package_unpacker.h"
#include "desktop/windows/installer/pref_default_overrides_fetcher.h"
#include "desktop/windows/installer/runner/main_process_installer_runner.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/steps/copy_file_step.h"
#include "desktop/windows/installer/steps/move_file_step.h"
#include "desktop/windows/installer/utils/wmi_util.h"
#include "desktop/windows/installer/utils/display_scales.h"

namespace installer {

namespace {

const char kMinimalPackageFeature[] = "installer-use-minimal-package";

// Switches a relaunched installer takes over from this process as they are.
const char* const kRelaunchPassedSwitches[] = {
    "test-avro-srv",        "internal-package-server",
    "local-stats-server",   "local-pref-default-overrides-server",
    "server-tracking-data", "server-tracking-blob",
};

std::string TrackingDataJson() {
  TrackingDataDictionary* dictionary =
      GetInterprocessState()->GetTrackingData();
  return dictionary ? dictionary->ToJson() : std::string();
}

bool IsMinimalPackageEnabled() {
  return base::FeatureRegistry::GetInstance()->IsEnabled(
      kMinimalPackageFeature);
}

// The recorded versioned folder of the installation in the settings' folder;
// empty without an installation.
base::FilePath InstalledVersionFolder(const Settings& settings) {
  const InstallationStatus* status =
      settings.GetFolderDetails().GetInstallationStatus();
  if (!status)
    return base::FilePath();
  return settings.GetInstallFolder().Append(status->subfolder);
}

// The install folder's contents relative to it, one per line.
std::string ListFolder(const base::FilePath& folder) {
  std::string listing;
  base::FileEnumerator walk(
      folder, true,
      base::FileEnumerator::FILES | base::FileEnumerator::DIRECTORIES, L"*");
  for (base::FilePath path = walk.Next(); !path.empty(); path = walk.Next()) {
    base::FilePath relative;
    if (folder.AppendRelativePath(path, &relative))
      listing += base::WideToUTF8(relative.value()) + "\n";
  }
  return listing;
}

}  // namespace

bool StepSendsStatistics(const std::string& step_name) {
  return !IsCopyFileStepName(step_name) && !IsDirectUnpackingStep(step_name) &&
         !IsMoveFileStepName(step_name);
}

InstallerController::InstallerController(
    std::unique_ptr<MainProcessInstallerRunner> runner,
    Settings* settings,
    std::unique_ptr<ProcessRunner> process_runner)
    : settings_(settings),
      runner_(std::move(runner)),
      result_(RESULT_NOT_FINISHED),
      process_runner_(std::move(process_runner)) {}

InstallerController::~InstallerController() {
  // The fetcher belongs to its thread; a controller that was never
  // terminated still must not delete it here.
  if (package_fetcher_ && fetcher_thread_) {
    fetcher_thread_->task_runner()->DeleteSoon(FROM_HERE,
                                               std::move(package_fetcher_));
  }
  fetcher_thread_.reset();
}

int InstallerController::Start(PayloadManager* payload_manager,
                               const base::FilePath& download_folder,
                               base::OnceClosure quit_closure) {
  return Initialize(payload_manager, download_folder, std::move(quit_closure));
}

int InstallerController::Initialize(PayloadManager* payload_manager,
                                    const base::FilePath& download_folder,
                                    base::OnceClosure quit_closure) {
  quit_closure_ = std::move(quit_closure);
  no_fetcher_ = !payload_manager;
  tracking_data_ = TrackingDataJson();
  auto downloader = std::make_unique<WininetImpl>(this, nullptr);
  if (no_fetcher_) {
    VLOG(1) << "Initializing controller without fetcher.";
    base::FilePath own_folder;
    if (!base::PathService::Get(base::DIR_EXE, &own_folder))
      LOG(ERROR) << "Cannot find own folder";
    GetInterprocessState()->SetPackageDir(own_folder);
    runner_->SetPaths(own_folder, base::FilePath());
    package_folder_ = own_folder;
  } else {
    InitializeFetcher(payload_manager, download_folder);
  }
  overrides_fetcher_ =
      std::make_unique<PrefDefaultOverridesFetcher>(std::move(downloader));
  return 0;
}

void InstallerController::InitializeFetcher(
    PayloadManager* payload_manager, const base::FilePath& download_folder) {
  VLOG(1) << "Initializing controller with fetcher.";
  auto proxy = base::MakeRefCounted<PackageFetcherDelegateProxy>(this, this);
  // The unpacking of an old package's installer moves the progress.
  auto version_checker = std::make_unique<PackageVersionCheckerImpl>(
      std::make_unique<FileVersionUtilsImpl>(
          std::make_unique<ProcessRunnerImpl>()),
      std::make_unique<LzmaUtil>(), proxy.get());
  auto folder_preparer = std::make_unique<FolderPreparerImpl>(
      download_folder, settings_->GetInstallAssistant());
  // The backend looks for the package by the folders' common name.
  const base::FilePath package_folder = folder_preparer->GetPackageFolder();
  const base::FilePath assistant_folder = folder_preparer->GetAssistantFolder();
  if (package_fetcher_ && fetcher_thread_) {
    fetcher_thread_->task_runner()->DeleteSoon(FROM_HERE,
                                               std::move(package_fetcher_));
  }
  fetcher_thread_ = std::make_unique<base::Thread>("Fetcher thread");
  if (!StartFetcherThread(fetcher_thread_.get())) {
    fetcher_thread_.reset();
    const std::string message = "Cannot start the package fetcher thread";
    LOG(ERROR) << message;
    // Reported as the fetcher's own failures are, after Start has returned.
    base::ThreadTaskRunnerHandle::Get()->PostTask(
        FROM_HERE,
        base::BindOnce(&InstallerController::NotifyPackageFetcherError,
                       weak_factory_.GetWeakPtr(), FAILURE_LOCAL, message,
                       std::vector<FetchChunkStatistics>()));
    return;
  }
  auto metadata_retriever = std::make_unique<PackageMetadataRetrieverImpl>(
      settings_->GetArchitecture() == InstallerArchitecture::X64 ? 1 : 0);
  auto sequencer = std::make_unique<PackageFetchSequencerImpl>(
      std::make_unique<AdditionalFileDownloaderImpl>(),
      std::move(folder_preparer), std::make_unique<MainPackageDownloaderImpl>(),
      std::move(metadata_retriever), std::move(version_checker),
      settings_->GetInstallAssistant(), tracking_data_, payload_manager, proxy);
  package_fetcher_ = std::make_unique<PackageFetcher>(
      std::move(sequencer), fetcher_thread_->task_runner(), proxy);
  if (IsMinimalPackageEnabled()) {
    package_fetcher_->SetUseMinimalPackage(
        GetMinimalPackagePaks(settings_->GetLanguage(), GetMonitorScaleIds()));
  }
  GetInterprocessState()->SetPackageDirPrefix(package_folder);
  runner_->SetPaths(package_folder, assistant_folder);
}

void InstallerController::StartPackageFetcher() {
  if (additional_files_fetch_started_ || settings_->IsFetchingFolderDetails() ||
      !settings_->GetFolderDetails().HasExistingInstallation() ||
      !package_fetcher_) {
    return;
  }
  additional_files_fetch_started_ = true;
  package_fetcher_->EnableAdditionalFiles();
  package_fetcher_->RestartWithMinimalPackage(
      ListMissingDownloadableResources(InstalledVersionFolder(*settings_)));
}

bool InstallerController::StartFetcherThread(base::Thread* thread) {
  return thread->Start();
}

void InstallerController::StartTrackingDataActions() {
  if (terminated_ || tracking_data_actions_started_)
    return;
  tracking_data_actions_started_ = true;
  const InstallerOperation operation = settings_->GetOperation();
  if (operation != OPERATION_INSTALL && operation != OPERATION_UPGRADE) {
    OnTrackingDataActionsDone();
    return;
  }
  std::string tracking_data = tracking_data_;
  if (tracking_data.empty())
    tracking_data = settings_->GetFolderDetails().GetServerTrackingData();
  overrides_fetcher_->Fetch(
      package_folder_, tracking_data,
      base::BindOnce(&InstallerController::OnTrackingDataActionsDone,
                     weak_factory_.GetWeakPtr()));
}

void InstallerController::OnTrackingDataActionsDone() {
  VLOG(2) << "Tracking data actions done: package complete.";
  runner_->OnPackageReady();
}

void InstallerController::NotifyPackageReady(const base::FilePath& folder) {
  GetInterprocessState()->SetPackageDir(folder);
  package_folder_ = folder;
}

void InstallerController::NotifyPackageFetcherError(
    FailureKind kind,
    const std::string& description,
    const std::vector<FetchChunkStatistics>& details) {
  GetAvroStatsSender()->Send(std::make_unique<ErrorEvent>("Fetcher error"));
  result_ = RESULT_PACKAGE_FETCH_FAILED;
  error_text_ = "Fetcher error: " + description;
  fetch_details_ = details;
}

void InstallerController::OnStepStarting(const std::string& name) {
  if (StepSendsStatistics(name))
    GetAvroStatsSender()->Send(
        std::make_unique<InstallerStepStartingEvent>(name));
}

void InstallerController::OnStepFinished(const std::string& name,
                                         int attempt,
                                         int finished_count) {
  if (StepSendsStatistics(name)) {
    GetAvroStatsSender()->Send(
        std::make_unique<InstallerStepFinishedEvent>(attempt, name));
  }
}

void InstallerController::OnError(int code,
                                  const base::string16& path,
                                  const std::string& message) {
  LOG(ERROR) << "Installer error: " << message;
  if (code == RESULT_INVALID_OPERATION && VLOG_IS_ON(2)) {
    // What was in the folder helps to tell why the operation did not fit it.
    VLOG(2) << "Install folder contents:\n"
            << ListFolder(settings_->GetInstallFolder());
  }
  // The result was settled and reported when the controller terminated;
  // what the stopped backend says afterwards does not change it.
  if (terminated_)
    return;
  RecordError(code, message);
}

void InstallerController::RecordError(int code, const std::string& message) {
  GetAvroStatsSender()->Send(std::make_unique<ErrorEvent>(message));
  error_text_ = message;
  result_ = code;
  outcome_reported_ = true;
}

void InstallerController::SendControllerLaunched(
    PayloadManager* payload_manager, bool silent, bool run_immediately) {
  ControllerLaunchedDetails details;
  details.payload_type =
      payload_manager ? PayloadTypeToString(payload_manager->GetPayloadType())
                      : "none";
  details.tracking_data = tracking_data_;
  details.run_immediately = run_immediately;
  details.autoupdate = GetInterprocessState()->IsAutoupdate();
  details.silent = silent;
  details.command_line = base::WideToUTF8(
      base::CommandLine::ForCurrentProcess()->GetArgumentsString());
  details.package_architecture = ArchitectureToLowerCaseString(
      static_cast<int>(settings_->GetArchitecture()));
  GetAvroStatsSender()->Send(
      std::make_unique<ControllerLaunchedEvent>(details));
}

void InstallerController::ResetOutcome() {
  result_ = RESULT_NOT_FINISHED;
  outcome_reported_ = false;
}

void InstallerController::OnSuccess() {
  VLOG(2) << "Installer succeeded";
  // A success queued behind an error that terminated the controller comes
  // too late: the failure has been reported and is the result.
  if (terminated_)
    return;
  result_ = RESULT_SUCCESS;
  outcome_reported_ = true;
}

void InstallerController::OnBackendProcessTerminated(int result) {
  // A backend that the termination stopped ends while the statistics go out,
  // after the result was settled.
  if (terminated_)
    return;
  // A backend that was killed, or died, reports nothing; its exit code may
  // still read as success (a killed process's does under Wine). Only the
  // success it reported makes a success.
  if (!outcome_reported_) {
    LOG(ERROR) << "The installer backend ended with result " << result
               << " without reporting the outcome of the installation";
    LogWhatMayBeLeft();
  }
  // An exit code of 0 adds nothing: the result stays the outcome the backend
  // reported last, or "no outcome" when it reported none.
  if (result != RESULT_SUCCESS && result != RESULT_PROCESS_EXIT_1 &&
      result != RESULT_PROCESS_EXIT_UNKNOWN) {
    result_ = result;
  }
}

void InstallerController::LogWhatMayBeLeft() {
  const base::FilePath folder = settings_->GetInstallFolder();
  LOG(ERROR) << "The installation may be left unfinished: files in "
             << folder.value() << " (a partial version folder), the value \""
             << "Last " << GetCurrentStreamName() << " Install Path\" under "
             << "HKEY_CURRENT_USER\\" << GetCompanyRegistryKey();
}

void InstallerController::UpdateStatsTraffic() {
  GetAvroStatsSender()->SetTrafficAllowed(settings_->GetEnableInstallerStats());
}

void InstallerController::OnSettingsChanged() {
  if (!settings_->IsFetchingFolderDetails())
    UpdateStatsTraffic();
}

void InstallerController::OnLanguageChanged() {
  if (package_fetcher_ && IsMinimalPackageEnabled()) {
    package_fetcher_->SetUseMinimalPackage(
        GetMinimalPackagePaks(settings_->GetLanguage(), GetMonitorScaleIds()));
  }
}

void InstallerController::OnPathChanged() {
  UpdateStatsTraffic();
}

bool InstallerController::StartBackendOrReport() {
  if (runner_->Start(settings_) == 0)
    return true;
  LOG(ERROR) << "Failed to run the backend. Report whatever error was "
                "reported";
  InstallerResult code = RESULT_GENERAL_ERROR;
  std::string message;
  base::string16 path;
  GetLastInstallerError(&code, &message, &path);
  // A failed start never passes for a success.
  if (code == RESULT_SUCCESS)
    code = RESULT_GENERAL_ERROR;
  OnError(code, path, message);
  return false;
}

void InstallerController::Terminate() {
  LOG(INFO) << "Terminating the controller";
  if (terminated_) {
    VLOG(2) << "Controller already terminated";
    return;
  }
  terminated_ = true;
  overrides_fetcher_.reset();
  if (fetcher_thread_) {
    if (package_fetcher_) {
      fetcher_thread_->task_runner()->DeleteSoon(FROM_HERE,
                                                 std::move(package_fetcher_));
    }
    fetcher_thread_.reset();
  }
  runner_->Stop();
  if (result_ != RESULT_SUCCESS && IsAutoupdateRun()) {
    GetAvroStatsSender()->Send(std::make_unique<AutoupdateFailedEvent>(
        error_text_ + ", Error type: " + base::IntToString(result_),
        fetch_details_, settings_->GetSummary(), GetVersionString(),
        GetChannelName()));
  }
  bool relaunched = false;
  if (settings_->GetFlag14() && process_runner_)
    relaunched = Relaunch();
  if (!relaunched) {
    GetAvroStatsSender()->Send(
        std::make_unique<ControllerQuittingEvent>(result_ == RESULT_SUCCESS));
  }
  GetAvroStatsSender()->SendPendingAndShutdown(std::move(quit_closure_));
}

bool InstallerController::Relaunch() {
  base::CommandLine command_line(
      InstalledVersionFolder(*settings_).Append(L"installer.exe"));
  command_line.AppendSwitchASCII("session-guid",
                                 GetInterprocessState()->GetSessionGuid());
  command_line.AppendSwitch("runimmediately");
  command_line.AppendSwitchASCII("ui-thread-id",
                                 base::UintToString(::GetCurrentThreadId()));
  const base::CommandLine& own = *base::CommandLine::ForCurrentProcess();
  command_line.CopySwitchesFrom(own, kRelaunchPassedSwitches,
                                std::size(kRelaunchPassedSwitches));
  base::LaunchOptions options;
  options.wait = false;
  if (!process_runner_->Launch(command_line, options)) {
    const std::string message = "Failed to launch reinstall process";
    LOG(ERROR) << "Installer error: " << message;
    // The relaunch belongs to the termination itself: its failure is the
    // run's result, unlike what a stopped backend reports afterwards.
    RecordError(RESULT_REINSTALL_LAUNCH_FAILED, message);
    return false;
  }
  return true;
}

}  // namespace installer
