#include "desktop/windows/installer/ui/progress_calculator_impl.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "base/bind.h"
#include "base/logging.h"
#include "desktop/windows/installer/runner/main_process_installer_runner.h"

namespace installer {

namespace {

constexpr uint32_t kStageWeights[PROGRESS_STAGE_COUNT] = {
    1,     // download announced
    1000,  // downloading
    0,     // unused
    1,     // download finished
    1,     // package ready
    1,     // tracking data done
    200,   // unpacking
    100,   // installing
    0,     // waiting to retry
};

int ClampToInt(int64_t value) {
  return static_cast<int>(std::min<int64_t>(std::max<int64_t>(value, 0),
                                            std::numeric_limits<int>::max()));
}

}  // namespace

ProgressStageWeights::ProgressStageWeights() {
  std::copy(std::begin(kStageWeights), std::end(kStageWeights), weights);
}

ProgressCalculatorImpl::ProgressCalculatorImpl(
    MainProcessInstallerRunner* runner,
    InstallerProgressNotifier* notifier,
    const ProgressStageWeights& weights)
    : runner_(runner),
      notifier_(notifier),
      clock_(base::BindRepeating(&base::Time::Now)) {
  std::copy(std::begin(weights.weights), std::end(weights.weights), weights_);
  starts_[0] = 0;
  for (uint32_t stage = 0; stage < PROGRESS_STAGE_COUNT; ++stage)
    starts_[stage + 1] = starts_[stage] + weights_[stage];
  runner_->AddObserver(this);
  notifier_->AddObserver(this);
}

ProgressCalculatorImpl::~ProgressCalculatorImpl() {
  notifier_->RemoveObserver(this);
  runner_->RemoveObserver(this);
}

void ProgressCalculatorImpl::SetObserver(ProgressObserver* observer) {
  observer_ = observer;
}

uint32_t ProgressCalculatorImpl::GetMaximum() const {
  return starts_[PROGRESS_STAGE_COUNT];
}

uint32_t ProgressCalculatorImpl::GetProgress() const {
  return progress_;
}

void ProgressCalculatorImpl::OnBackendProcessTerminated(int result) {
  if (result != 0)
    return;
  current_ = total_;
  Notify();
}

void ProgressCalculatorImpl::OnPhaseEntered(int phase) {
  if (phase < 0 || phase >= static_cast<int>(PROGRESS_STAGE_COUNT)) {
    LOG(WARNING) << "Ignoring unknown progress stage " << phase;
    return;
  }
  stage_ = static_cast<uint32_t>(phase);
  total_ = 0;
  Notify();
}

void ProgressCalculatorImpl::OnTotalSteps(int total) {
  download_start_ = clock_.Run();
  current_ = 0;
  // The download-finished stage has nothing to count.
  total_ = stage_ == PROGRESS_STAGE_DOWNLOAD_FINISHED ? 0 : total;
}

void ProgressCalculatorImpl::OnStepFinished(int finished_count) {
  if (total_ == 0)
    return;
  current_ = finished_count;
  Notify();
}

void ProgressCalculatorImpl::SetClockForTesting(
    base::RepeatingCallback<base::Time()> clock) {
  clock_ = std::move(clock);
}

uint32_t ProgressCalculatorImpl::ComputeProgress() const {
  // Waiting for a retry holds the bar where a download starts.
  const uint32_t index = stage_ == PROGRESS_STAGE_WAITING_TO_RETRY ? 0 : stage_;
  const uint32_t base = starts_[index];
  float fraction =
      total_ == 0 ? 0.0f
                  : static_cast<float>(current_) / static_cast<float>(total_);
  // Counts from the backend's messages are not trusted to stay within the
  // total: the bar must neither leave its stage nor wrap below zero.
  fraction = std::min(std::max(fraction, 0.0f), 1.0f);
  return base + static_cast<uint32_t>(weights_[index] * fraction);
}

void ProgressCalculatorImpl::Notify() {
  VLOG(2) << "Notifying of installation progress";
  const uint32_t old_progress = progress_;
  progress_ = ComputeProgress();
  if (!observer_)
    return;

  if ((stage_ == PROGRESS_STAGE_UNPACKING ||
       stage_ == PROGRESS_STAGE_INSTALLING ||
       stage_ == PROGRESS_STAGE_WAITING_TO_RETRY) &&
      total_ >= 1) {
    observer_->OnProgressChanged(
        progress_, ClampToInt(static_cast<int64_t>(total_) - current_));
    return;
  }

  if (stage_ == PROGRESS_STAGE_DOWNLOADING && total_ != 0) {
    const base::Time now = clock_.Run();
    const double done =
        static_cast<double>(current_) / static_cast<double>(total_);
    // Up to 5 % the estimate is mostly noise.
    if (done > 0.05) {
      const double left =
          (now - download_start_).InSecondsF() / done * (1.0 - done);
      // A clock set back, or more done than the total, leaves nothing; a
      // clock at its end (an infinite time) the longest time there is.
      // std::max is given 0 first so that a NaN becomes 0 too.
      const double seconds =
          std::min(std::max(0.0, left),
                   static_cast<double>(std::numeric_limits<int>::max() - 1));
      observer_->OnProgressChanged(progress_, static_cast<int>(seconds) + 1);
      return;
    }
  }

  if (progress_ != old_progress)
    observer_->OnProgressChanged(progress_, std::nullopt);
}

}  // namespace installer
