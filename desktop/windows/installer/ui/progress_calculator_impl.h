#ifndef DESKTOP_WINDOWS_INSTALLER_UI_PROGRESS_CALCULATOR_IMPL_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_PROGRESS_CALCULATOR_IMPL_H_

#include <stdint.h>

#include "base/callback.h"
#include "base/macros.h"
#include "base/time/time.h"
#include "desktop/windows/installer/installer_observer.h"
#include "desktop/windows/installer/runner/installer_progress_notifier.h"
#include "desktop/windows/installer/ui/progress_calculator.h"

namespace installer {

class MainProcessInstallerRunner;

// How much of the bar each stage takes.
struct ProgressStageWeights {
  ProgressStageWeights();
  uint32_t weights[PROGRESS_STAGE_COUNT];
};

// Follows the stage changes of the progress notifier and the backend's end,
// on the UI thread.
class ProgressCalculatorImpl : public ProgressCalculator,
                               public InstallerObserver,
                               public InstallerProgressObserver {
 public:
  // Registers with |runner| and |notifier|, which must outlive it.
  ProgressCalculatorImpl(MainProcessInstallerRunner* runner,
                         InstallerProgressNotifier* notifier,
                         const ProgressStageWeights& weights);
  ~ProgressCalculatorImpl() override;

  // ProgressCalculator:
  void SetObserver(ProgressObserver* observer) override;
  uint32_t GetMaximum() const override;
  uint32_t GetProgress() const override;

  // InstallerObserver:
  void OnBackendProcessTerminated(int result) override;

  // InstallerProgressObserver (stage, total and current of the stage):
  void OnPhaseEntered(int phase) override;
  void OnTotalSteps(int total) override;
  void OnStepFinished(int finished_count) override;

  // Tests give their own clock (bound to base::Time::Now otherwise).
  void SetClockForTesting(base::RepeatingCallback<base::Time()> clock);

 private:
  uint32_t ComputeProgress() const;
  void Notify();

  uint32_t weights_[PROGRESS_STAGE_COUNT];
  // starts_[k]: the sum of the weights of the stages before k;
  // starts_[PROGRESS_STAGE_COUNT] is the maximum.
  uint32_t starts_[PROGRESS_STAGE_COUNT + 1];
  int32_t total_ = 0;
  int32_t current_ = 0;
  uint32_t progress_ = 0;
  MainProcessInstallerRunner* const runner_;
  InstallerProgressNotifier* const notifier_;
  ProgressObserver* observer_ = nullptr;
  base::RepeatingCallback<base::Time()> clock_;
  base::Time download_start_;
  uint32_t stage_ = 0;

  DISALLOW_COPY_AND_ASSIGN(ProgressCalculatorImpl);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_PROGRESS_CALCULATOR_IMPL_H_
