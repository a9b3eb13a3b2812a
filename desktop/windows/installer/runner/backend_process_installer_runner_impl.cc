#include "desktop/windows/installer/runner/backend_process_installer_runner_impl.h"

#include <stdint.h>
#include <string.h>

#include <memory>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/time/time.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/installer_object_names.h"
#include "desktop/windows/installer/interprocess_state.h"
#include "desktop/windows/installer/ipc/installer_messages.h"
#include "desktop/windows/installer/package_fetcher/folder_preparer.h"
#include "desktop/windows/installer/service/json_installation_status_reader.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/steps/installer_step_scheduler.h"

namespace installer {
namespace {

// How long a backend whose run was interrupted waits for the front end to
// end before leaving the package folders to it. A front end ends within
// seconds of interrupting; one that stays (showing its result) removes them
// itself.
constexpr base::TimeDelta kFrontEndEndWait = base::TimeDelta::FromMinutes(1);

std::unique_ptr<InstallationStatusReader> MakeJsonStatusReader() {
  return std::make_unique<JsonInstallationStatusReader>();
}

}  // namespace

InstallerMutexKeeper::InstallerMutexKeeper()
    : base::SimpleThread("Installer mutex keeper") {}

InstallerMutexKeeper::~InstallerMutexKeeper() {
  End();
}

bool InstallerMutexKeeper::Begin(const base::FilePath& folder) {
  const base::string16 name =
      MakeKernelObjectName(kInstallerMutexName, folder, true);
  VLOG(1) << "Installer mutex name: " << name;
  mutex_.Set(::CreateMutexW(nullptr, FALSE, name.c_str()));
  stop_event_.Set(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!mutex_.IsValid() || !stop_event_.IsValid()) {
    PLOG(ERROR) << "Cannot keep the installer mutex";
    return false;
  }
  Start();
  return HasBeenStarted();
}

void InstallerMutexKeeper::End() {
  if (!HasBeenStarted() || HasBeenJoined())
    return;
  ::SetEvent(stop_event_.Get());
  Join();
}

void InstallerMutexKeeper::Run() {
  // The stop event comes first: when both are signalled the wait takes the
  // lowest, and a keeper told to end must not take the mutex any more.
  const HANDLE handles[] = {stop_event_.Get(), mutex_.Get()};
  const DWORD wait = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
  if (wait != WAIT_OBJECT_0 + 1 && wait != WAIT_ABANDONED_0 + 1)
    return;
  VLOG(1) << "The backend holds the installer mutex";
  ::WaitForSingleObject(stop_event_.Get(), INFINITE);
  ::ReleaseMutex(mutex_.Get());
}

bool ParseInitialProcessHandle(const std::string& text, HANDLE* handle) {
  std::vector<uint8_t> bytes;
  if (!base::HexStringToBytes(text, &bytes))
    return false;
  intptr_t value = 0;
  if (bytes.size() == sizeof(int64_t)) {
    int64_t wide = 0;
    memcpy(&wide, bytes.data(), sizeof(wide));
    value = static_cast<intptr_t>(wide);
  } else if (bytes.size() == sizeof(int32_t)) {
    int32_t narrow = 0;
    memcpy(&narrow, bytes.data(), sizeof(narrow));
    value = narrow;
  } else {
    return false;
  }
  *handle = reinterpret_cast<HANDLE>(value);
  return true;
}

BackendProcessInstallerRunnerImpl::BackendProcessInstallerRunnerImpl()
    : installer_(std::make_unique<Installer>(
          std::make_unique<InstallerStepSchedulerImpl>(),
          base::BindRepeating(&MakeJsonStatusReader))) {}

BackendProcessInstallerRunnerImpl::~BackendProcessInstallerRunnerImpl() {
  if (initial_process_.IsValid()) {
    initial_process_watcher_.StopWatching();
    initial_process_.Close();
  }
  installer_.reset();
  mutex_keeper_.End();
  // The sender goes next: its Close drops what was not written yet.
}

InstallerResult BackendProcessInstallerRunnerImpl::Run(Settings* settings) {
  settings_ = settings;
  InstallerResult result =
      WatchInitialProcess(*base::CommandLine::ForCurrentProcess());
  if (result != RESULT_SUCCESS)
    return result;

  installer_->AddObserver(this);
  installer_->SetFrontEndProcess(initial_process_.Get());
  if (settings_->IsFetchingFolderDetails()) {
    VLOG(1) << "Waiting for settings to be ready";
    settings_->AddObserver(this);
  } else {
    VLOG(1) << "Settings already obtained. Running.";
    Start();
  }
  run_loop_.Run();
  LOG(INFO) << "Installer backend exiting";
  installer_->RemoveObserver(this);
  settings_->RemoveObserver(this);
  result =
      start_failure_ != RESULT_SUCCESS ? start_failure_ : installer_->result();
  const bool interrupted = installer_->interrupted_with_package();
  // What the run did becomes final, or is taken back, before the folder is
  // let go.
  installer_.reset();
  RemovePackageFoldersOfEndedFrontEnd(interrupted);
  mutex_keeper_.End();
  return result;
}

void BackendProcessInstallerRunnerImpl::RemovePackageFoldersOfEndedFrontEnd(
    bool interrupted) {
  if (!initial_process_.IsValid())
    return;
  // A front end that interrupted the run while this process had the
  // package ends without waiting for it, and its own removal of the package
  // folder fails while this process still reads the archive. Whichever of
  // the two ends last removes the folder.
  if (interrupted) {
    VLOG(1) << "Waiting for the interrupting front end to end";
    ::WaitForSingleObject(initial_process_.Get(),
                          static_cast<DWORD>(kFrontEndEndWait.InMilliseconds()));
  }
  if (::WaitForSingleObject(initial_process_.Get(), 0) != WAIT_OBJECT_0)
    return;  // The front end removes its folders itself when it ends.
  InterprocessState* state = GetInterprocessState();
  if (!state->IsPackageDirKnown())
    return;
  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();
  // Only the folders this session's front end made carry its record: a
  // package folder given by hand, or one of another installation, stays.
  RemovePackageFoldersOfSession(
      command_line.GetSwitchValuePath("package-dir"),
      command_line.GetSwitchValuePath("package-dir-prefix"),
      state->GetSessionGuid());
}

InstallerResult BackendProcessInstallerRunnerImpl::WatchInitialProcess(
    const base::CommandLine& command_line) {
  if (command_line.HasSwitch("initial-proc-handle")) {
    std::string text = command_line.GetSwitchValueASCII("initial-proc-handle");
    VLOG(1) << "Using initial process handle " << text;
    HANDLE handle = nullptr;
    if (!ParseInitialProcessHandle(text, &handle)) {
      LOG(ERROR) << "Failed parsing initial process handle";
      return RESULT_BAD_INITIAL_PROCESS_HANDLE;
    }
    initial_process_.Set(handle);
  } else if (command_line.HasSwitch("initial-pid")) {
    std::string text = command_line.GetSwitchValueASCII("initial-pid");
    VLOG(1) << "Using initial pid " << text;
    unsigned int pid = 0;
    if (!base::StringToUint(text, &pid)) {
      LOG(ERROR) << "Failed parsing initial pid";
      return RESULT_BAD_INITIAL_PID;
    }
    initial_process_.Set(::OpenProcess(SYNCHRONIZE, FALSE, pid));
    if (!initial_process_.IsValid()) {
      LOG(ERROR) << "Failed opening initial process";
      return RESULT_INITIAL_PROCESS_FAILED;
    }
  } else if (command_line.HasSwitch("register-kavor-as-protocol-handler")) {
    // Runs without a front end: nothing to watch.
    return RESULT_SUCCESS;
  } else {
    LOG(ERROR) << "Missing information about initial process";
    return RESULT_MISSING_INITIAL_PROCESS;
  }
  if (!initial_process_watcher_.StartWatchingOnce(initial_process_.Get(),
                                                  this)) {
    LOG(ERROR) << "Failed watching initial process";
    // A handle value from the command line may name nothing at all, and
    // closing a non-handle stops the process: leave it be.
    if (command_line.HasSwitch("initial-proc-handle"))
      initial_process_.Take();
    return RESULT_INITIAL_PROCESS_FAILED;
  }
  return RESULT_SUCCESS;
}

void BackendProcessInstallerRunnerImpl::Start() {
  VLOG(2) << "Starting installation";
  // Once the settings name the folder, before the run touches it: from now
  // on the folder stays this backend's until it ends, whenever its front
  // end goes.
  if (!mutex_keeper_.Begin(settings_->GetInstallFolder()))
    LOG(ERROR) << "The install folder is not kept for this backend";
  ipc_sender_.Connect(kMailslotPrefix + settings_->GetInstallFolder().value());
  if (!installer_->Run(settings_)) {
    LOG(ERROR) << "Failed to start the installer";
    InstallerResult code = RESULT_GENERAL_ERROR;
    std::string message;
    std::wstring path;
    GetLastInstallerError(&code, &message, &path);
    if (code == RESULT_SUCCESS)
      code = RESULT_GENERAL_ERROR;
    start_failure_ = code;
    OnError(code, path, message);
  }
}

void BackendProcessInstallerRunnerImpl::OnPathChanged() {
  VLOG(1) << "Settings obtained. Running.";
  settings_->RemoveObserver(this);
  Start();
}

void BackendProcessInstallerRunnerImpl::OnInstallFolderReady() {
  ipc_sender_.Send(CreateInstallFolderReadyMessage());
}

void BackendProcessInstallerRunnerImpl::OnStartingNewMainProcess(
    bool elevated) {
  ipc_sender_.Send(CreateStartingNewMainProcessMessage(elevated));
}

void BackendProcessInstallerRunnerImpl::OnEnteringPhase(int phase) {
  ipc_sender_.Send(CreateEnteringPhaseMessage(phase));
}

void BackendProcessInstallerRunnerImpl::OnReturnedToPreviousMainProcess() {
  ipc_sender_.Send(CreateReturnedToPreviousMainProcessMessage());
}

void BackendProcessInstallerRunnerImpl::OnTotalSteps(int total) {
  ipc_sender_.Send(CreateTotalStepsMessage(total));
}

void BackendProcessInstallerRunnerImpl::OnStepStarting(
    const std::string& name) {
  ipc_sender_.Send(CreateStepStartingMessage(name));
}

void BackendProcessInstallerRunnerImpl::OnStepFinished(const std::string& name,
                                                       int attempt,
                                                       int finished_count) {
  ipc_sender_.Send(CreateStepFinishedMessage(name, attempt, finished_count));
}

void BackendProcessInstallerRunnerImpl::OnImportantEvent(
    const std::string& name) {
  ipc_sender_.Send(CreateImportantEventMessage(name));
}

void BackendProcessInstallerRunnerImpl::OnError(int code,
                                                const base::string16& path,
                                                const std::string& message) {
  ipc_sender_.Send(CreateErrorMessage(code, path, message));
  run_loop_.Quit();
}

void BackendProcessInstallerRunnerImpl::OnSuccess() {
  ipc_sender_.Send(CreateSuccessMessage());
  run_loop_.Quit();
}

void BackendProcessInstallerRunnerImpl::OnInstallationCancelled() {
  VLOG(1) << "Process terminating.";
  run_loop_.Quit();
}

void BackendProcessInstallerRunnerImpl::OnObjectSignaled(HANDLE object) {
  VLOG(1) << "Installer UI process ended";
  run_loop_.Quit();
}

}  // namespace installer
