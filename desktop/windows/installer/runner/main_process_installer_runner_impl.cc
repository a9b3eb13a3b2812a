#include "desktop/windows/installer/runner/main_process_installer_runner_impl.h"

#include <string>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/logging.h"
#include "base/process/launch.h"
#include "base/rand_util.h"
#include "base/strings/string16.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/stringprintf.h"
#include "base/synchronization/lock.h"
#include "crash/crash_reporter.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/common/installer_result.h"
#include "desktop/windows/installer/common/process_runner.h"
#include "desktop/windows/installer/installer_object_names.h"
#include "desktop/windows/installer/installer_observer.h"
#include "desktop/windows/installer/installer_utils.h"
#include "desktop/windows/installer/interprocess_state.h"
#include "desktop/windows/installer/ipc/installer_messages.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/settings.h"

namespace installer {

namespace {

// The datagram the runner sends itself once the backend has ended; no
// installer message starts with this text. Any local process may write into
// the mailslot, so the marker also carries a token known only to this
// runner: a forged marker would report the end before the backend's last
// messages.
const char kEndMarkerSignature[] = ":Installer backend ended:";
// Far longer than the reader's polling ever takes to bring a datagram in.
constexpr base::TimeDelta kEndMarkerTimeout = base::TimeDelta::FromSeconds(5);

// A manual-reset event, not signalled, in the global namespace of the
// folder's objects. Only the holder of the folder's mutex makes them, but an
// event of an earlier run lives on, still signalled, for as long as any
// process of that run keeps a handle: it is reset, or the new backend would
// take the old run's interruption or package for its own.
base::win::ScopedHandle CreateFolderEvent(const base::string16& name) {
  base::win::ScopedHandle event(
      ::CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
  if (event.IsValid() && !::ResetEvent(event.Get()))
    event.Close();
  return event;
}

}  // namespace

MainProcessInstallerRunnerImpl::MainProcessInstallerRunnerImpl(
    InstallerProgressNotifier* notifier)
    : notifier_(notifier), receiver_(this) {
  base::RandBytes(&end_marker_token_, sizeof(end_marker_token_));
}

MainProcessInstallerRunnerImpl::~MainProcessInstallerRunnerImpl() {
  Stop();
  // The backend goes on; only its end is no longer of interest.
  if (backend_process_.IsValid())
    watcher_.StopWatching();
}

int MainProcessInstallerRunnerImpl::Start(Settings* settings) {
  if (settings_ == settings)
    LOG(INFO) << "Duplicate installation attempt detected";
  LOG(INFO) << "Beginning installation";
  // One backend at a time, on complete settings. After Stop a new run may
  // start (the wizard's retry after an error) once the stopped backend has
  // ended: until then it still holds the folder.
  const char* refusal = nullptr;
  if (backend_started_ && !settings_)
    refusal = "The stopped installation is still ending; no backend is started";
  else if (settings_)
    refusal = "An installation is already under way";
  else if (settings->IsFetchingFolderDetails())
    refusal = "The install folder is still being examined";
  if (refusal) {
    LOG(ERROR) << refusal;
    SetLastInstallerError(RESULT_GENERAL_ERROR, refusal);
    return RESULT_GENERAL_ERROR;
  }

  if (!ValidateSettings(settings)) {
    // Not every invalid state leaves a code behind; 0 would read as
    // "started".
    AddLastInstallerErrorContext("The settings are not valid",
                                 GetLastInstallerErrorCode() == RESULT_SUCCESS
                                     ? RESULT_GENERAL_ERROR
                                     : RESULT_SUCCESS);
    return GetLastInstallerErrorCode();
  }
  settings->SetEditable(false);
  settings_ = settings;
  return StartBackend();
}

int MainProcessInstallerRunnerImpl::StartBackend() {
  const base::FilePath folder = settings_->GetInstallFolder();

  const base::string16 mutex_name =
      MakeKernelObjectName(kInstallerMutexName, folder, true);
  VLOG(1) << "Installer mutex name: " << mutex_name;
  // Inheritable: the backend holds it open for as long as it runs.
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  mutex_.Set(::CreateMutexW(&inheritable, FALSE, mutex_name.c_str()));
  if (!mutex_.IsValid()) {
    SetLastInstallerError(RESULT_MUTEX_CREATION_FAILED,
                          "Could not create installer mutex");
    return RESULT_MUTEX_CREATION_FAILED;
  }
  const DWORD wait = ::WaitForSingleObject(mutex_.Get(), 0);
  // An abandoned mutex belonged to an installer that died: ours now. A
  // backend holds the mutex itself once its front end is gone, so an
  // abandoned one never hides a backend still at work.
  if (wait == WAIT_ABANDONED)
    LOG(INFO) << "Taking over the installer mutex of an installer that ended";
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
    mutex_.Close();
    SetLastInstallerError(RESULT_MUTEX_BUSY,
                          "Could not acquire installer mutex");
    return RESULT_MUTEX_BUSY;
  }

  const base::string16 mailslot_name = kMailslotPrefix + folder.value();
  VLOG(1) << "Installer mailslot name: " << mailslot_name;
  if (!receiver_.Connect(mailslot_name)) {
    SetLastInstallerError(RESULT_GENERAL_ERROR,
                          "Could not connect to mailslot");
    return RESULT_GENERAL_ERROR;
  }
  receiving_ = true;

  base::CommandLine command_line = settings_->AppendToCommandLine(
      *base::CommandLine::ForCurrentProcess(), false);
  command_line.AppendSwitchPath("server-tracking-data",
                                base::FilePath(L"server_tracking_data"));
  command_line.AppendSwitchASCII("initial-pid",
                                 base::UintToString(::GetCurrentProcessId()));
  command_line.AppendSwitchASCII(
      "crash-reporter-pid",
      base::StringPrintf(
          "%ld", crash_reporter::InstallerCrashReporterClient::GetInstance()
                     ->crash_reporter_pid()));

  const base::string16 interrupted_name =
      MakeKernelObjectName(kInterruptedEventName, folder, true);
  VLOG(1) << "Event name for interrupted installation: " << interrupted_name;
  interrupted_event_ = CreateFolderEvent(interrupted_name);
  if (!interrupted_event_.IsValid()) {
    SetLastInstallerError(RESULT_GENERAL_ERROR,
                          "Could not create installation interruption event");
    return RESULT_GENERAL_ERROR;
  }

  command_line.SetProgram(GetOwnProgram());
  GetInterprocessState()->AppendToCommandLine(&command_line);

  if (!package_available_) {
    const base::string16 package_ready_name =
        MakeKernelObjectName(kPackageReadyEventName, folder, true);
    VLOG(1) << "Event name for package_ready: " << package_ready_name;
    package_ready_event_ = CreateFolderEvent(package_ready_name);
    if (!package_ready_event_.IsValid()) {
      SetLastInstallerError(RESULT_GENERAL_ERROR,
                            "Package ready event invalid");
      AddLastInstallerErrorContext("Cannot create the package ready event");
      return GetLastInstallerErrorCode();
    }
    command_line.AppendSwitch("wait-for-package");
  } else {
    VLOG(1) << "Package is already available";
  }

  if (!assistant_installer_.empty()) {
    command_line.AppendSwitchNative(
        "components", L"assistant:" + assistant_installer_.BaseName().value());
  }

  {
    // No other child may be started while the duplicate below is
    // inheritable: it would get a handle on this process too.
    base::AutoLock lock(*GetProcessLaunchLock());
    HANDLE own_handle = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(),
                           ::GetCurrentProcess(), &own_handle, SYNCHRONIZE,
                           TRUE, 0)) {
      SetLastInstallerError(RESULT_GENERAL_ERROR,
                            "Could not duplicate own process handle");
      return RESULT_GENERAL_ERROR;
    }
    // The handle value's bytes as they lie in memory; the backend reads
    // them back the same way.
    command_line.AppendSwitchASCII(
        "initial-proc-handle",
        base::HexEncode(&own_handle, sizeof(own_handle)));
    LOG(INFO) << "launching installer backend: "
              << command_line.GetCommandLineString();
    // The backend gets this process's handle and the folder's mutex, and
    // nothing else this process may hold open meanwhile (the downloads'
    // sockets, the statistics connection, files).
    base::LaunchOptions options;
    options.handles_to_inherit.push_back(own_handle);
    if (mutex_.IsValid())
      options.handles_to_inherit.push_back(mutex_.Get());
    backend_process_ = base::LaunchProcess(command_line, options);
    const DWORD launch_error = ::GetLastError();
    ::CloseHandle(own_handle);
    if (!backend_process_.IsValid()) {
      LOG(ERROR) << "Cannot start " << command_line.GetProgram().value() << ": "
                 << base::logging::SystemErrorCodeToString(launch_error);
    }
  }
  if (!backend_process_.IsValid()) {
    SetLastInstallerError(RESULT_GENERAL_ERROR,
                          "Could not launch installer backend process");
    return RESULT_GENERAL_ERROR;
  }

  backend_started_ = true;
  ::AllowSetForegroundWindow(backend_process_.Pid());
  VLOG(2) << "Installer backend started.";
  if (!watcher_.StartWatchingOnce(backend_process_.Handle(), this)) {
    Stop();
    SetLastInstallerError(RESULT_GENERAL_ERROR,
                          "Could not monitor the installer process handle");
    return RESULT_GENERAL_ERROR;
  }
  return RESULT_SUCCESS;
}

void MainProcessInstallerRunnerImpl::SetPaths(
    const base::FilePath& package_location,
    const base::FilePath& assistant_installer) {
  package_location_ = package_location;
  assistant_installer_ = assistant_installer;
}

void MainProcessInstallerRunnerImpl::Stop() {
  LOG(INFO) << "Stopping installer backend (if running)";
  if (backend_started_) {
    ::SetEvent(interrupted_event_.Get());
    VLOG(1) << "Sending installation interrupted event";
  }
  if (mutex_.IsValid()) {
    VLOG(1) << "Letting go of the installer mutex";
    // A running backend keeps the folder: the mutex stays owned until this
    // thread ends, so no other installer takes the folder meanwhile.
    if (!backend_started_)
      ::ReleaseMutex(mutex_.Get());
    mutex_.Close();
  }
  package_ready_event_.Close();
  interrupted_event_.Close();
  receiver_.Close();
  receiving_ = false;
  settings_ = nullptr;
  // An end marker on its way can't come back through the closed receiver.
  // Whatever the receiver delivered is already queued on this thread; the
  // end is reported right behind it rather than at the time-out.
  if (end_marker_timer_.IsRunning()) {
    end_marker_timer_.Start(
        FROM_HERE, base::TimeDelta(),
        base::BindRepeating(&MainProcessInstallerRunnerImpl::ReportBackendEnd,
                            base::Unretained(this)));
  }
}

void MainProcessInstallerRunnerImpl::OnPackageReady() {
  if (package_available_)
    return;
  VLOG(2) << "Recording that we have the package";
  package_available_ = true;
  if (backend_started_) {
    LOG(INFO) << "Informing the installer backend that the package is ready";
    ::SetEvent(package_ready_event_.Get());
  }
}

void MainProcessInstallerRunnerImpl::AddObserver(InstallerObserver* observer) {
  observers_.AddObserver(observer);
}

void MainProcessInstallerRunnerImpl::RemoveObserver(
    InstallerObserver* observer) {
  observers_.RemoveObserver(observer);
}

void MainProcessInstallerRunnerImpl::OnObjectSignaled(HANDLE object) {
  VLOG(1) << "Installer backend process signaled";
  backend_result_ = ProcessExitCodeToResult(backend_process_.Handle());
  // The backend's last messages were in the mailslot before it ended, but
  // the reader may not have taken them out yet (it polls under Wine). A
  // datagram written now comes back after them: the end is reported then,
  // so that the observers hear the outcome before the end.
  if (receiving_ && WriteEndMarker()) {
    end_marker_timer_.Start(
        FROM_HERE, kEndMarkerTimeout,
        base::BindRepeating(&MainProcessInstallerRunnerImpl::ReportBackendEnd,
                            base::Unretained(this)));
    return;
  }
  ReportBackendEnd();
}

void MainProcessInstallerRunnerImpl::OnMessageReceived(
    const base::Pickle& message) {
  if (IsEndMarker(message)) {
    if (end_marker_timer_.IsRunning()) {
      end_marker_timer_.Stop();
      ReportBackendEnd();
    }
    return;
  }
  DispatchInstallerMessage(message, &observers_, notifier_);
}

bool MainProcessInstallerRunnerImpl::WriteEndMarker() {
  const base::string16 path = base::string16(L"\\\\.\\mailslot\\") +
                              kMailslotPrefix +
                              settings_->GetInstallFolder().value();
  base::win::ScopedHandle mailslot(::CreateFileW(
      path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!mailslot.IsValid())
    return false;
  base::Pickle marker;
  marker.WriteString(kEndMarkerSignature);
  marker.WriteUInt64(end_marker_token_);
  DWORD written = 0;
  return ::WriteFile(mailslot.Get(), marker.data(),
                     static_cast<DWORD>(marker.size()), &written, nullptr) &&
         written == marker.size();
}

bool MainProcessInstallerRunnerImpl::IsEndMarker(
    const base::Pickle& message) const {
  base::PickleIterator iterator(message);
  std::string signature;
  uint64_t token = 0;
  return iterator.ReadString(&signature) && signature == kEndMarkerSignature &&
         iterator.ReadUInt64(&token) && token == end_marker_token_;
}

void MainProcessInstallerRunnerImpl::ReportBackendEnd() {
  base::WeakPtr<MainProcessInstallerRunnerImpl> self =
      weak_factory_.GetWeakPtr();
  for (InstallerObserver& observer : observers_)
    observer.OnBackendProcessTerminated(backend_result_);
  if (self)
    backend_started_ = false;
}

}  // namespace installer
