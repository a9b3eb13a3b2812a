#include "desktop/windows/installer/installer_ui_controller.h"

#include <windows.h>
#include <shellapi.h>

#include <utility>

#include "base/base_paths.h"
#include "base/bind.h"
#include "base/command_line.h"
#include "base/cpu.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_util.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/thread_task_runner_handle.h"
#include "base/time/time.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/avro_stats/avro_events.h"
#include "desktop/windows/installer/avro_stats/avro_stats_sender.h"
#include "desktop/windows/installer/common/installer_result.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/installation_folder_details.h"
#include "desktop/windows/installer/installer_startup.h"
#include "desktop/windows/installer/interprocess_state.h"
#include "desktop/windows/installer/os_operations.h"
#include "desktop/windows/installer/package_fetcher/payload_manager.h"
#include "desktop/windows/installer/runner/main_process_installer_runner.h"
#include "desktop/windows/installer/service/installation.h"
#include "desktop/windows/installer/service/security_utils.h"
#include "desktop/windows/installer/ui/progress_calculator_impl.h"
#include "desktop/windows/l10n_handler/installer_string_ids.h"
#include "desktop/windows/l10n_handler/l10n_handler.h"

namespace installer {

const wchar_t kInstallerUiLockFileName[] = L"kavor_installer_ui.lck";
const int InstallerUIController::kPendingErrorDelayMs = 100;

namespace {

// The answer to a fetcher request that came after the wizard was closed.
constexpr int32_t kUiGoneReply = ERROR_CANCELLED;

struct ForegroundSearch {
  HWND found = nullptr;
};

BOOL CALLBACK FindShownWindow(HWND window, LPARAM param) {
  if (!::IsWindowEnabled(window) || !::IsWindowVisible(window))
    return TRUE;
  reinterpret_cast<ForegroundSearch*>(param)->found = window;
  return FALSE;
}

// Brings the first enabled, visible top-level window of |thread_id| (the
// other wizard's UI thread) to the front.
void ActivateWindowsOfThread(uint32_t thread_id) {
  ForegroundSearch search;
  ::EnumThreadWindows(thread_id, &FindShownWindow,
                      reinterpret_cast<LPARAM>(&search));
  if (!search.found) {
    LOG(WARNING) << "The other installer UI shows no window";
    return;
  }
  if (::IsIconic(search.found))
    ::ShowWindow(search.found, SW_RESTORE);
  ::SetForegroundWindow(search.found);
}

// The nearest folder of |path| that exists, itself included; empty when
// none does.
base::FilePath NearestExistingFolder(base::FilePath path) {
  while (!path.empty() && !base::DirectoryExists(path)) {
    const base::FilePath parent = path.DirName();
    if (parent == path)
      return base::FilePath();
    path = parent;
  }
  return path;
}

}  // namespace

InstallerUIController::InstallerUIController(
    std::unique_ptr<MainProcessInstallerRunner> runner,
    std::unique_ptr<ProgressCalculatorImpl> calculator,
    InstallerProgressNotifier* notifier,
    Settings* settings,
    std::unique_ptr<ProcessRunner> process_runner)
    : InstallerController(
          std::move(runner), settings, std::move(process_runner)),
      notifier_(notifier),
      calculator_(std::move(calculator)) {}

InstallerUIController::~InstallerUIController() {
  if (pending_ui_callback_)
    std::move(pending_ui_callback_).Run(true);
  // The window and the calculator observe the settings, the notifier and
  // the runner; they go first.
  window_.reset();
  calculator_.reset();
  ObserveSettings(false);
  if (observing_runner_)
    runner()->RemoveObserver(this);
}

int InstallerUIController::Start(PayloadManager* payload_manager,
                                 const base::FilePath& download_folder,
                                 base::OnceClosure quit_closure) {
  if (!TakeUiLock()) {
    LOG(INFO) << "Another instance of the installer UI is running. Switching "
                 "to it";
    return RESULT_ALREADY_RUNNING;
  }
  InstallerController::OnSettingsChanged();
  const int result =
      Initialize(payload_manager, download_folder, std::move(quit_closure));
  if (result != 0)
    return result;

  SendControllerLaunched(payload_manager, false,
                         settings()->GetRunImmediately());

  base::ThreadTaskRunnerHandle::Get()->PostTask(
      FROM_HERE, base::BindOnce(&InstallerUIController::StartOnUiThread,
                                weak_factory_.GetWeakPtr()));
  return 0;
}

bool InstallerUIController::TakeUiLock() {
  LOG(INFO) << "Getting installer UI mutex";
  const std::wstring mutex_name =
      base::StringPrintf(L"Local\\%ls/Installer/UI_lock",
                         base::UTF8ToWide(GetProductName()).c_str());
  base::win::ScopedHandle mutex(
      ::CreateMutexW(nullptr, FALSE, mutex_name.c_str()));
  if (!mutex.IsValid()) {
    LOG(ERROR) << "Failed to create installer UI mutex.";
  } else {
    const DWORD wait = ::WaitForSingleObject(mutex.Get(), INFINITE);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
      LOG(ERROR) << "Failed to wait for the installer UI mutex.";
      mutex.Close();
    }
  }

  uint32_t other_thread_id = 0;
  const uint32_t own_thread_id = GetOsOperations()->GetCurrentThreadId();
  base::FilePath temp_folder;
  if (!base::PathService::Get(base::DIR_TEMP, &temp_folder)) {
    // Without a place for the lock there is no telling; go on as the only
    // wizard rather than refuse the user.
    LOG(ERROR) << "No temporary folder for the installer UI lock";
  } else {
    const base::FilePath lock_path =
        temp_folder.Append(kInstallerUiLockFileName);
    // Deleted when the handle closes, also when this process dies, so a
    // crashed wizard leaves no lock behind.
    ui_lock_file_.Set(::CreateFileW(
        lock_path.value().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE,
        nullptr));
    if (ui_lock_file_.IsValid()) {
      const uint8_t bytes[4] = {static_cast<uint8_t>(own_thread_id),
                                static_cast<uint8_t>(own_thread_id >> 8),
                                static_cast<uint8_t>(own_thread_id >> 16),
                                static_cast<uint8_t>(own_thread_id >> 24)};
      DWORD written = 0;
      if (!::WriteFile(ui_lock_file_.Get(), bytes, sizeof(bytes), &written,
                       nullptr) ||
          written != sizeof(bytes)) {
        LOG(ERROR) << "Could not write the installer UI lock";
      }
      ::FlushFileBuffers(ui_lock_file_.Get());
      LOG(INFO) << "Obtained installer UI lock";
    } else {
      LOG(INFO) << "Didn't obtain installer UI lock";
      base::win::ScopedHandle existing(::CreateFileW(
          lock_path.value().c_str(), GENERIC_READ,
          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      uint8_t bytes[4] = {};
      DWORD read = 0;
      if (!existing.IsValid() ||
          !::ReadFile(existing.Get(), bytes, sizeof(bytes), &read, nullptr) ||
          read != sizeof(bytes)) {
        LOG(ERROR) << "Existing installer UI lock file is invalid";
      } else {
        other_thread_id = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
                          (static_cast<uint32_t>(bytes[3]) << 24);
      }
    }
  }
  if (mutex.IsValid())
    ::ReleaseMutex(mutex.Get());

  // The wizard that relaunched this one for a re-install still holds the
  // lock while it ends; its thread id came on the command line.
  if (other_thread_id == 0 || other_thread_id == own_thread_id ||
      other_thread_id == GetInterprocessState()->GetUiThreadId()) {
    return true;
  }
  ActivateWindowsOfThread(other_thread_id);
  return false;
}

void InstallerUIController::StartOnUiThread() {
  LOG(INFO) << "Initializing installer UI";
  ObserveSettings(true);
  runner()->AddObserver(this);
  observing_runner_ = true;
  window_ = MakeWindow();
  if (!window_) {
    OnError(RESULT_GENERAL_ERROR, base::string16(),
            "Could not initialize installer window");
    // Without a window nobody could ever see the error or end the run.
    Terminate();
    return;
  }
  window_->AddObserver(this);
  if (!has_fetcher())
    SetStage(PROGRESS_STAGE_PACKAGE_READY);
  if (!HasSse2()) {
    // The Windows version is checked once the user accepts, so only the
    // processor speaks here.
    InstallerController::OnError(
        RESULT_GENERAL_ERROR, base::string16(),
        GetUnsupportedSystemMessage(base::win::WIN7, false));
    // The box's end cancels the run through Cancel.
    window_->ShowErrorMessageBox(GetString(IDS_NO_SSE2));
    return;
  }
  if (has_fetcher()) {
    if (GetInterprocessState()->IsFixDownloadableResources()) {
      StartPackageFetcher();
    } else if (package_fetcher()) {
      LOG(INFO) << "Starting the package fetcher";
      package_fetcher()->Restart();
    }
  }
  if (!settings()->IsFetchingFolderDetails())
    OnPathChanged();
}

std::unique_ptr<InstallerWindow> InstallerUIController::MakeWindow() {
  return CreateInstallerWindow(settings(), notifier_, calculator_.get());
}

bool InstallerUIController::HasSse2() {
  return base::CPU().has_sse2();
}

void InstallerUIController::Terminate() {
  if (terminated())
    return;
  weak_factory_.InvalidateWeakPtrs();
  // A request still waiting is answered as one that comes too late, rather
  // than never.
  if (pending_ui_callback_)
    std::move(pending_ui_callback_).Run(true);
  if (window_)
    window_->RemoveObserver(this);
  // The window still points at the calculator until it is gone.
  window_.reset();
  calculator_.reset();
  // Closing deletes the lock file: the next wizard may start.
  ui_lock_file_.Close();
  InstallerController::Terminate();
  if (!installation_started_)
    ObserveSettings(false);
}

void InstallerUIController::OnTrackingDataActionsDone() {
  InstallerController::OnTrackingDataActionsDone();
  SetStage(PROGRESS_STAGE_TRACKING_DATA_DONE);
}

void InstallerUIController::RunUICallbackAndPostReply(
    UICallback ui_callback,
    base::scoped_refptr<base::SingleThreadTaskRunner> reply_runner,
    Reply reply) {
  LOG(INFO) << "Obtained UI callback request from fetcher";
  if (terminated()) {
    DoRunUICallbackAndPostReply(std::move(ui_callback), std::move(reply_runner),
                                std::move(reply), true);
    return;
  }
  if (!installation_started_ || pending_error_ || !window_) {
    LOG(INFO) << "Store callback information for later.";
    // Only one request is kept; the one it replaces is answered, or its
    // download would wait for good.
    if (pending_ui_callback_)
      std::move(pending_ui_callback_).Run(true);
    pending_ui_callback_ =
        base::BindOnce(&InstallerUIController::DoRunUICallbackAndPostReply,
                       base::Unretained(this), std::move(ui_callback),
                       reply_runner, std::move(reply));
    return;
  }
  LOG(INFO) << "Run the callback at once.";
  DoRunUICallbackAndPostReply(std::move(ui_callback), std::move(reply_runner),
                              std::move(reply), false);
}

void InstallerUIController::DoRunUICallbackAndPostReply(
    UICallback ui_callback,
    base::scoped_refptr<base::SingleThreadTaskRunner> reply_runner,
    Reply reply,
    bool cancelled) {
  if (cancelled || terminated() || !window_) {
    LOG(INFO) << "UI has been terminated already, or the request was replaced.";
    reply_runner->PostTask(FROM_HERE,
                           base::BindOnce(std::move(reply), kUiGoneReply));
    return;
  }
  const int32_t result = std::move(ui_callback).Run(window_->GetWindowHandle());
  reply_runner->PostTask(FROM_HERE, base::BindOnce(std::move(reply), result));
}

void InstallerUIController::Accept() {
  LOG(INFO) << "Accept clicked.";
  if (terminated() || !window_)
    return;
  if (installation_started_) {
    LOG(INFO) << "Installation already in progress.";
    return;
  }
  if (settings()->IsFetchingFolderDetails()) {
    LOG(INFO) << "Still waiting for status";
    accept_pending_ = true;
    return;
  }
  if (stage() == PROGRESS_STAGE_PACKAGE_READY) {
    LOG(INFO) << "Tracking data is ready for handling";
    StartTrackingDataActions();
  }
  GetAvroStatsSender()->Send(
      std::make_unique<SettingsAcceptedEvent>(settings()->GetSummary()));
  // The processor was checked when the wizard started.
  const std::string detail =
      GetUnsupportedSystemMessage(base::win::GetVersion(), true);
  if (!detail.empty()) {
    // The run's result says why it ended, should the user close the page.
    InstallerController::OnError(RESULT_GENERAL_ERROR, base::string16(),
                                 detail);
    window_->DisplayError(
        GetString(IDS_OLD_WINDOWS, GetString(IDS_GET_FULL_INSTALLER)), true,
        detail);
    return;
  }
  ObserveSettings(false);
  installation_started_ = true;
  if (pending_error_) {
    LOG(INFO) << "An error is pending. Show it first.";
    HandlePendingError();
    return;
  }
  // A try after an error starts a new backend, whose outcome is the run's.
  ResetOutcome();
  if (!StartBackendOrReport()) {
    HandlePendingError();
    return;
  }
  if (pending_ui_callback_) {
    LOG(INFO) << "Running pending fetcher callback.";
    std::move(pending_ui_callback_).Run(false);
  }
  if (fetch_failed_in_background_) {
    fetch_failed_in_background_ = false;
    if (package_fetcher()) {
      LOG(INFO) << "Restarting fetching after background tries failed.";
      SetStage(PROGRESS_STAGE_DOWNLOAD_ANNOUNCED);
      package_fetcher()->Restart();
    } else {
      // No fetcher to restart (its thread never started): the failure is
      // the run's now, instead of a backend that waits for a package that
      // never comes.
      NotifyPackageFetcherError(background_failure_kind_, background_failure_,
                                std::vector<FetchChunkStatistics>());
    }
  }
  if (window_)
    window_->ShowProgressPage();
}

void InstallerUIController::Cancel() {
  if (!settings()->GetFlag14()) {
    GetAvroStatsSender()->Send(std::make_unique<InstallationCancelledEvent>(1));
  }
  Terminate();
}

void InstallerUIController::Retry() {
  accept_pending_ = true;
  settings()->RefreshFolderDetails();
}

void InstallerUIController::ObtainFullPackage() {
  LOG(INFO) << "Obtaining full package";
  std::string url = GetNamedUrl("download_full_windows");
  if (GetChannelId() != 4) {
    url += base::StringPrintf("&product=%s%%20%s", GetProductName().c_str(),
                              GetChannelName().c_str());
  }
  const std::wstring wide_url = base::UTF8ToWide(url);
  Installation* installation = Installation::GetCurrent();
  if (installation && installation->IsDefaultHandlerFor(L"http")) {
    // The browser this installer failed to install or repair is the one
    // that would open the page.
    LOG(INFO) << "Downloading full package with IE";
    ShellOpen(L"%ProgramFiles%\\Internet Explorer\\iexplore.exe", wide_url);
  } else {
    LOG(INFO) << "Downloading full package with default browser";
    ShellOpen(wide_url, std::wstring());
  }
  GetAvroStatsSender()->Send(std::make_unique<InstallationCancelledEvent>(2));
  Terminate();
}

void InstallerUIController::ShellOpen(const std::wstring& file,
                                      const std::wstring& parameters) {
  SHELLEXECUTEINFOW info = {sizeof(info)};
  info.fMask = SEE_MASK_DOENVSUBST | SEE_MASK_FLAG_NO_UI;
  info.hwnd = window_ ? window_->GetWindowHandle() : nullptr;
  info.lpVerb = L"open";
  info.lpFile = file.c_str();
  info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (!::ShellExecuteExW(&info))
    PLOG(ERROR) << "Cannot open the full package's download page";
}

void InstallerUIController::NotifyPackageFetcherStatusChanged(Status status) {
  switch (status) {
    case STATUS_WAITING_TO_RETRY:
      SetStage(PROGRESS_STAGE_WAITING_TO_RETRY);
      break;
    case STATUS_METADATA_REQUESTED:
      LOG(INFO) << "Package will be downloaded.";
      download_announced_ = true;
      SetStage(PROGRESS_STAGE_DOWNLOAD_ANNOUNCED);
      break;
    case STATUS_DOWNLOADING:
      SetStage(PROGRESS_STAGE_DOWNLOADING);
      break;
    case STATUS_ADDITIONAL_FILES:
      SetStage(PROGRESS_STAGE_DOWNLOAD_FINISHED);
      break;
    default:
      break;
  }
}

void InstallerUIController::NotifyPackageReady(const base::FilePath& folder) {
  InstallerController::NotifyPackageReady(folder);
  LOG(INFO) << "Package fetched successfully.";
  SetStage(PROGRESS_STAGE_PACKAGE_READY);
  if (installation_started_) {
    LOG(INFO) << "Got tracking data from status.";
    StartTrackingDataActions();
  }
}

void InstallerUIController::NotifyPackageFetcherError(
    FailureKind kind,
    const std::string& description,
    const std::vector<FetchChunkStatistics>& details) {
  LOG(ERROR) << "Package fetcher failed.";
  if (package_fetcher() && package_fetcher()->Retry())
    return;
  fetch_failed_in_background_ = true;
  background_failure_kind_ = kind;
  background_failure_ = description;
  if (installation_started_) {
    LOG(INFO) << "Reporting fetcher error.";
    InstallerController::NotifyPackageFetcherError(kind, description, details);
    auto error = std::make_unique<PendingError>();
    error->string_id = kind == FAILURE_LOCAL ? IDS_FETCH_UNPACK_ERROR
                                             : IDS_FETCH_NETWORK_ERROR;
    error->detail = "Fetcher error: " + description;
    ReportError(std::move(error));
    return;
  }
  LOG(INFO) << "Exceeded maximum number of fetcher retries,"
            << " we won't retry until user decides to.";
}

void InstallerUIController::SetTotalProgress(uint32_t bytes) {
  notifier_->OnTotalSteps(static_cast<int>(bytes));
}

void InstallerUIController::SetCurrentProgress(uint32_t bytes) {
  notifier_->OnStepFinished(static_cast<int>(bytes));
}

void InstallerUIController::OnError(int code,
                                    const base::string16& path,
                                    const std::string& message) {
  InstallerController::OnError(code, path, message);
  if (terminated())
    return;
  auto error = std::make_unique<PendingError>();
  error->string_id = GetResultMessageId(static_cast<InstallerResult>(code));
  // A code without a text of its own still gets a page that says the run
  // failed.
  if (error->string_id == 0)
    error->string_id = IDS_INSTALL_ERROR;
  error->message = path;
  error->detail = message;
  ReportError(std::move(error));
}

void InstallerUIController::ReportError(std::unique_ptr<PendingError> error) {
  LOG(INFO) << "Reporting error " << error->string_id;
  pending_error_ = std::move(error);
  runner()->Stop();
}

void InstallerUIController::OnBackendProcessTerminated(int result) {
  LOG(INFO) << "Installer termination reported";
  InstallerController::OnBackendProcessTerminated(result);
  if (terminated()) {
    LOG(INFO) << "UI already terminated";
    return;
  }
  // Only the success the backend reported counts: a killed backend's exit
  // code may read as success too.
  if (this->result() == RESULT_SUCCESS) {
    LOG(INFO) << "Installer terminated successfully. Finishing.";
    Terminate();
    return;
  }
  if (!pending_error_) {
    int code = this->result();
    if (code == RESULT_NOT_FINISHED)
      code = IsUninstallRun() ? RESULT_UNINSTALL_ERROR : RESULT_GENERAL_ERROR;
    OnError(code, base::string16(),
            IsUninstallRun() ? "Unreported uninstaller error."
                             : "Unreported installer error.");
  }
  base::ThreadTaskRunnerHandle::Get()->PostDelayedTask(
      FROM_HERE,
      base::BindOnce(&InstallerUIController::HandlePendingError,
                     weak_factory_.GetWeakPtr()),
      base::TimeDelta::FromMilliseconds(kPendingErrorDelayMs));
}

void InstallerUIController::HandlePendingError() {
  if (!pending_error_ || terminated())
    return;
  LOG(INFO) << "Handling pending error";
  installation_started_ = false;
  settings()->SetEditable(true);
  ObserveSettings(true);
  if (pending_error_->string_id == IDS_ELEVATION_FAILED &&
      SwitchToCurrentUser()) {
    pending_error_.reset();
    Accept();
    return;
  }
  bool offer_full_package = false;
  if (error_shown_before_ && has_fetcher()) {
    offer_full_package = stage() < PROGRESS_STAGE_UNUSED || download_announced_;
  }
  error_shown_before_ = true;
  std::unique_ptr<PendingError> error = std::move(pending_error_);
  if (window_) {
    window_->DisplayError(GetString(error->string_id, error->message),
                          offer_full_package, error->detail);
  }
}

bool InstallerUIController::SwitchToCurrentUser() {
  Settings* run_settings = settings();
  if (run_settings->GetOperation() != OPERATION_INSTALL ||
      !run_settings->GetAllUsers()) {
    return false;
  }
  const base::FilePath folder = run_settings->GetInstallFolder();
  const bool default_folder =
      _wcsicmp(folder.value().c_str(),
               run_settings
                   ->GetDefaultInstallFolder(DEFAULT_FOLDER_STANDARD |
                                             DEFAULT_FOLDER_REGISTRY)
                   .value()
                   .c_str()) == 0;
  if (!default_folder && !run_settings->GetFolderDetails().HasWriteAccess())
    return false;
  LOG(INFO) << "Offering the user to switch to a Current User install";
  if (!run_settings->SetAllUsers(false))
    return false;
  if (default_folder) {
    const base::FilePath user_folder = run_settings->GetDefaultInstallFolder(
        DEFAULT_FOLDER_STANDARD | DEFAULT_FOLDER_REGISTRY);
    const base::FilePath existing = NearestExistingFolder(user_folder);
    if (!existing.empty() &&
        SecurityUtilsImpl::GetInstance()->HasAccess(
            existing.value(), SE_FILE_OBJECT, FILE_GENERIC_WRITE)) {
      run_settings->SetInstallFolder(user_folder);
    }
  }
  return true;
}

void InstallerUIController::OnPathChanged() {
  InstallerController::OnPathChanged();
  VLOG(2) << "New status obtained";
  if (terminated())
    return;
  if (stage() == PROGRESS_STAGE_INSTALLING && has_fetcher()) {
    LOG(INFO) << "Need to handle tracking data from new path";
    SetStage(PROGRESS_STAGE_PACKAGE_READY);
  }
  if (settings()->GetRunImmediately() || accept_pending_) {
    LOG(INFO) << "runimmediately set or Accept already clicked";
    accept_pending_ = false;
    base::ThreadTaskRunnerHandle::Get()->PostTask(
        FROM_HERE, base::BindOnce(&InstallerUIController::Accept,
                                  weak_factory_.GetWeakPtr()));
  }
  if (!initial_settings_reported_) {
    initial_settings_reported_ = true;
    GetAvroStatsSender()->Send(std::make_unique<InitialSettingsGatheredEvent>(
        settings()->GetSummary()));
  }
  if (GetInterprocessState()->IsFixDownloadableResources())
    StartPackageFetcher();
}

void InstallerUIController::SetStage(ProgressStage stage) {
  notifier_->OnEnteringPhase(static_cast<int>(stage));
}

ProgressStage InstallerUIController::stage() const {
  return static_cast<ProgressStage>(notifier_->GetCurrentPhase());
}

void InstallerUIController::ObserveSettings(bool observe) {
  if (observe == observing_settings_)
    return;
  observing_settings_ = observe;
  if (observe)
    settings()->AddObserver(this);
  else
    settings()->RemoveObserver(this);
}

}  // namespace installer
