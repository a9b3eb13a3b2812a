#include "desktop/windows/installer/installer.h"

#include <windows.h>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/location.h"
#include "base/logging.h"
#include "base/threading/thread_task_runner_handle.h"
#include "desktop/windows/installer/installer_observer.h"
#include "desktop/windows/installer/service/service_utils.h"
#include "desktop/windows/installer/settings.h"

namespace installer {
namespace {

const wchar_t kInterruptedEventName[] =
    L"KavorInstaller/InstallationInterrupted";
const wchar_t kPackageReadyEventName[] = L"KavorInstaller/PackageReady";

// The one step the stand-in run announces.
const char kStandInStepName[] = "install_not_available";

}  // namespace

Installer::Installer() = default;

Installer::~Installer() {
  if (running_)
    Cancel();
  package_ready_watcher_.StopWatching();
  interrupted_watcher_.StopWatching();
}

void Installer::AddObserver(InstallerObserver* observer) {
  observers_.AddObserver(observer);
}

void Installer::RemoveObserver(InstallerObserver* observer) {
  observers_.RemoveObserver(observer);
}

bool Installer::Run(Settings* settings) {
  LOG(INFO) << "Beginning installation";
  return base::ThreadTaskRunnerHandle::Get()->PostTask(
      FROM_HERE, base::BindOnce(&Installer::RunBody, weak_factory_.GetWeakPtr(),
                                settings));
}

void Installer::RunBody(Settings* settings) {
  running_ = true;
  install_folder_ = settings->GetInstallFolder();
  bool already_set = false;
  if (!OpenAndWatchEvent(
          kInterruptedEventName, "Event name for interrupted installation: ",
          "Failed to open a handle to the installation interrupted event",
          "Failed to watch the installation interrupted event",
          &interrupted_event_, &interrupted_watcher_, &already_set)) {
    return;
  }
  // A real run learns of an interrupt that came first from the watch, a
  // moment later, while its steps run; this run goes to its end in one go,
  // so it looks now, or it would end with its error instead of cancelled.
  if (already_set) {
    OnObjectSignaled(interrupted_event_.Get());
    return;
  }

  for (InstallerObserver& observer : observers_)
    observer.OnInstallFolderReady();

  if (base::CommandLine::ForCurrentProcess()->HasSwitch("wait-for-package")) {
    VLOG(2) << "Need to wait for package";
    LOG(INFO) << "Need to wait for actual package";
    if (!OpenAndWatchEvent(
            kPackageReadyEventName, "Event name for package_ready: ",
            "Failed to open a handle to the package ready event",
            "Failed to watch the package ready event", &package_ready_event_,
            &package_ready_watcher_, &already_set)) {
      return;
    }
    if (!already_set)
      return;  // Goes on in OnObjectSignaled.
    LOG(INFO) << "Package is ready";
  }
  ContinueAfterPackage();
}

bool Installer::OpenAndWatchEvent(const wchar_t* name,
                                  const char* log_label,
                                  const std::string& open_failure,
                                  const std::string& watch_failure,
                                  base::win::ScopedHandle* event,
                                  base::win::ObjectWatcher* watcher,
                                  bool* already_set) {
  base::string16 kernel_name =
      MakeKernelObjectName(name, install_folder_, true);
  VLOG(1) << log_label << kernel_name;
  event->Set(::OpenEventW(SYNCHRONIZE, FALSE, kernel_name.c_str()));
  if (!event->IsValid()) {
    ReportError(RESULT_GENERAL_ERROR, base::string16(), open_failure);
    return false;
  }
  *already_set = ::WaitForSingleObject(event->Get(), 0) == WAIT_OBJECT_0;
  if (*already_set)
    return true;
  if (!watcher->StartWatchingOnce(event->Get(), this)) {
    ReportError(RESULT_GENERAL_ERROR, base::string16(), watch_failure);
    return false;
  }
  return true;
}

void Installer::OnObjectSignaled(HANDLE object) {
  if (!running_)
    return;
  if (object == interrupted_event_.Get()) {
    LOG(INFO) << "Installation was interrupted";
    Cancel();
    return;
  }
  LOG(INFO) << "Package is ready";
  ContinueAfterPackage();
}

void Installer::ContinueAfterPackage() {
  for (InstallerObserver& observer : observers_)
    observer.OnEnteringPhase(7);
  for (InstallerObserver& observer : observers_)
    observer.OnTotalSteps(1);
  for (InstallerObserver& observer : observers_)
    observer.OnStepStarting(kStandInStepName);
  for (InstallerObserver& observer : observers_)
    observer.OnStepFinished(kStandInStepName, 0, 1);
  for (InstallerObserver& observer : observers_)
    observer.OnImportantEvent("file_copy_retry");
  for (InstallerObserver& observer : observers_)
    observer.OnStartingNewMainProcess(false);
  for (InstallerObserver& observer : observers_)
    observer.OnReturnedToPreviousMainProcess();
  ReportError(RESULT_GENERAL_ERROR, install_folder_.value(),
              "Installing is not available in this build of the installer");
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

void Installer::Cancel() {
  LOG(INFO) << "Installation cancelled";
  ReleaseResources();
  for (InstallerObserver& observer : observers_)
    observer.OnInstallationCancelled();
}

void Installer::ReleaseResources() {
  package_ready_watcher_.StopWatching();
  interrupted_watcher_.StopWatching();
  running_ = false;
}

}  // namespace installer
