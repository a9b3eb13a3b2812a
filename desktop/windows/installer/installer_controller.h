#ifndef DESKTOP_WINDOWS_INSTALLER_INSTALLER_CONTROLLER_H_
#define DESKTOP_WINDOWS_INSTALLER_INSTALLER_CONTROLLER_H_

#include <memory>
#include <string>
#include <vector>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/memory/weak_ptr.h"
#include "desktop/windows/installer/avro_stats/avro_events.h"
#include "desktop/windows/installer/common/process_runner.h"
#include "desktop/windows/installer/installer_observer.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"
#include "desktop/windows/installer/settings.h"
#include "desktop/windows/installer/wininet/wininet_impl.h"

namespace base {
class Thread;
}

namespace installer {

class MainProcessInstallerRunner;
class PackageFetchSequencer;
class PayloadManager;
class PrefDefaultOverridesFetcher;

// What RunInstaller sees of a front end: it starts the controller and runs
// the main loop until the controller's quit closure ends it.
class InstallerControllerInterface : public UICallbackRunner {
 public:
  ~InstallerControllerInterface() override = default;
  // 0: go on running the loop; else the run's result, the loop is not run.
  virtual int Start(PayloadManager* payload_manager,
                    const base::FilePath& download_folder,
                    base::OnceClosure quit_closure) = 0;
  virtual void Terminate() = 0;
  virtual void OnTrackingDataActionsDone() = 0;
};

// The common part of the front-end controllers: joins the package fetcher,
// the backend (through the main-process runner) and the settings, keeps the
// run's result and sends the controller's statistics.
class InstallerController : public InstallerControllerInterface,
                            public PackageFetcherDelegate,
                            public InstallerObserver,
                            public SettingsObserver {
 public:
  // |process_runner| may be null; without one the controller never
  // relaunches.
  InstallerController(std::unique_ptr<MainProcessInstallerRunner> runner,
                      Settings* settings,
                      std::unique_ptr<ProcessRunner> process_runner);
  ~InstallerController() override;

  // InstallerControllerInterface:
  int Start(PayloadManager* payload_manager,
            const base::FilePath& download_folder,
            base::OnceClosure quit_closure) override;
  void Terminate() override;
  void OnTrackingDataActionsDone() override;

  // PackageFetcherDelegate:
  void NotifyPackageFetcherStatusChanged(Status status) override {}
  void NotifyPackageReady(const base::FilePath& folder) override;
  void NotifyPackageFetcherError(
      FailureKind kind,
      const std::string& description,
      const std::vector<FetchChunkStatistics>& details) override;
  void SetTotalProgress(uint32_t bytes) override {}
  void SetCurrentProgress(uint32_t bytes) override {}
  void NotifyStalled() override {}

  // InstallerObserver:
  void OnStepStarting(const std::string& name) override;
  void OnStepFinished(const std::string& name,
                      int attempt,
                      int finished_count) override;
  void OnError(int code,
               const base::string16& path,
               const std::string& message) override;
  void OnSuccess() override;
  void OnBackendProcessTerminated(int result) override;

  // SettingsObserver:
  void OnSettingsChanged() override;
  void OnLanguageChanged() override;
  void OnPathChanged() override;

  // The run's result: an InstallerResult, RESULT_NOT_FINISHED until an
  // outcome is known.
  int result() const { return result_; }
  bool terminated() const { return terminated_; }

 protected:
  int Initialize(PayloadManager* payload_manager,
                 const base::FilePath& download_folder,
                 base::OnceClosure quit_closure);
  // Fetches the additional files missing from the existing installation;
  // once a run, as a second start would delete the folder already reported
  // ready.
  void StartPackageFetcher();
  void StartTrackingDataActions();
  // The "controller_launched" statistics of a started controller.
  void SendControllerLaunched(PayloadManager* payload_manager,
                              bool silent,
                              bool run_immediately);
  // Forgets the outcome of an earlier backend before another one starts.
  void ResetOutcome();
  // Starts the backend through the runner. When that fails, the last
  // installer error (a general error when none was recorded) goes to
  // OnError and false is returned.
  bool StartBackendOrReport();
  // Starts the fetcher's thread; a test may make it fail.
  virtual bool StartFetcherThread(base::Thread* thread);

  Settings* settings() const { return settings_; }
  MainProcessInstallerRunner* runner() const { return runner_.get(); }
  PackageFetcher* package_fetcher() const { return package_fetcher_.get(); }
  bool has_fetcher() const { return !no_fetcher_; }
  const std::string& tracking_data() const { return tracking_data_; }

 private:
  void InitializeFetcher(PayloadManager* payload_manager,
                         const base::FilePath& download_folder);
  bool Relaunch();
  // Makes |code| the run's result: sends the "error" statistics event and
  // keeps |message| as the error text.
  void RecordError(int code, const std::string& message);
  // A backend that ended without an outcome may have left part of its work.
  void LogWhatMayBeLeft();
  void UpdateStatsTraffic();

  Settings* const settings_;
  std::string tracking_data_;
  std::string error_text_;
  std::vector<FetchChunkStatistics> fetch_details_;
  bool no_fetcher_ = true;
  bool additional_files_fetch_started_ = false;
  base::FilePath package_folder_;
  base::OnceClosure quit_closure_;
  std::unique_ptr<base::Thread> fetcher_thread_;
  std::unique_ptr<PackageFetcher> package_fetcher_;
  std::unique_ptr<MainProcessInstallerRunner> runner_;
  std::unique_ptr<PrefDefaultOverridesFetcher> overrides_fetcher_;
  bool terminated_ = false;
  // The overrides request goes out once, whether the package or the
  // backend's start comes first: a second one would restart the downloader
  // and drop the first reply.
  bool tracking_data_actions_started_ = false;
  int result_;
  // The backend reported an outcome (or the controller reported its own
  // error).
  bool outcome_reported_ = false;
  std::unique_ptr<ProcessRunner> process_runner_;

  base::WeakPtrFactory<InstallerController> weak_factory_{this};

  DISALLOW_COPY_AND_ASSIGN(InstallerController);
};

// Statistics of a step are skipped for the file steps, of which a run has
// hundreds.
bool StepSendsStatistics(const std::string& step_name);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INSTALLER_CONTROLLER_H_
