#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string>

#include "base/at_exit.h"
#include "base/base_paths.h"
#include "base/bind.h"
#include "base/command_line.h"
#include "base/cpu.h"
#include "base/environment.h"
#include "base/features/command_line_feature_reader.h"
#include "base/features/feature_registry.h"
#include "base/features/list_value_feature_reader.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/message_loop/message_loop.h"
#include "base/path_service.h"
#include "base/run_loop.h"
#include "base/strings/utf_string_conversions.h"
#include "base/task_scheduler/scheduler_worker_pool_params.h"
#include "base/task_scheduler/task_scheduler.h"
#include "base/time/time.h"
#include "base/values.h"
#include "base/win/dpi.h"
#include "base/win/scoped_com_initializer.h"
#include "base/win/windows_version.h"
#include "components/prefs/json_pref_store.h"
#include "crash/crash_product_info.h"
#include "crash/crash_reporter.h"
#include "desktop/windows/installer/avro_stats/avro_stats_sender.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/common/installer_result.h"
#include "desktop/windows/installer/common/json_pref_store_factory.h"
#include "desktop/windows/installer/common/process_runner.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/common/tracking_data_dictionary.h"
#include "desktop/windows/installer/console_output.h"
#include "desktop/windows/installer/folder_permission_process.h"
#include "desktop/windows/installer/installer_experiments.h"
#include "desktop/windows/installer/installation_folder_details_fetcher.h"
#include "desktop/windows/installer/installer_help.h"
#include "desktop/windows/installer/installer_startup.h"
#include "desktop/windows/installer/installer_ui_controller.h"
#include "desktop/windows/installer/installer_utils.h"
#include "desktop/windows/installer/interprocess_state.h"
#include "desktop/windows/installer/package_fetcher/payload_manager.h"
#include "desktop/windows/installer/runner/backend_process_installer_runner_impl.h"
#include "desktop/windows/installer/runner/installer_progress_notifier.h"
#include "desktop/windows/installer/runner/main_process_installer_runner_impl.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/settings_impl.h"
#include "desktop/windows/installer/silent_installer_controller.h"
#include "desktop/windows/installer/ui/progress_calculator_impl.h"
#include "desktop/windows/installer/ui/win32_dialog_dispatcher.h"
#include "desktop/windows/installer/utils/wmi_util.h"
#include "desktop/windows/installer/utils/working_folder.h"

namespace installer {
namespace {

void ShowLoadError(const wchar_t* text, const wchar_t* caption) {
  ::MessageBoxW(nullptr, text, caption, MB_OK | MB_ICONERROR);
}

// A processor without SSE2 can't run the library's code; refuse as soon as
// the library is loaded.
struct Sse2CheckAtLoad {
  Sse2CheckAtLoad() {
    int exit_code = CheckSse2AtLoad(base::CPU().has_sse2(), &ShowLoadError);
    if (exit_code != 0)
      ::ExitProcess(exit_code);
  }
} g_sse2_check_at_load;

void StartTaskScheduler() {
  const base::TimeDelta kReclaimTime = base::TimeDelta::FromSeconds(30);
  base::TaskScheduler::Create("installer");
  base::TaskScheduler::GetInstance()->Start(base::TaskScheduler::InitParams(
      base::SchedulerWorkerPoolParams(1, kReclaimTime),
      base::SchedulerWorkerPoolParams(1, kReclaimTime),
      base::SchedulerWorkerPoolParams(1, kReclaimTime),
      base::SchedulerWorkerPoolParams(
          1, kReclaimTime,
          base::SchedulerBackwardCompatibility::INIT_COM_STA)));
}

void ApplyExperimentStates(const base::FilePath& installation_folder) {
  base::FeatureRegistry* registry = base::FeatureRegistry::GetInstance();
  if (IsUninstallRun()) {
    VLOG(1) << "Retrieving experiment states from installation folder...";
    // Read only: the uninstaller must not move the installation's file
    // aside or add a copy of it before anything is decided.
    std::unique_ptr<base::DictionaryValue> prefs =
        JsonPrefStore::ReadPrefsWithoutChanges(
            installation_folder.Append(L"installer_prefs.json"));
    const base::Value* value = nullptr;
    const base::ListValue* list = nullptr;
    if (prefs && prefs->Get("installer-experiments", &value) &&
        value->GetAsList(&list)) {
      base::ListValueFeatureReader reader(list);
      registry->ApplyReader(&reader);
      VLOG(1) << "Retrieved experiment states from installation folder";
    }
  } else {
    base::CommandLineFeatureReader reader(
        base::CommandLine::ForCurrentProcess());
    registry->ApplyReader(&reader);
    VLOG(1) << "Obtained experiment states from command line";
  }
  if (registry->IsEnabled(kInstallerExperimentTest))
    LOG(INFO) << "Test experiment is enabled";
}

void SetUpStatistics(bool backend) {
  if (backend) {
    VLOG(2) << "Disabling Avro in this process";
    DisableAvroStatsSender();
    return;
  }
  const TrackingDataDictionary* tracking = GetServerTrackingData();
  const CampaignData campaign(tracking->GetString("utm.campaign"),
                              tracking->GetString("utm.source"),
                              tracking->GetString("utm.medium"));
  VLOG(2) << "Enabling Avro in this process";
  InitializeAvroStatsSender(
      std::make_unique<AvroMessageSerializer>(
          GetSessionGuid(), tracking->GetString("uuid").value_or(std::string()),
          GetVersionString(), GetChannelName(), campaign),
      base::CommandLine::ForCurrentProcess()->HasSwitch("test-avro-srv") ? 1
                                                                         : 0,
      IsAutoupdateRun() ? 0 : 1);
}

// The download folder of a front end: under `temp-folder` when given, else
// the first usable of the standard places.
bool GetDownloadFolder(const base::FilePath& own_file, base::FilePath* folder) {
  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();
  std::wstring name = GetInstallerFolderName();
  if (command_line.HasSwitch("temp-folder")) {
    base::FilePath candidate =
        command_line.GetSwitchValuePath("temp-folder").Append(name);
    if (!base::DirectoryExists(candidate) &&
        !base::CreateDirectory(candidate)) {
      LOG(ERROR) << "Could not create temporary installer folder";
      return false;
    }
    *folder = candidate;
    return true;
  }
  if (!FindWorkingFolder(GetDownloadFolderBases(own_file), name, own_file,
                         folder)) {
    LOG(ERROR) << "Could not obtain temporary installer folder";
    return false;
  }
  return true;
}

// Starts |controller| and, unless the start already settled the run,
// runs |run_loop| until the controller ends it.
InstallerResult RunController(InstallerController* controller,
                              base::RunLoop* run_loop,
                              PayloadManager* payload,
                              const base::FilePath& download_folder) {
  const int start_result =
      controller->Start(payload, download_folder, run_loop->QuitClosure());
  if (start_result != 0)
    return static_cast<InstallerResult>(start_result);
  run_loop->Run();
  return static_cast<InstallerResult>(controller->result());
}

InstallerResult RunFrontEnd(bool silent,
                            const base::FilePath& own_file,
                            PayloadManager* payload,
                            Settings* settings) {
  base::FilePath download_folder;
  if (!GetDownloadFolder(own_file, &download_folder))
    return RESULT_TEMP_FOLDER_FAILED;
  LOG(INFO) << "Installer download folder: " << download_folder;
  InstallerResult result = RESULT_GENERAL_ERROR;
  if (!silent) {
    VLOG(2) << "Running UI controller";
    InstallerProgressNotifier notifier;
    auto runner = std::make_unique<MainProcessInstallerRunnerImpl>(&notifier);
    auto calculator = std::make_unique<ProgressCalculatorImpl>(
        runner.get(), &notifier, ProgressStageWeights());
    // The run loop offers each message to the wizard's dialogs first, so
    // that their keyboard handling works.
    base::RunLoop run_loop(Win32DialogDispatcher::GetInstance());
    auto controller = std::make_unique<InstallerUIController>(
        std::move(runner), std::move(calculator), &notifier, settings,
        std::make_unique<ProcessRunnerImpl>());
    result =
        RunController(controller.get(), &run_loop, payload, download_folder);
  } else {
    InstallerProgressNotifier notifier;
    VLOG(2) << "Running silent controller";
    base::RunLoop run_loop;
    auto controller = std::make_unique<SilentInstallerController>(
        std::make_unique<MainProcessInstallerRunnerImpl>(&notifier), settings);
    // The task scheduler is shut down once, by the main path after the
    // role.
    result =
        RunController(controller.get(), &run_loop, payload, download_folder);
  }
  // A plain removal: the folder goes only when nothing was left in it.
  ::RemoveDirectoryW(download_folder.value().c_str());
  return result;
}

// Everything after the early roles: logging, the main thread's loop, the
// task scheduler, experiments, payload and statistics, then the role.
int RunMainPath(const base::FilePath& installation_folder) {
  base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  std::unique_ptr<base::Environment> environment = base::Environment::Create();
  ApplyVerbosityFromEnvironment(environment.get(), command_line);

  base::Time::Exploded now;
  base::Time::Now().LocalExplode(&now);
  // Without a temporary folder the log goes to the current folder.
  base::FilePath temp_dir;
  if (!base::GetTempDir(&temp_dir))
    temp_dir.clear();
  base::FilePath log_file = ChooseLogFile(temp_dir, MakeLogFileName(now));
  base::logging::LoggingSettings settings;
  settings.logging_dest = base::logging::LOG_TO_FILE;
  settings.log_file = log_file.value().c_str();
  settings.delete_old = base::logging::DELETE_OLD_FILE;
  base::logging::InitLogging(settings);
  base::win::EnableHighDPISupport();

  LOG(INFO) << MakeStartingLine();
  LOG(INFO) << "Command line: " << command_line->GetCommandLineString();

  RunFlags flags;
  flags.backend = IsBackendRun(*command_line);
  flags.uninstall = command_line->HasSwitch("uninstall");
  flags.silent = IsSilentRun();
  flags.autoupdate = IsAutoupdateRun();
  flags.inside_package = IsInsidePackage();
  flags.run_immediately = command_line->HasSwitch("runimmediately");
  base::FilePath install_folder;
  if (command_line->HasSwitch("installfolder")) {
    install_folder = command_line->GetSwitchValuePath("installfolder");
    LOG(INFO) << "Install folder from command line: " << install_folder;
  }
  for (const std::string& line : DescribeRunFlags(flags))
    LOG(INFO) << line;

  base::MessageLoop::Type loop_type =
      ChooseMessageLoopType(flags.backend, flags.silent);
  if (loop_type == base::MessageLoop::TYPE_DEFAULT)
    VLOG(1) << "Using default message loop";
  else
    VLOG(1) << "Using UI message loop";
  DCHECK(!base::MessageLoop::current());
  base::MessageLoop message_loop(loop_type);

  StartTaskScheduler();
  GetPrefsTaskPool();
  ApplyExperimentStates(installation_folder);

  InstallerResult result = RESULT_SUCCESS;
  std::unique_ptr<PayloadManager> payload;
  base::FilePath own_file;
  if (!base::PathService::Get(base::FILE_EXE, &own_file)) {
    LOG(ERROR) << "Cannot find own file path";
    result = RESULT_GENERAL_ERROR;
  } else {
    InstallerArchitecture architecture = InstallerArchitecture::X64;
    if (!flags.inside_package) {
      if (base::win::OSInfo::GetInstance()->architecture() !=
          base::win::ARCH_X64) {
        architecture = InstallerArchitecture::X86;
      }
      payload = std::make_unique<PayloadManagerImpl>(own_file);
      result = ActOnPayload(*payload, &architecture);
      // The command line's tracking data wins over the payload's.
      if (payload->GetPayloadType() == PAYLOAD_TRACKING_DATA &&
          !GetServerTrackingData()->HasTrackingData() &&
          !GetServerTrackingData()->ParseTrackingBlob(payload->GetPayload())) {
        LOG(ERROR) << "Cannot read the tracking data of the payload";
      }
    }
    if (result == RESULT_SUCCESS) {
      SetUpStatistics(flags.backend);
      VLOG(1) << "Installer architecture: "
              << ArchitectureToString(static_cast<int>(architecture));
      VLOG(2) << "Instantiating settings";
      // Lives until the role has run: its destructor cancels a folder
      // examination still in flight before the task scheduler stops.
      SettingsImpl run_settings(
          install_folder, architecture, payload.get(),
          CreateInstallationFolderDetailsFetcherFactory());
      if (flags.backend) {
        VLOG(2) << "Running backend";
        BackendProcessInstallerRunnerImpl runner;
        result = runner.Run(&run_settings);
      } else {
        result =
            RunFrontEnd(flags.silent, own_file, payload.get(), &run_settings);
      }
    }
  }

  base::TaskScheduler::GetInstance()->Shutdown();
  base::TaskScheduler::GetInstance()->Join();
  base::TaskScheduler::SetInstance(nullptr);
  LOG(INFO) << "Installer exiting with result " << ResultToInt(result);
  return ResultToExitCode(result);
}

// Crash reporting lies below the installer and learns the product from it.
crash_reporter::CrashProductInfo MakeCrashProductInfo() {
  crash_reporter::CrashProductInfo info;
  info.product_word = GetProductName();
  info.crash_product_name = GetCrashProductName();
  info.version = GetVersionString();
  info.channel = GetChannelName();
  info.channel_id = GetChannelId();
  info.ubn = GetUbn();
  info.build_timestamp = GetBuildTimestamp();
  info.build_number = GetBuildNumber();
  info.company_registry_key = GetCompanyRegistryKey();
  info.upload_url = GetNamedUrl("crashstats_collector");
  return info;
}

}  // namespace
}  // namespace installer

extern "C" int RunInstaller() {
  using namespace installer;
  // Before anything can load a DLL: the installer runs from a download
  // folder.
  RestrictDllSearchPath();
  base::CommandLine::Init();
  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();
  switch (ChooseProcessRole(command_line, false)) {
    case ProcessRole::kPrintVersion:
      PrintToStdout("%s", GetVersionString().c_str());
      return ResultToInt(RESULT_SUCCESS);
    case ProcessRole::kPrintInternalVersion:
      PrintToStdout("%s", GetInternalVersionString().c_str());
      return ResultToInt(RESULT_SUCCESS);
    case ProcessRole::kPrintStream:
      PrintToStdout("%s", GetChannelName().c_str());
      return ResultToInt(RESULT_SUCCESS);
    default:
      break;
  }

  int exit_code = 0;
  {
    base::AtExitManager at_exit_manager;
    base::win::ScopedCOMInitializer com_initializer;
    ScopedInstallerErrorRecord error_record;

    crash_reporter::SetCrashProductInfo(MakeCrashProductInfo());
    if (command_line.HasSwitch(crash_reporter::kCrashReporterParentIdSwitch)) {
      crash_reporter::RunCrashReporterChild();
      return ResultToInt(RESULT_SUCCESS);
    }
    crash_reporter::JoinCrashReporting();

    RegisterInstallerExperiments(base::FeatureRegistry::GetInstance());
    RegisterBrowserFeatures(base::FeatureRegistry::GetInstance());
    const base::FilePath installation_folder =
        Installation::GetCurrent()->GetFolder();

    switch (ChooseProcessRole(command_line, IsSilentRun())) {
      case ProcessRole::kConsoleHelp:
        PrintConsoleHelp();
        exit_code = ResultToInt(RESULT_SUCCESS);
        break;
      case ProcessRole::kFolderPermission:
        // The backend learns the outcome from the "given" event, not from
        // the exit code.
        RunFolderPermissionProcess(command_line, kFolderPermissionUndoGrace);
        if (command_line.HasSwitch("run-uninstall-bat"))
          RunUninstallBatch(installation_folder);
        exit_code = ResultToInt(RESULT_SUCCESS);
        break;
      default:
        exit_code = RunMainPath(installation_folder);
        break;
    }
  }
  return exit_code;
}
