#ifndef DESKTOP_WINDOWS_INSTALLER_SILENT_INSTALLER_CONTROLLER_H_
#define DESKTOP_WINDOWS_INSTALLER_SILENT_INSTALLER_CONTROLLER_H_

#include <memory>
#include <string>
#include <vector>

#include "base/macros.h"
#include "base/memory/weak_ptr.h"
#include "desktop/windows/installer/installer_controller.h"

namespace installer {

// The front end of a run without a window: it decides on its own when the
// settings are ready, adjusts a target it could only reach elevated instead
// of asking, starts the backend as soon as it can and ends the run itself on
// every outcome.
class SilentInstallerController : public InstallerController {
 public:
  SilentInstallerController(std::unique_ptr<MainProcessInstallerRunner> runner,
                            Settings* settings);
  ~SilentInstallerController() override;

  // InstallerController:
  void RunUICallbackAndPostReply(
      UICallback ui_callback,
      base::scoped_refptr<base::SingleThreadTaskRunner> reply_runner,
      Reply reply) override;
  int Start(PayloadManager* payload_manager,
            const base::FilePath& download_folder,
            base::OnceClosure quit_closure) override;
  void NotifyPackageReady(const base::FilePath& folder) override;
  void NotifyPackageFetcherError(
      FailureKind kind,
      const std::string& description,
      const std::vector<FetchChunkStatistics>& details) override;
  void OnError(int code,
               const base::string16& path,
               const std::string& message) override;
  void OnSuccess() override;
  void OnBackendProcessTerminated(int result) override;
  void OnPathChanged() override;

  // The delay between the backend's exit and the end of the run, which
  // lets a last mailslot message arrive.
  static const int kTerminateDelayMs;

 private:
  void RunBackend();
  // Settings changes that re-examine the folder report back through
  // OnPathChanged; one that does not must not leave the run waiting.
  void ExpectPathChanged();

  bool observing_settings_ = false;
  bool tracking_data_from_package_ = false;

  base::WeakPtrFactory<SilentInstallerController> weak_factory_{this};

  DISALLOW_COPY_AND_ASSIGN(SilentInstallerController);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SILENT_INSTALLER_CONTROLLER_H_
