#ifndef DESKTOP_WINDOWS_INSTALLER_IPC_INSTALLER_MESSAGE_RECORDER_H_
#define DESKTOP_WINDOWS_INSTALLER_IPC_INSTALLER_MESSAGE_RECORDER_H_

// Tests only: what a received message turned into, as text.

#include <string>
#include <vector>

#include "base/observer_list.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/thread_safe_log.h"
#include "desktop/windows/installer/installer_observer.h"
#include "desktop/windows/installer/ipc/installer_messages.h"
#include "desktop/windows/installer/runner/installer_progress_notifier.h"

namespace installer {

// Dispatches messages to one observer and one progress notifier that write
// down every call ("OnStepStarting(copy)", "notifier.OnTotalSteps(3)"). The
// calls may be read from any thread.
class MessageRecorder : public InstallerObserver {
 public:
  MessageRecorder() : notifier_(&log_) { observers_.AddObserver(this); }
  ~MessageRecorder() override { observers_.RemoveObserver(this); }

  void Dispatch(const base::Pickle& message) {
    DispatchInstallerMessage(message, &observers_, &notifier_);
  }
  std::vector<std::string> calls() { return log_.entries(); }

  // InstallerObserver:
  void OnInstallFolderReady() override { log_.Add("OnInstallFolderReady()"); }
  void OnStartingNewMainProcess(bool elevated) override {
    log_.Add("OnStartingNewMainProcess(" + std::to_string(elevated) + ")");
  }
  void OnEnteringPhase(int phase) override {
    log_.Add("OnEnteringPhase(" + std::to_string(phase) + ")");
  }
  void OnReturnedToPreviousMainProcess() override {
    log_.Add("OnReturnedToPreviousMainProcess()");
  }
  void OnTotalSteps(int total) override {
    log_.Add("OnTotalSteps(" + std::to_string(total) + ")");
  }
  void OnStepStarting(const std::string& name) override {
    log_.Add("OnStepStarting(" + name + ")");
  }
  void OnStepFinished(const std::string& name,
                      int attempt,
                      int finished_count) override {
    log_.Add("OnStepFinished(" + name + "," + std::to_string(attempt) + "," +
             std::to_string(finished_count) + ")");
  }
  void OnImportantEvent(const std::string& name) override {
    log_.Add("OnImportantEvent(" + name + ")");
  }
  void OnError(int code,
               const base::string16& path,
               const std::string& message) override {
    log_.Add("OnError(" + std::to_string(code) + "," + base::UTF16ToUTF8(path) +
             "," + message + ")");
  }
  void OnSuccess() override { log_.Add("OnSuccess()"); }

 private:
  class Notifier : public InstallerProgressNotifier {
   public:
    explicit Notifier(base::ThreadSafeLog* log) : log_(log) {}
    void OnEnteringPhase(int phase) override {
      log_->Add("notifier.OnEnteringPhase(" + std::to_string(phase) + ")");
    }
    void OnTotalSteps(int total) override {
      log_->Add("notifier.OnTotalSteps(" + std::to_string(total) + ")");
    }
    void OnStepFinished(int finished_count) override {
      log_->Add("notifier.OnStepFinished(" + std::to_string(finished_count) +
                ")");
    }

   private:
    base::ThreadSafeLog* const log_;
  };

  base::ThreadSafeLog log_;
  Notifier notifier_;
  base::ObserverList<InstallerObserver> observers_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_IPC_INSTALLER_MESSAGE_RECORDER_H_
