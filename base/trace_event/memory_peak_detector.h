#ifndef BASE_TRACE_EVENT_MEMORY_PEAK_DETECTOR_H_
#define BASE_TRACE_EVENT_MEMORY_PEAK_DETECTOR_H_

#include <stdint.h>

#include <memory>
#include <vector>

#include "base/callback.h"
#include "base/macros.h"
#include "base/memory/scoped_refptr.h"
#include "base/synchronization/lock.h"

namespace base {

class SequencedTaskRunner;

namespace trace_event {

struct MemoryDumpProviderInfo;

// Polls the providers that support fast polling on a fixed period and runs
// a callback when their total jumps: past a static threshold above the
// total at the last peak, or far out of the spread of the last 50 polls.
//
// All its work runs on the task runner given to Setup; the other calls may
// come from any thread and only post to it. Each start or stop of polling
// advances a generation number, which ends the polling chain of the old one.
class MemoryPeakDetector {
 public:
  enum State : uint32_t {
    NOT_INITIALIZED = 0,
    DISABLED = 1,  // Set up, not started.
    ENABLED = 2,   // Started, no provider to poll.
    RUNNING = 3,   // Polling.
  };

  struct Config {
    uint32_t polling_interval_ms = 0;
    uint32_t min_time_between_peaks_ms = 0;
    // Records every polled total as a counter event.
    bool enable_verbose_poll_tracing = false;
  };

  using DumpProvidersList = std::vector<scoped_refptr<MemoryDumpProviderInfo>>;
  // Fills the list with the providers that support fast polling.
  using GetDumpProvidersFunction = RepeatingCallback<void(DumpProvidersList*)>;
  using OnPeakDetectedCallback = RepeatingClosure;

  static constexpr uint32_t kSlidingWindowNumSamples = 50;

  // The process's detector, made on first use and never destroyed.
  static MemoryPeakDetector* GetInstance();
  // A detector of a test's own, independent of the process's one.
  static std::unique_ptr<MemoryPeakDetector> CreateForTesting();

  ~MemoryPeakDetector();

  // Binds the detector to |task_runner| and moves it to DISABLED. After a
  // TearDown, a Setup on another runner must wait until TearDown's task has
  // run on the old one (checked).
  void Setup(const GetDumpProvidersFunction& get_dump_providers_function,
             scoped_refptr<SequencedTaskRunner> task_runner,
             const OnPeakDetectedCallback& on_peak_detected_callback);
  // Back to NOT_INITIALIZED; polls already posted end on their own.
  void TearDown();

  // Starts peak detection with a clean history; polling starts as soon as
  // there is a provider to poll. A polling interval of 0 is a caller error.
  void Start(Config config, uint64_t static_threshold_bytes);
  // Stops polling and goes back to DISABLED.
  void Stop();

  // Called by the memory dump manager when a provider that supports fast
  // polling comes or goes.
  void NotifyMemoryDumpProvidersChanged();

  // What the detector's task runner sees; read there only.
  State state_for_testing() const { return state_; }
  uint32_t generation_for_testing() const { return generation_; }
  uint32_t poll_tasks_count_for_testing() const { return poll_tasks_count_; }
  uint32_t skip_polls_for_testing() const { return skip_polls_; }
  uint64_t last_dump_memory_total_for_testing() const {
    return last_dump_memory_total_;
  }

 private:
  MemoryPeakDetector();

  scoped_refptr<SequencedTaskRunner> GetTaskRunner() const;

  void SetupInternal(
      const GetDumpProvidersFunction& get_dump_providers_function,
      const OnPeakDetectedCallback& on_peak_detected_callback);
  void TearDownInternal();
  void StartInternal(Config config, uint64_t static_threshold_bytes);
  void StopInternal();
  void ReloadDumpProvidersAndStartPollingIfNeeded();
  void PollMemoryAndDetectPeak(uint32_t expected_generation);
  bool DetectPeakUsingSlidingWindowStddev(uint64_t polled_memory_bytes);
  void ResetPollHistory();

  // Written by Setup and TearDown on any thread, read by the notifiers.
  mutable Lock task_runner_lock_;
  scoped_refptr<SequencedTaskRunner> task_runner_;
  // The runner of the TearDowns whose tasks have not run yet, and how many
  // there are: Setup and TearDown may be repeated on one runner before any
  // of them has run.
  scoped_refptr<SequencedTaskRunner> tear_down_task_runner_;
  uint32_t pending_tear_downs_ = 0;

  // The rest lives on the task runner.
  GetDumpProvidersFunction get_dump_providers_function_;
  OnPeakDetectedCallback on_peak_detected_callback_;
  DumpProvidersList dump_providers_;
  uint32_t generation_ = 0;
  State state_ = NOT_INITIALIZED;
  Config config_;
  uint64_t static_threshold_bytes_ = 0;
  uint32_t skip_polls_ = 0;
  uint64_t last_dump_memory_total_ = 0;
  uint64_t samples_bytes_[kSlidingWindowNumSamples] = {};
  uint32_t samples_index_ = 0;
  uint32_t poll_tasks_count_ = 0;

  DISALLOW_COPY_AND_ASSIGN(MemoryPeakDetector);
};

}  // namespace trace_event
}  // namespace base

#endif  // BASE_TRACE_EVENT_MEMORY_PEAK_DETECTOR_H_
