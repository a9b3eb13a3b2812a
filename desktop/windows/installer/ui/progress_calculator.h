#ifndef DESKTOP_WINDOWS_INSTALLER_UI_PROGRESS_CALCULATOR_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_PROGRESS_CALCULATOR_H_

#include <stdint.h>

#include <optional>

namespace installer {

// The stages of one interactive install, as the progress notifier carries
// them (fetcher status, package ready, backend phases).
enum ProgressStage : uint32_t {
  PROGRESS_STAGE_DOWNLOAD_ANNOUNCED = 0,
  PROGRESS_STAGE_DOWNLOADING = 1,
  PROGRESS_STAGE_UNUSED = 2,
  PROGRESS_STAGE_DOWNLOAD_FINISHED = 3,
  PROGRESS_STAGE_PACKAGE_READY = 4,
  PROGRESS_STAGE_TRACKING_DATA_DONE = 5,
  PROGRESS_STAGE_UNPACKING = 6,
  PROGRESS_STAGE_INSTALLING = 7,
  PROGRESS_STAGE_WAITING_TO_RETRY = 8,
  PROGRESS_STAGE_COUNT = 9,
};

// Hears the wizard's progress: a value on the calculator's scale
// (0..GetMaximum()) and, when known, what remains of the current stage
// (seconds while downloading, items while unpacking, installing or waiting
// for a retry).
class ProgressObserver {
 public:
  virtual ~ProgressObserver() = default;
  virtual void OnProgressChanged(uint32_t progress,
                                 std::optional<int> remaining) = 0;
};

// Turns the stages and step counts of one interactive install into one
// number for the wizard's progress bar.
class ProgressCalculator {
 public:
  virtual ~ProgressCalculator() = default;
  virtual void SetObserver(ProgressObserver* observer) = 0;
  // The top of the scale: the sum of the stage weights.
  virtual uint32_t GetMaximum() const = 0;
  virtual uint32_t GetProgress() const = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_PROGRESS_CALCULATOR_H_
