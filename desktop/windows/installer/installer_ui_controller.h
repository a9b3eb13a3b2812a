#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_UI_CONTROLLER_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_UI_CONTROLLER_H_

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "base/callback.h"
#include "base/macros.h"
#include "base/memory/weak_ptr.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/installer/installer_controller.h"
#include "desktop/windows/installer/runner/installer_progress_notifier.h"
#include "desktop/windows/installer/ui/installer_window.h"
#include "desktop/windows/installer/ui/progress_calculator.h"

namespace installer {

class ProgressCalculatorImpl;

// The name of the lock file in the temporary folder that tells which
// thread runs this user's wizard.
extern const wchar_t kInstallerUiLockFileName[];

// The front end of the interactive install: the wizard window on top of
// the common controller. It keeps one wizard per user, turns the fetcher's
// and the backend's events into progress stages and pages, and acts on the
// user's choices. UI thread only.
class InstallerUIController : public InstallerController,
                              public InstallerWindowDelegate {
 public:
  // |notifier| must outlive the controller; the controller owns |runner|
  // and |calculator| (which observes both).
  InstallerUIController(std::unique_ptr<MainProcessInstallerRunner> runner,
                        std::unique_ptr<ProgressCalculatorImpl> calculator,
                        InstallerProgressNotifier* notifier,
                        Settings* settings,
                        std::unique_ptr<ProcessRunner> process_runner);
  ~InstallerUIController() override;

  // InstallerWindowDelegate:
  void Accept() override;
  void Cancel() override;
  void Retry() override;
  void ObtainFullPackage() override;

  // InstallerControllerInterface:
  void RunUICallbackAndPostReply(
      UICallback ui_callback,
      base::scoped_refptr<base::SingleThreadTaskRunner> reply_runner,
      Reply reply) override;
  // RESULT_ALREADY_RUNNING when another wizard of this user is running; it
  // is brought to the front instead.
  int Start(PayloadManager* payload_manager,
            const base::FilePath& download_folder,
            base::OnceClosure quit_closure) override;
  void Terminate() override;
  void OnTrackingDataActionsDone() override;

  // PackageFetcherDelegate:
  void NotifyPackageFetcherStatusChanged(Status status) override;
  void NotifyPackageReady(const base::FilePath& folder) override;
  void NotifyPackageFetcherError(
      FailureKind kind,
      const std::string& description,
      const std::vector<FetchChunkStatistics>& details) override;
  void SetTotalProgress(uint32_t bytes) override;
  void SetCurrentProgress(uint32_t bytes) override;

  // InstallerObserver:
  void OnError(int code,
               const base::string16& path,
               const std::string& message) override;
  void OnBackendProcessTerminated(int result) override;

  // SettingsObserver:
  void OnPathChanged() override;

  // The delay between the backend's end and the error page, which lets a
  // last message of the backend arrive.
  static const int kPendingErrorDelayMs;

 protected:
  // Makes the wizard (CreateWindow is a Windows macro); tests give their
  // own window.
  virtual std::unique_ptr<InstallerWindow> MakeWindow();
  // Opens |file| (a URL or a program) with |parameters| through the shell;
  // tests record it instead.
  virtual void ShellOpen(const std::wstring& file,
                         const std::wstring& parameters);
  virtual bool HasSse2();

 private:
  struct PendingError {
    uint32_t string_id = 0;
    std::wstring message;
    std::string detail;
  };

  // Whether another wizard of this user holds the lock; if so, its window
  // has been brought to the front.
  bool TakeUiLock();
  void StartOnUiThread();
  void SetStage(ProgressStage stage);
  ProgressStage stage() const;
  void ObserveSettings(bool observe);
  void ReportError(std::unique_ptr<PendingError> error);
  void HandlePendingError();
  // The elevation the all-users install needed was refused: go on for the
  // current user instead, when that can work. True when it does.
  bool SwitchToCurrentUser();
  // With |cancelled|, or once the wizard is gone, the request is answered
  // as cancelled without running it.
  void DoRunUICallbackAndPostReply(
      UICallback ui_callback,
      base::scoped_refptr<base::SingleThreadTaskRunner> reply_runner,
      Reply reply,
      bool cancelled);

  InstallerProgressNotifier* const notifier_;
  std::unique_ptr<ProgressCalculatorImpl> calculator_;
  std::unique_ptr<InstallerWindow> window_;
  // A stored fetcher request; run with true, it is answered as cancelled.
  base::OnceCallback<void(bool cancelled)> pending_ui_callback_;
  base::win::ScopedHandle ui_lock_file_;
  std::unique_ptr<PendingError> pending_error_;
  bool installation_started_ = false;
  bool error_shown_before_ = false;
  bool accept_pending_ = false;
  bool fetch_failed_in_background_ = false;
  // The last failure the fetcher gave up on, for a run where nothing can
  // fetch again.
  FailureKind background_failure_kind_ = FAILURE_NETWORK;
  std::string background_failure_;
  bool download_announced_ = false;
  bool observing_settings_ = false;
  bool observing_runner_ = false;
  bool initial_settings_reported_ = false;

  base::WeakPtrFactory<InstallerUIController> weak_factory_{this};

  DISALLOW_COPY_AND_ASSIGN(InstallerUIController);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_UI_CONTROLLER_H_
