#ifndef DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_RUNNER_H_
#define DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_RUNNER_H_

#include <string>
#include <vector>

#include "base/callback.h"
#include "base/files/file_path.h"
#include "desktop/windows/installer/common/installer_error.h"
#include "desktop/windows/installer/runner/main_process_installer_runner.h"
#include "desktop/windows/installer/settings.h"

namespace installer {
namespace test {

// What a controller asked of its runner.
struct RunnerLog {
  int starts = 0, stops = 0, packages_ready = 0;
  base::FilePath started_folder;
  InstallMode started_mode = INSTALL_MODE_ALL_USERS;
  std::vector<bool> all_users_at_start;
  // Run at each start, after the settings were taken.
  base::RepeatingClosure on_start;
  // What Start returns; a failure leaves no installer error behind, as
  // the worst a runner may do.
  int start_result = 0;
};

// A runner that starts no backend and records the controller's requests.
struct FakeRunner : MainProcessInstallerRunner {
  explicit FakeRunner(RunnerLog* log) : log(log) {}
  int Start(Settings* settings) override {
    ++log->starts;
    log->started_folder = settings->GetInstallFolder();
    log->started_mode = settings->GetInstallMode();
    log->all_users_at_start.push_back(settings->GetAllUsers());
    if (log->start_result != 0) {
      SetLastInstallerError(RESULT_SUCCESS, std::string());
      return log->start_result;
    }
    // As the real runner: the settings are fixed while a backend runs.
    settings->SetEditable(false);
    if (log->on_start)
      log->on_start.Run();
    return 0;
  }
  void SetPaths(const base::FilePath&, const base::FilePath&) override {}
  void Stop() override { ++log->stops; }
  void OnPackageReady() override { ++log->packages_ready; }
  void AddObserver(InstallerObserver*) override {}
  void RemoveObserver(InstallerObserver*) override {}
  RunnerLog* const log;
};

}  // namespace test
}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_TEST_FAKE_RUNNER_H_
