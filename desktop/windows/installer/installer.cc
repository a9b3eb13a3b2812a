#include "desktop/windows/installer/installer.h"

#include <utility>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/features/command_line_feature_reader.h"
#include "base/features/feature_registry.h"
#include "base/features/list_value_feature_reader.h"
#include "base/files/file_util.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/macros.h"
#include "base/memory/scoped_refptr.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/task_runner.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/time/time.h"
#include "base/values.h"
#include "base/win/windows_version.h"
#include "crash/crash_reporter.h"
#include "desktop/windows/installer/common/file_version_utils.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/common/json_pref_store_factory.h"
#include "desktop/windows/installer/common/process_runner.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/elevation.h"
#include "desktop/windows/installer/installation_folder_details.h"
#include "desktop/windows/installer/installer_experiments.h"
#include "desktop/windows/installer/installer_object_names.h"
#include "desktop/windows/installer/installer_observer.h"
#include "desktop/windows/installer/installer_utils.h"
#include "desktop/windows/installer/interprocess_state.h"
#include "desktop/windows/installer/lzma_util/lzma_util.h"
#include "desktop/windows/installer/os_operations.h"
#include "desktop/windows/installer/post_installation_tasks.h"
#include "desktop/windows/installer/service/installation_status.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/service/transactions/file_operations.h"
#include "desktop/windows/installer/service/transactions/registry_operations.h"
#include "desktop/windows/installer/service/transactions/registry_value_template.h"
#include "desktop/windows/installer/service/windows_task_scheduler.h"
#include "desktop/windows/installer/settings.h"

namespace installer {
namespace {

// Read, write and execute: what the run needs on the install folder.
constexpr uint32_t kFolderAccess = 0x1201BF;

const RegistryValueTemplateEntry kSetLastInstallPathEntry = {
    L"{CompanyRegistryKey}",
    L"Last {Stream} Install Path",
    REG_SZ,
    L"{InstallFolder}\\",
    1,
    nullptr,
    0,
    0,
    0};

// Left behind by builds that kept the folders of the two architectures
// apart; one remembered folder is all the settings read now.
const RegistryValueTemplateEntry kDeleteLegacyX64InstallPathEntry = {
    L"{CompanyRegistryKey}",
    L"Last {Stream} Install Path x64",
    kDeleteRegistryValueType,
    nullptr,
    1,
    nullptr,
    0,
    0,
    0};

const char kUacDisabledError[] = "Cannot elevate with UAC disabled";

// Given to the package's installer: another backend handed the run over to
// it and waits for its report.
const char kHandedOverSwitch[] = "handed-over";

// A process started for this run waits for the same package as this one.
void PassWaitForPackage(const base::CommandLine& from, base::CommandLine* to) {
  if (from.HasSwitch("wait-for-package")) {
    to->AppendSwitchNative("wait-for-package",
                           from.GetSwitchValueNative("wait-for-package"));
  }
}

// The step scheduler's tasks go through this runner. The scheduler cannot
// be stopped once it runs, and it holds the run's state unretained: after
// the run was cancelled (its settings dropped, its operations rolled back)
// or the Installer is gone, whatever it had posted is dropped instead of
// running a step or reporting a second outcome.
class RunGuardedTaskRunner : public base::TaskRunner {
 public:
  RunGuardedTaskRunner(base::scoped_refptr<base::TaskRunner> target,
                       base::WeakPtr<Installer> run)
      : target_(std::move(target)), run_(std::move(run)) {}

  bool PostDelayedTask(const base::Location& from_here,
                       base::OnceClosure task,
                       base::TimeDelta delay) override {
    return target_->PostDelayedTask(
        from_here, base::BindOnce(&RunIfRunGoesOn, run_, std::move(task)),
        delay);
  }
  bool RunsTasksInCurrentSequence() const override {
    return target_->RunsTasksInCurrentSequence();
  }

 private:
  ~RunGuardedTaskRunner() override = default;

  static void RunIfRunGoesOn(const base::WeakPtr<Installer>& run,
                             base::OnceClosure task) {
    if (run)
      std::move(task).Run();
  }

  const base::scoped_refptr<base::TaskRunner> target_;
  const base::WeakPtr<Installer> run_;
};

}  // namespace

Installer::Installer(std::unique_ptr<InstallerStepScheduler> scheduler,
                     InstallationStatusReaderFactory status_reader_factory,
                     InterprocessState* interprocess_state,
                     base::CommandLine* command_line)
    : InstallerStepContextImpl(interprocess_state),
      scheduler_(std::move(scheduler)),
      status_reader_factory_(std::move(status_reader_factory)),
      command_line_(command_line ? command_line
                                 : base::CommandLine::ForCurrentProcess()),
      unpacker_(std::make_unique<PackageUnpacker>(
          std::make_unique<FileVersionUtilsImpl>(
              std::make_unique<ProcessRunnerImpl>()),
          std::make_unique<LzmaUtil>(),
          this,
          this,
          interprocess_state)) {}

Installer::~Installer() {
  if (running_)
    Cancel();
  package_ready_watcher_.StopWatching();
  interrupted_watcher_.StopWatching();
  package_ready_event_.Close();
  interrupted_event_.Close();
  unpacker_.reset();
  // What the run did itself becomes final only now: a run whose outcome
  // was success, or one that handed over to the package's installer.
  CommitOperations(GetTransaction());
  scheduler_.reset();
}

void Installer::AddObserver(InstallerObserver* observer) {
  observers_.AddObserver(observer);
}

void Installer::RemoveObserver(InstallerObserver* observer) {
  observers_.RemoveObserver(observer);
}

bool Installer::Run(Settings* settings) {
  LOG(INFO) << "Beginning installation";
  // Refusals leave their reason in the last-error record; the caller
  // reports it.
  const char* refusal = nullptr;
  if (running_ || GetSettings())
    refusal = "The installer already runs";
  else if (settings->IsFetchingFolderDetails())
    refusal = "The install folder is still being examined";
  if (refusal) {
    LOG(ERROR) << refusal;
    return SetLastInstallerError(RESULT_GENERAL_ERROR, refusal);
  }
  settings->SetEditable(false);
  set_settings(settings);
  result_ = RESULT_NOT_FINISHED;
  if (!base::ThreadTaskRunnerHandle::Get()->PostTask(
          FROM_HERE_WITH_EXPLICIT_FUNCTION("Run"),
          base::BindOnce(&Installer::RunBody, weak_factory_.GetWeakPtr()))) {
    set_settings(nullptr);
    return SetLastInstallerError(RESULT_GENERAL_ERROR,
                                 "Cannot post the installation run");
  }
  return true;
}

void Installer::SetFrontEndProcess(HANDLE process) {
  front_end_process_ = process;
}

bool Installer::IsRunInterrupted() {
  const HANDLE handles[] = {interrupted_event_.Get(), front_end_process_};
  for (HANDLE handle : handles) {
    if (handle && handle != INVALID_HANDLE_VALUE &&
        ::WaitForSingleObject(handle, 0) == WAIT_OBJECT_0) {
      return true;
    }
  }
  return false;
}

void Installer::RunBody() {
  running_ = true;
  Settings* settings = GetSettings();
  const InstallerOperation operation = settings->GetOperation();

  if (operation == OPERATION_REGISTER_PROTOCOL_HANDLER) {
    uint32_t count = 0;
    if (!scheduler_->Schedule(this, uninstall_string(), &count)) {
      ReportLastError();
      return;
    }
    RunSteps();
    return;
  }

  if (!ValidateSettings(settings)) {
    // Not every invalid state leaves a code behind.
    AddLastInstallerErrorContext("Cannot run the backend installer.",
                                 GetLastInstallerErrorCode() == RESULT_SUCCESS
                                     ? RESULT_GENERAL_ERROR
                                     : RESULT_SUCCESS);
    ReportLastError();
    return;
  }

  if (interprocess_state()->IsAutoupdate() && operation != OPERATION_UPGRADE) {
    ReportError(
        RESULT_INVALID_OPERATION, base::string16(),
        base::StringPrintf("Settings operation invalid for autoupdate: %d\n",
                           static_cast<int>(operation)));
    return;
  }

  if (command_line_->HasSwitch("post-elevated-install-tasks")) {
    LOG(INFO) << "Post elevation installation tasks only";
    RunPostElevationTasks();
    ReportSuccess();
    return;
  }

  // The task registration comes last; the service it needs starts while
  // the files go in.
  StartTaskServiceEarly();

  const base::FilePath folder = GetInstallFolder();
  const base::string16 interrupted_name =
      MakeKernelObjectName(kInterruptedEventName, folder, true);
  VLOG(1) << "Event name for interrupted installation: " << interrupted_name;
  interrupted_event_.Set(
      ::OpenEventW(SYNCHRONIZE, FALSE, interrupted_name.c_str()));
  if (!interrupted_event_.IsValid()) {
    ReportError(RESULT_GENERAL_ERROR, base::string16(),
                "Failed to open a handle to the installation interrupted "
                "event");
    return;
  }
  // An interrupt, or the front end's end, that came before the run began
  // would reach its watch only after this body has created folders and sent
  // its first event: cancel now, before anything is changed or sent.
  if (IsRunInterrupted()) {
    CancelInterrupted();
    return;
  }
  if (!interrupted_watcher_.StartWatchingOnce(interrupted_event_.Get(), this)) {
    ReportError(RESULT_GENERAL_ERROR, base::string16(),
                "Failed to watch the installation interrupted event");
    return;
  }

  if (command_line_->HasSwitch("parent-pid")) {
    unsigned int pid = 0;
    base::StringToUint(command_line_->GetSwitchValueASCII("parent-pid"), &pid);
    set_second_installer_pid(pid);
    VLOG(1) << "Second installer pid: " << pid;
  }

  const bool is_admin = SecurityUtilsImpl::GetInstance()->IsUserAdmin(false);
  VLOG(1) << "is_elevated_admin: " << is_admin;

  const bool all_users = settings->GetAllUsers();
  if (all_users && interprocess_state()->IsSilent() && !is_admin) {
    ReportError(RESULT_GENERAL_ERROR, base::string16(),
                "Installation requires elevation, but cannot elevate when "
                "silent");
    return;
  }

  bool may_write = true;
  const InstallationFolderDetails& details = GetFolderDetails();
  if (details.GetValidParentFolder() != folder && !(all_users && !is_admin)) {
    VLOG(2) << "Using write permissions from the status";
    if (!details.HasWriteAccess()) {
      may_write = false;
    } else if (!ExecuteOperation(
                   GetTransaction(),
                   std::make_unique<CreateFolderOperation>(folder), nullptr)) {
      ReportError(RESULT_GENERAL_ERROR, folder.value(),
                  "Could not create installation folder");
      return;
    }
  }

  if (operation != OPERATION_UNINSTALL &&
      operation != OPERATION_FIX_DOWNLOADABLE_RESOURCES &&
      !settings->GetCopyOnly() && !interprocess_state()->IsAutoupdate()) {
    SaveLastInstallPath();
  }

  RunWithFolder(folder, may_write, is_admin);
}

void Installer::SaveLastInstallPath() {
  VLOG(1) << "Saving last installation path.";
  std::unique_ptr<TransactionOperation> operation;
  RegistryValueTemplate set_path(kSetLastInstallPathEntry, this);
  if (!set_path.CreateOperation(HKEY_CURRENT_USER, &operation) || !operation) {
    LOG(ERROR) << "Could not convert kSetLastInstallPathRegOp";
  } else if (!ExecuteOperation(GetTransaction(), std::move(operation),
                               nullptr)) {
    LOG(WARNING) << "Could not write last installation path";
  }
  if (GetSettings()->GetArchitecture() != InstallerArchitecture::X64)
    return;
  std::unique_ptr<TransactionOperation> delete_x64;
  RegistryValueTemplate delete_legacy(kDeleteLegacyX64InstallPathEntry, this);
  if (!delete_legacy.CreateOperation(HKEY_CURRENT_USER, &delete_x64) ||
      !delete_x64 ||
      !ExecuteOperation(GetTransaction(), std::move(delete_x64), nullptr)) {
    LOG(WARNING) << "Could not delete legacy x64 last install path";
  }
}

void Installer::RunWithFolder(const base::FilePath& folder,
                              bool may_write,
                              bool is_admin) {
  Settings* settings = GetSettings();
  const InstallerOperation operation = settings->GetOperation();
  const InstallationFolderDetails& details = GetFolderDetails();
  SecurityUtils* security = SecurityUtilsImpl::GetInstance();
  const bool write_access =
      may_write &&
      security->HasAccess(folder.value(), SE_FILE_OBJECT, kFolderAccess);
  const bool stored_single_profile = details.GetSingleProfile().value_or(false);

  if (!write_access && operation == OPERATION_INSTALL &&
      settings->GetSingleProfile() && stored_single_profile) {
    ReportError(RESULT_INSUFFICIENT_PRIVILEGES, base::string16(),
                "Single profile installations are only allowed to locations "
                "where the user has write access");
    return;
  }

  if (settings->GetAllUsers() && !is_admin) {
    VLOG(1) << "All users is set but we have no admin privs -> elevate";
    if (RunElevated()) {
      VLOG(2) << "Succeeded elevated run";
      ReportSuccess();
    } else {
      ReportLastError();
    }
    return;
  }

  if (operation == OPERATION_INSTALL && is_admin &&
      settings->GetSingleProfile() && stored_single_profile) {
    // A single-profile folder is shared by whoever uses the browser: the
    // grant is meant to stay.
    std::unique_ptr<SavedSecurityDescriptor> unused;
    security->GrantAccess(folder.value(), SE_FILE_OBJECT, GENERIC_ALL, true,
                          &unused);
  }

  LOG(INFO) << "Write privileges for install folder: " << write_access;
  if (!write_access && !ObtainWriteAccess(folder, is_admin))
    return;

  if (!ExecuteOperation(GetTransaction(),
                        std::make_unique<CreateFolderOperation>(folder),
                        nullptr)) {
    ReportError(RESULT_FOLDER_CREATION_FAILED, folder.value(),
                "Could not create installation folder");
    return;
  }
  Broadcast(&InstallerObserver::OnInstallFolderReady);

  if (command_line_->HasSwitch("wait-for-package")) {
    VLOG(2) << "Need to wait for package";
    WaitForPackage(PACKAGE_OPERATION_NORMAL);
    return;
  }
  RunWithPackage();
}

void Installer::RunWithPackage() {
  if (!unpacker_->PrepareInstallSubfolder(command_line_)) {
    ReportLastError();
    return;
  }
  // The subfolder decides whether this process already runs from the target
  // folder. An uninstall started from the installed version folder must see
  // that folder here, not only once the in-place part sets it, or it would
  // try to unpack the installation into itself.
  set_installation_subfolder(ComputeInstallationSubfolder());

  if (HandsOverToPackage()) {
    for (InstallerObserver& observer : observers_)
      observer.OnEnteringPhase(6);
    package_taken_ = true;
    // An interruption during the last entries is seen only here: the
    // package's installer must not start for a run nobody wants any more.
    if (unpacker_->Unpack(command_line_) && !IsRunInterrupted() &&
        RunInstallerFromPackage(false))
      ReportSuccess();
    else
      ReportHandOverFailure();
    return;
  }
  RunInPlace();
}

bool Installer::ObtainWriteAccess(const base::FilePath& folder, bool is_admin) {
  SecurityUtils* security = SecurityUtilsImpl::GetInstance();
  if (security->GrantAccess(folder.value(), SE_FILE_OBJECT, kFolderAccess,
                            false, &saved_folder_security_)) {
    return true;
  }
  if (!is_admin) {
    if (!security->IsUserAdmin(true)) {
      LOG(INFO) << "Need temporary write permissions from administrative user";
      const bool permanent = GetSettings()->GetSingleProfile() ||
                             command_line_->HasSwitch("components");
      if (!GrantFolderPermissionElevated(folder, permanent)) {
        ReportLastError();
        return false;
      }
      if (!security->HasAccess(folder.value(), SE_FILE_OBJECT, kFolderAccess)) {
        ReportError(RESULT_INSUFFICIENT_PRIVILEGES, base::string16(),
                    "No write access to installation folder after attempting "
                    "to get it via elevated process");
        return false;
      }
      return true;
    }
    VLOG(1) << "Running elevated because of folder privileges";
    if (RunElevated()) {
      VLOG(2) << "Succeeded elevated run";
      ReportSuccess();
    } else {
      ReportLastError();
    }
    return false;
  }
  ReportError(RESULT_INSUFFICIENT_PRIVILEGES, base::string16(),
              "Could not obtain write permissions to installation folder");
  return false;
}

base::FilePath Installer::ComputeInstallationSubfolder() {
  const InstallerOperation operation = GetSettings()->GetOperation();
  if (operation == OPERATION_UNINSTALL ||
      operation == OPERATION_FIX_DOWNLOADABLE_RESOURCES) {
    return GetExistingInstallationStatus().subfolder;
  }
  return command_line_->GetSwitchValuePath("install-subfolder");
}

void Installer::RunInPlace() {
  Settings* settings = GetSettings();
  const InstallerOperation operation = settings->GetOperation();
  for (InstallerObserver& observer : observers_)
    observer.OnEnteringPhase(7);

  InstallationStatus* status = GetStatusUnderConstruction();
  status->copy_only = settings->GetCopyOnly();
  status->all_users = settings->GetAllUsers();
  status->path = GetInstallFolder();
  status->version = GetVersionString();
  const base::string16& existing_app_id =
      GetExistingInstallationStatus().app_id;
  if (operation == OPERATION_UPGRADE && !existing_app_id.empty()) {
    status->app_id = existing_app_id;
  } else {
    status->app_id = base::Int64ToString16(base::Time::Now().ToTimeT());
    VLOG(1) << "AppId for new installation: " << status->app_id;
  }

  set_installation_subfolder(ComputeInstallationSubfolder());
  if (operation == OPERATION_UNINSTALL) {
    const base::FilePath browser =
        GetTargetFolder().Append(base::UTF8ToWide(GetBrowserExeName()));
    if (!ExecuteOperation(
            GetTransaction(),
            std::make_unique<DeleteFileOperation>(browser, true, false),
            nullptr)) {
      ReportError(RESULT_FILE_IN_USE, browser.value(),
                  "Can't uninstall when " + GetBrowserExeName() + " is in use");
      return;
    }
  } else {
    VLOG(1) << "Installation subfolder " << installation_subfolder().value();
  }

  if (operation == OPERATION_UPGRADE)
    ApplyInstallerPrefsExperiments();

  if (GetFolderDetails().IsExperimentEnabled(kInstallerExperimentTest) !=
      base::IsFeatureEnabled(kInstallerExperimentTest)) {
    LOG(INFO) << "Changing the status of the test experiment.";
  }

  uint32_t count = 0;
  if (!scheduler_->Schedule(this, uninstall_string(), &count)) {
    ReportLastError();
    return;
  }
  for (InstallerObserver& observer : observers_)
    observer.OnTotalSteps(static_cast<int>(count));
  RunSteps();
}

void Installer::RunSteps() {
  scheduler_->Run(base::MakeRefCounted<RunGuardedTaskRunner>(
                      base::ThreadTaskRunnerHandle::Get(),
                      steps_weak_factory_.GetWeakPtr()),
                  this);
}

void Installer::ApplyInstallerPrefsExperiments() {
  base::scoped_refptr<JsonPrefStore> store = CreateJsonPrefStore(
      GetPrefsTaskPool(), GetInstallFolder().Append(L"installer_prefs.json"));
  const base::Value* value = nullptr;
  const base::ListValue* list = nullptr;
  if (!store->GetValue("installer-experiments", &value) ||
      !value->GetAsList(&list)) {
    return;
  }
  base::FeatureRegistry* registry = base::FeatureRegistry::GetInstance();
  base::ListValueFeatureReader stored(list);
  registry->ApplyReader(&stored);
  // The command line wins over what the installation stored.
  base::CommandLineFeatureReader switches(command_line_);
  registry->ApplyReader(&switches);
}

void Installer::WaitForPackage(PackageOperation operation) {
  LOG(INFO) << "Need to wait for actual package";
  package_operation_ = operation;
  const base::string16 name =
      MakeKernelObjectName(kPackageReadyEventName, GetInstallFolder(), true);
  VLOG(1) << "Event name for package_ready: " << name;
  package_ready_event_.Set(::OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
  if (!package_ready_event_.IsValid()) {
    // A front end that stops the run closes the event: the interruption,
    // not a fault, is why it is gone.
    if (IsRunInterrupted()) {
      CancelInterrupted();
      return;
    }
    ReportError(RESULT_GENERAL_ERROR, base::string16(),
                "Failed to open a handle to the package ready event");
    return;
  }
  if (::WaitForSingleObject(package_ready_event_.Get(), 0) == WAIT_OBJECT_0) {
    OnPackageReady();
    return;
  }
  if (!package_ready_watcher_.StartWatchingOnce(package_ready_event_.Get(),
                                                this)) {
    ReportError(RESULT_GENERAL_ERROR, base::string16(),
                "Failed to watch the package ready event");
  }
}

void Installer::OnObjectSignaled(HANDLE object) {
  // A run that already ended has nothing left to cancel or continue.
  if (!running_)
    return;
  if (object == interrupted_event_.Get()) {
    CancelInterrupted();
    return;
  }
  OnPackageReady();
}

bool Installer::HandsOverToPackage() {
  return IsPackageDirKnown() && !IsRunningFromTargetFolder() &&
         !IsFixingResources();
}

bool Installer::IsFixingResources() {
  return GetSettings()->GetOperation() == OPERATION_FIX_DOWNLOADABLE_RESOURCES;
}

void Installer::OnPackageReady() {
  LOG(INFO) << "Package is ready";
  package_taken_ = true;
  // A repair's package is only the resource files it fetched, which its
  // steps check against this build's digests and copy from the package
  // folder: there is no archive to unpack, and nothing in that folder is
  // run. The repair goes on here, in place.
  if (IsFixingResources()) {
    if (IsRunInterrupted())
      CancelInterrupted();
    else
      RunWithPackage();
    return;
  }
  if (IsPackageDirKnown()) {
    for (InstallerObserver& observer : observers_)
      observer.OnEnteringPhase(6);
    if (!unpacker_->Unpack(command_line_)) {
      ReportHandOverFailure();
      return;
    }
    set_installation_subfolder(ComputeInstallationSubfolder());
  }
  if (!IsRunInterrupted() &&
      RunInstallerFromPackage(package_operation_ ==
                              PACKAGE_OPERATION_POST_ELEVATION)) {
    ReportSuccess();
  } else {
    ReportHandOverFailure();
  }
}

bool Installer::RunInstallerFromPackage(bool post_elevation) {
  base::CommandLine command_line =
      GetSettings()->AppendToCommandLine(*command_line_, false);
  const base::FilePath folder =
      IsPackageDirKnown() ? GetTargetFolder() : GetPackageDir();
  command_line.SetProgram(folder.Append(L"installer.exe"));
  if (post_elevation)
    command_line.AppendSwitch("post-elevated-install-tasks");
  command_line.AppendSwitchASCII(
      "crash-reporter-pid",
      base::StringPrintf(
          "%ld", crash_reporter::InstallerCrashReporterClient::GetInstance()
                     ->crash_reporter_pid()));
  if (command_line_->HasSwitch("install-subfolder")) {
    command_line.AppendSwitchNative(
        "install-subfolder",
        command_line_->GetSwitchValueNative("install-subfolder"));
  }
  interprocess_state()->AppendToCommandLine(&command_line);
  command_line.AppendSwitch(kHandedOverSwitch);

  // Only the package's installer can say that it succeeded: its exit code
  // can't (a killed process's reads as success under Wine). It sets this
  // event once its success went to the front end.
  const base::FilePath install_folder = GetInstallFolder();
  base::win::ScopedHandle succeeded(::CreateEventW(
      nullptr, TRUE, FALSE,
      MakeKernelObjectName(kHandOverSucceededEventName, install_folder, true)
          .c_str()));
  // An event of an earlier run may live on, still set.
  if (!succeeded.IsValid() || !::ResetEvent(succeeded.Get())) {
    return SetLastInstallerError(
        RESULT_GENERAL_ERROR,
        "Cannot create the event of the hand-over to the package's "
        "installer: " +
            FormatWin32Error(::GetLastError()));
  }

  for (InstallerObserver& observer : observers_)
    observer.OnStartingNewMainProcess(false);
  ReleaseResources();
  LOG(INFO) << "Running installer from the package with command line: "
            << command_line.GetCommandLineString();
  base::Process process =
      base::LaunchProcess(command_line, base::LaunchOptions());
  const DWORD launch_error = ::GetLastError();
  int exit_code = -1;
  const bool ended = process.IsValid() && process.WaitForExit(&exit_code);
  // The front end was told another process took over; it learns it is back
  // with this run also when that process never started.
  Broadcast(&InstallerObserver::OnReturnedToPreviousMainProcess);
  if (!process.IsValid()) {
    return SetLastInstallerError(
        RESULT_GENERAL_ERROR,
        "Failed to start installer process from the package folder: " +
            FormatWin32Error(launch_error));
  }
  const InstallerResult result =
      ended ? ExitCodeToResult(static_cast<DWORD>(exit_code))
            : RESULT_PROCESS_EXIT_UNKNOWN;
  if (::WaitForSingleObject(succeeded.Get(), 0) == WAIT_OBJECT_0) {
    if (!IsSuccessResult(result)) {
      LOG(WARNING) << "The package's installer reported success and ended "
                   << "with exit code " << exit_code;
    }
    return true;
  }
  // A failure the package's installer reported itself was rolled back there.
  if (IsSuccessResult(result) || !IsNotUnknownProcessFailure(result)) {
    LOG(ERROR) << "The package's installer ended with exit code " << exit_code
               << " without reporting the outcome of the installation";
    LogWhatHandOverMayHaveLeft(install_folder);
  }
  if (IsSuccessResult(result)) {
    return SetLastInstallerError(
        RESULT_GENERAL_ERROR,
        "The installer process ended without reporting success.");
  }
  return SetLastInstallerError(
      result, "Installer process did not complete successfully.");
}

void Installer::LogWhatHandOverMayHaveLeft(const base::FilePath& folder) {
  LOG(ERROR) << "The installation may be left unfinished: files in "
             << folder.value()
             << " (moved up from the version folder, or set aside as \".old\""
             << " files), the uninstall entry and the browser's registry "
             << "classes and clients, and shortcuts, with no installation "
             << "status that records them";
}

void Installer::ConfirmHandedOverSuccess() {
  const base::string16 name = MakeKernelObjectName(
      kHandOverSucceededEventName, GetInstallFolder(), true);
  base::win::ScopedHandle event(
      ::OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str()));
  // The backend that handed over then reports a failure.
  if (!event.IsValid() || !::SetEvent(event.Get())) {
    LOG(ERROR) << "Cannot tell the backend that handed over the run that it "
               << "succeeded (" << name << "): "
               << FormatWin32Error(::GetLastError());
  }
}

bool Installer::RunElevated() {
  LOG(INFO) << "Running the installer elevated.";
  if (!CanElevate()) {
    return SetLastInstallerError(RESULT_ELEVATION_FAILED, kUacDisabledError);
  }
  if (command_line_->HasSwitch("run-elevated")) {
    return SetLastInstallerError(
        RESULT_ELEVATION_FAILED,
        "This process should already be elevated, but isn't.");
  }
  // The elevated copy never starts the browser: as the administrator it
  // would run it in the wrong account. This process does it afterwards.
  base::CommandLine command_line =
      GetSettings()->AppendToCommandLine(*command_line_, true);
  command_line.AppendSwitchASCII("parent-pid",
                                 base::UintToString(::GetCurrentProcessId()));
  command_line.SetProgram(GetOwnProgram());
  interprocess_state()->AppendToCommandLine(&command_line);
  PassWaitForPackage(*command_line_, &command_line);
  command_line.AppendSwitch("run-elevated");

  for (InstallerObserver& observer : observers_)
    observer.OnStartingNewMainProcess(false);
  LOG(INFO) << "Running elevated installer with command line: "
            << command_line.GetCommandLineString();
  base::win::ScopedHandle process =
      GetOsOperations()->RunElevated(command_line);
  if (!process.IsValid()) {
    // The front end was told another process took over.
    Broadcast(&InstallerObserver::OnReturnedToPreviousMainProcess);
    return AddLastInstallerErrorContext(
        "Could not run the elevated installer process");
  }
  const DWORD wait = ::WaitForSingleObject(process.Get(), INFINITE);
  const DWORD wait_error = ::GetLastError();
  Broadcast(&InstallerObserver::OnReturnedToPreviousMainProcess);
  // An infinite wait on a process ends only with it or with WAIT_FAILED.
  if (wait != WAIT_OBJECT_0) {
    return SetLastInstallerError(RESULT_GENERAL_ERROR,
                                 "Failed wait for the elevated installer: " +
                                     FormatWin32Error(wait_error));
  }
  const InstallerResult result = ProcessExitCodeToResult(process.Get());
  if (!IsSuccessResult(result))
    return SetLastInstallerError(result, "Elevated process returned an error.");

  std::unique_ptr<InstallationStatus> status = ReadStatusOfElevatedRun();
  if (!status) {
    return SetLastInstallerError(
        RESULT_GENERAL_ERROR,
        "Elevated process did not write new installation status");
  }
  command_line_->AppendSwitchPath("install-subfolder", status->subfolder);
  if (!command_line_->HasSwitch("wait-for-package")) {
    // The profile goes with the version the copy installed; the status this
    // run found still names the version an upgrade replaced.
    set_installation_subfolder(status->subfolder);
    RunPostElevationTasks();
    return true;
  }
  if (!RunInstallerFromPackage(true))
    return AddLastInstallerErrorContext("Cannot run post elevated actions");
  return true;
}

std::unique_ptr<InstallationStatus> Installer::ReadStatusOfElevatedRun() {
  std::unique_ptr<InstallationStatus> status;
  std::string contents;
  const base::FilePath file =
      GetInstallFolder().Append(L"installation_status.json");
  std::unique_ptr<InstallationStatusReader> reader =
      status_reader_factory_ ? status_reader_factory_.Run() : nullptr;
  if (!reader || !base::ReadFileToString(file, &contents))
    return nullptr;
  reader->Read(&status, contents, INSTALLATION_STATUS_PRIMARY);
  if (!status)
    LOG(ERROR) << "Cannot read " << file.value() << ": " << reader->GetError();
  return status;
}

bool Installer::GrantFolderPermissionElevated(const base::FilePath& folder,
                                              bool permanent) {
  VLOG(1) << "Asking for " << (permanent ? "permanent" : "temporary")
          << " permissions on " << folder.value();
  if (!CanElevate()) {
    return SetLastInstallerError(RESULT_ELEVATION_FAILED, kUacDisabledError);
  }
  // The permission process resolves the name under an administrator's
  // account, where a bare domain user's name could match a local account.
  base::string16 user;
  if (!GetSamCompatibleUserName(&user) && !GetCurrentUserName(&user))
    return SetLastInstallerError(RESULT_GENERAL_ERROR,
                                 "Failed to obtain user name");
  VLOG(1) << "User name is " << user;

  base::CommandLine command_line(GetOwnProgram());
  command_line.AppendSwitchPath("set-folder-permission", folder);
  command_line.AppendSwitchNative("permissions-for-user", user);
  if (permanent)
    command_line.AppendSwitch("permanent-permissions");
  if (GetSettings()->GetOperation() == OPERATION_UNINSTALL)
    command_line.AppendSwitch("run-uninstall-bat");
  command_line.AppendSwitchASCII(
      "crash-reporter-pid",
      base::StringPrintf(
          "%ld", crash_reporter::InstallerCrashReporterClient::GetInstance()
                     ->crash_reporter_pid()));
  // A temporary grant is taken back when this process ends, whatever the
  // way: the permission process waits for this process as well as for the
  // undo event.
  command_line.AppendSwitchASCII("parent-pid",
                                 base::UintToString(::GetCurrentProcessId()));
  interprocess_state()->AppendToCommandLine(&command_line);
  PassWaitForPackage(*command_line_, &command_line);
  command_line.AppendSwitchNative(
      "initial-pid", command_line_->GetSwitchValueNative("initial-pid"));

  const base::string16 given_name =
      MakeKernelObjectName(kGivePermissionEventName, folder, false);
  base::win::ScopedHandle given(
      ::CreateEventW(nullptr, FALSE, FALSE, given_name.c_str()));
  if (!given.IsValid()) {
    return SetLastInstallerError(
        RESULT_GENERAL_ERROR,
        "Failed to create event for communicating with the elevated process");
  }
  const base::string16 undo_name =
      MakeKernelObjectName(kGivePermissionUndoEventName, folder, false);
  base::win::ScopedHandle undo(
      ::CreateEventW(nullptr, FALSE, FALSE, undo_name.c_str()));
  if (!undo.IsValid()) {
    return SetLastInstallerError(RESULT_GENERAL_ERROR,
                                 "Failed to create undo event for "
                                 "communicating with the elevated process");
  }
  if (base::win::GetVersion() < base::win::VISTA &&
      (!FixEventACL(given.Get()) || !FixEventACL(undo.Get()))) {
    return SetLastInstallerError(RESULT_GENERAL_ERROR, "Cannot fix ACL event");
  }

  LOG(INFO) << "Running the permission process with command line: "
            << command_line.GetCommandLineString();
  base::win::ScopedHandle process =
      GetOsOperations()->RunElevated(command_line);
  if (!process.IsValid()) {
    return AddLastInstallerErrorContext(
        "Could not run the elevated process for grabbing install "
        "permissions");
  }
  const HANDLE handles[] = {process.Get(), given.Get()};
  const DWORD wait =
      ::WaitForMultipleObjects(arraysize(handles), handles, FALSE, INFINITE);
  // A permanent grant's process signals and ends at once; the wait then
  // names the process, though "given" is signalled too.
  if (wait == WAIT_OBJECT_0 + 1 ||
      (wait == WAIT_OBJECT_0 &&
       ::WaitForSingleObject(given.Get(), 0) == WAIT_OBJECT_0)) {
    set_permission_undo_event(std::move(undo));
    set_second_installer_pid(::GetProcessId(process.Get()));
    return true;
  }
  // A system error text says nothing when the process simply ended.
  DWORD exit_code = 0;
  const std::string reason =
      wait == WAIT_OBJECT_0 && ::GetExitCodeProcess(process.Get(), &exit_code)
          ? "it ended without giving the permission, exit code " +
                base::UintToString(exit_code)
          : FormatWin32Error(::GetLastError());
  return SetLastInstallerError(
      RESULT_ELEVATION_FAILED,
      "Failed to wait for the elevated process: " + reason);
}

void Installer::RunPostElevationTasks() {
  VLOG(1) << "Running post elevation installation tasks.";
  Settings* settings = GetSettings();
  const bool uninstall = settings->GetOperation() == OPERATION_UNINSTALL;
  if (!uninstall)
    GetOsOperations()->StoreDefaultBrowserSettings(*settings, nullptr);
  if (GetFolderDetails().HasExistingInstallation())
    LaunchComponentPostElevationTasks(GetExistingInstallationStatus());
  if (!uninstall)
    FinalizeInstallation();
}

void Installer::FinalizeInstallation() {
  LOG(INFO) << "Finalizing successful installation";
  Settings* settings = GetSettings();
  const base::FilePath& profile = GetFolderDetails().GetProfilePath();
  if (!profile.empty()) {
    // A run that only does the tasks after an elevated one has chosen no
    // subfolder: the installation it finalizes is the recorded one. The
    // install folder itself has no package resources, and the profile
    // would lose its partner content.
    base::FilePath target = GetTargetFolder();
    const base::FilePath& recorded = GetExistingInstallationStatus().subfolder;
    if (installation_subfolder().empty() && !recorded.empty())
      target = GetInstallFolder().Append(recorded);
    UpdateUserProfile(profile, settings->GetLanguage(), target,
                      interprocess_state()->IsAutoupdate());
  }
  if (settings->GetLaunchBrowser()) {
    LaunchBrowser(GetInstallFolder(), *command_line_,
                  settings->GetOperation() == OPERATION_UPGRADE);
  }
}

void Installer::OnImportantEvent(const std::string& name) {
  InstallerStepContextImpl::OnImportantEvent(name);
  for (InstallerObserver& observer : observers_)
    observer.OnImportantEvent(name);
}

void Installer::OnStepStarting(const std::string& name) {
  for (InstallerObserver& observer : observers_)
    observer.OnStepStarting(name);
}

void Installer::OnStepFinished(const std::string& name,
                               int attempt,
                               int steps_done) {
  for (InstallerObserver& observer : observers_)
    observer.OnStepFinished(name, attempt, steps_done);
}

void Installer::OnAllStepsDone(bool success) {
  if (!success) {
    ReportLastError();
    return;
  }
  const InstallerOperation operation = GetSettings()->GetOperation();
  if (operation == OPERATION_INSTALL || operation == OPERATION_UPGRADE)
    FinalizeInstallation();
  ReportSuccess();
}

bool Installer::ShouldStopUnpacking() {
  return IsRunInterrupted();
}

void Installer::OnTotalSteps(int count) {
  for (InstallerObserver& observer : observers_)
    observer.OnTotalSteps(count);
}

void Installer::OnStepFinished(const std::string& name, int count) {
  for (InstallerObserver& observer : observers_)
    observer.OnStepFinished(name, 0, count);
}

void Installer::Broadcast(void (InstallerObserver::*event)()) {
  for (InstallerObserver& observer : observers_)
    (observer.*event)();
}

void Installer::ReportError(InstallerResult code,
                            const base::string16& path,
                            const std::string& message) {
  result_ = code;
  for (InstallerObserver& observer : observers_)
    observer.OnError(code, path, message);
  Cancel();
  LOG(ERROR) << message;
}

void Installer::ReportLastError() {
  InstallerResult code = RESULT_GENERAL_ERROR;
  std::string message;
  std::wstring path;
  GetLastInstallerError(&code, &message, &path);
  // A failure must never read as success, even from a part that forgot to
  // fill the record.
  if (code == RESULT_SUCCESS)
    code = RESULT_GENERAL_ERROR;
  if (message.empty())
    message = "The installation failed without giving a reason";
  ReportError(code, path, message);
}

void Installer::ReportHandOverFailure() {
  // The front end interrupted the run, or ended, while the unpacking or the
  // package's installer had it: those stopped, and this run cancels,
  // without an error of its own.
  if (IsRunInterrupted()) {
    CancelInterrupted();
    return;
  }
  ReportLastError();
}

void Installer::ReportSuccess() {
  LOG(INFO) << "Installation succeeded";
  result_ = RESULT_SUCCESS;
  Broadcast(&InstallerObserver::OnSuccess);
  if (command_line_->HasSwitch(kHandedOverSwitch) && GetSettings())
    ConfirmHandedOverSuccess();
  ReleaseResources();
}

void Installer::CancelInterrupted() {
  LOG(INFO) << "Installation was interrupted";
  interrupted_ = true;
  Cancel();
}

void Installer::Cancel() {
  LOG(INFO) << "Installation cancelled";
  RollbackOperations(GetTransaction());
  ReleaseResources();
  Broadcast(&InstallerObserver::OnInstallationCancelled);
}

void Installer::ReleaseResources() {
  if (saved_folder_security_)
    SecurityUtilsImpl::GetInstance()->RestoreSecurity(&saved_folder_security_);
  base::win::ScopedHandle undo = TakePermissionUndoEvent();
  if (undo.IsValid())
    ::SetEvent(undo.Get());
  set_settings(nullptr);
  uninstall_string()->clear();
  running_ = false;
  steps_weak_factory_.InvalidateWeakPtrs();
}

}  // namespace installer
