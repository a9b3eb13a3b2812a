#include "base/trace_event/memory_peak_detector.h"

#include <algorithm>
#include <utility>

#include "base/bind.h"
#include "base/check.h"
#include "base/location.h"
#include "base/sequenced_task_runner.h"
#include "base/time/time.h"
#include "base/trace_event/memory_dump_manager.h"
#include "base/trace_event/memory_dump_provider_info.h"
#include "base/trace_event/scoped_trace_event.h"
#include "base/trace_event/trace_log.h"

namespace base {
namespace trace_event {

namespace {

// A polled total above the mean of the window by more than 3.69 standard
// deviations is a peak.
constexpr float kPeakDeviationFactorSquared = 13.6161f;  // 3.69 * 3.69

// Below a standard deviation of 0.2 % of the mean the process counts as
// idle, and no jump within its noise is a peak.
constexpr float kIdleMeanDivisor = 500.0f;

const unsigned char* MemoryInfraCategoryState() {
  static const unsigned char* const state =
      TraceLog::GetCategoryGroupEnabled(MemoryDumpManager::kTraceCategory);
  return state;
}

uint64_t BytesToMiB(uint64_t bytes) {
  return bytes >> 20;
}

// Records one event in the memory-infra category with a single unsigned
// argument: the total in MiB.
void TraceMiB(const char* name,
              char phase,
              unsigned int flags,
              const char* arg_name,
              uint64_t total_bytes) {
  const unsigned char* category_state = MemoryInfraCategoryState();
  if (!IsCategoryStateEnabled(category_state))
    return;
  const char* const arg_names[1] = {arg_name};
  static const unsigned char kArgTypes[1] = {TRACE_VALUE_TYPE_UINT};
  const unsigned long long values[1] = {BytesToMiB(total_bytes)};
  TraceEventArgs args;
  args.phase = phase;
  args.flags = flags;
  args.num_args = 1;
  args.arg_names = arg_names;
  args.arg_types = kArgTypes;
  args.arg_values = values;
  ScopedTraceEvent event(category_state, name, args);
}

}  // namespace

constexpr uint32_t MemoryPeakDetector::kSlidingWindowNumSamples;

// static
MemoryPeakDetector* MemoryPeakDetector::GetInstance() {
  // Never destroyed: polls posted with a raw pointer to it may still run
  // while the process ends.
  static MemoryPeakDetector* const instance = new MemoryPeakDetector();
  return instance;
}

// static
std::unique_ptr<MemoryPeakDetector> MemoryPeakDetector::CreateForTesting() {
  return std::unique_ptr<MemoryPeakDetector>(new MemoryPeakDetector());
}

MemoryPeakDetector::MemoryPeakDetector() = default;
MemoryPeakDetector::~MemoryPeakDetector() = default;

scoped_refptr<SequencedTaskRunner> MemoryPeakDetector::GetTaskRunner() const {
  AutoLock lock(task_runner_lock_);
  return task_runner_;
}

void MemoryPeakDetector::Setup(
    const GetDumpProvidersFunction& get_dump_providers_function,
    scoped_refptr<SequencedTaskRunner> task_runner,
    const OnPeakDetectedCallback& on_peak_detected_callback) {
  DCHECK(task_runner);
  {
    AutoLock lock(task_runner_lock_);
    // Setup on another runner could run before the pending TearDown and
    // would race with it on the detector's fields.
    DCHECK(!tear_down_task_runner_ || tear_down_task_runner_ == task_runner);
    task_runner_ = task_runner;
  }
  task_runner->PostTask(
      FROM_HERE,
      BindOnce(&MemoryPeakDetector::SetupInternal, Unretained(this),
               get_dump_providers_function, on_peak_detected_callback));
}

void MemoryPeakDetector::SetupInternal(
    const GetDumpProvidersFunction& get_dump_providers_function,
    const OnPeakDetectedCallback& on_peak_detected_callback) {
  DCHECK_EQ(state_, NOT_INITIALIZED);
  get_dump_providers_function_ = get_dump_providers_function;
  on_peak_detected_callback_ = on_peak_detected_callback;
  state_ = DISABLED;
}

void MemoryPeakDetector::TearDown() {
  scoped_refptr<SequencedTaskRunner> task_runner;
  {
    AutoLock lock(task_runner_lock_);
    task_runner = std::move(task_runner_);
    if (task_runner) {
      tear_down_task_runner_ = task_runner;
      ++pending_tear_downs_;
    }
  }
  if (!task_runner)
    return;
  task_runner->PostTask(
      FROM_HERE,
      BindOnce(&MemoryPeakDetector::TearDownInternal, Unretained(this)));
}

void MemoryPeakDetector::TearDownInternal() {
  {
    AutoLock lock(task_runner_lock_);
    // Only the last one lets a Setup on another runner through: one still
    // queued here would race with it.
    DCHECK_GT(pending_tear_downs_, 0u);
    if (--pending_tear_downs_ == 0)
      tear_down_task_runner_ = nullptr;
  }
  if (state_ == RUNNING)
    ++generation_;
  state_ = NOT_INITIALIZED;
  dump_providers_.clear();
  // The callbacks may hold what their owner is about to destroy.
  get_dump_providers_function_ = GetDumpProvidersFunction();
  on_peak_detected_callback_ = OnPeakDetectedCallback();
  ResetPollHistory();
}

void MemoryPeakDetector::Start(Config config, uint64_t static_threshold_bytes) {
  // A period of 0 would make the polls follow each other without pause.
  CHECK_GT(config.polling_interval_ms, 0u);
  scoped_refptr<SequencedTaskRunner> task_runner = GetTaskRunner();
  if (!task_runner)
    return;
  task_runner->PostTask(
      FROM_HERE, BindOnce(&MemoryPeakDetector::StartInternal, Unretained(this),
                          config, static_threshold_bytes));
}

void MemoryPeakDetector::StartInternal(Config config,
                                       uint64_t static_threshold_bytes) {
  if (state_ != DISABLED)
    return;
  state_ = ENABLED;
  config_ = config;
  static_threshold_bytes_ = static_threshold_bytes;
  ResetPollHistory();
  // Polling starts here when providers are registered already, else with
  // the first registration.
  ReloadDumpProvidersAndStartPollingIfNeeded();
}

void MemoryPeakDetector::Stop() {
  scoped_refptr<SequencedTaskRunner> task_runner = GetTaskRunner();
  if (!task_runner)
    return;
  task_runner->PostTask(
      FROM_HERE, BindOnce(&MemoryPeakDetector::StopInternal, Unretained(this)));
}

void MemoryPeakDetector::StopInternal() {
  if (state_ != ENABLED && state_ != RUNNING)
    return;
  if (state_ == RUNNING)
    ++generation_;
  state_ = DISABLED;
  dump_providers_.clear();
}

void MemoryPeakDetector::NotifyMemoryDumpProvidersChanged() {
  scoped_refptr<SequencedTaskRunner> task_runner = GetTaskRunner();
  if (!task_runner)
    return;
  task_runner->PostTask(
      FROM_HERE,
      BindOnce(&MemoryPeakDetector::ReloadDumpProvidersAndStartPollingIfNeeded,
               Unretained(this)));
}

void MemoryPeakDetector::ReloadDumpProvidersAndStartPollingIfNeeded() {
  if (state_ == NOT_INITIALIZED || state_ == DISABLED)
    return;

  dump_providers_.clear();
  get_dump_providers_function_.Run(&dump_providers_);

  if (state_ == RUNNING && dump_providers_.empty()) {
    state_ = ENABLED;
    ++generation_;
  } else if (state_ == ENABLED && !dump_providers_.empty()) {
    state_ = RUNNING;
    ++generation_;
    scoped_refptr<SequencedTaskRunner> task_runner = GetTaskRunner();
    if (task_runner) {
      task_runner->PostTask(
          FROM_HERE, BindOnce(&MemoryPeakDetector::PollMemoryAndDetectPeak,
                              Unretained(this), generation_));
    }
  }
}

void MemoryPeakDetector::PollMemoryAndDetectPeak(uint32_t expected_generation) {
  if (state_ != RUNNING || generation_ != expected_generation)
    return;
  ++poll_tasks_count_;

  uint64_t polled_memory_bytes = 0;
  for (const scoped_refptr<MemoryDumpProviderInfo>& mdp_info :
       dump_providers_) {
    // Unregistered since the list was loaded: the provider may be gone.
    if (mdp_info->disabled.load(std::memory_order_acquire))
      continue;
    uint64_t value = 0;
    mdp_info->dump_provider->PollFastMemoryTotal(&value);
    polled_memory_bytes += value;
  }
  if (config_.enable_verbose_poll_tracing) {
    TraceMiB("PolledMemoryMB", TRACE_EVENT_PHASE_COUNTER, TRACE_EVENT_FLAG_NONE,
             "value", polled_memory_bytes);
  }

  bool is_peak = false;
  if (skip_polls_ > 0) {
    --skip_polls_;
  } else if (last_dump_memory_total_ == 0) {
    // The first poll after a reset only sets the base line.
    last_dump_memory_total_ = polled_memory_bytes;
  } else if (polled_memory_bytes > 0) {
    // A total below the base line is no peak; compared before subtracting,
    // which would wrap around.
    is_peak =
        polled_memory_bytes > last_dump_memory_total_ &&
        polled_memory_bytes - last_dump_memory_total_ > static_threshold_bytes_;
    if (!is_peak)
      is_peak = DetectPeakUsingSlidingWindowStddev(polled_memory_bytes);
  }

  scoped_refptr<SequencedTaskRunner> task_runner = GetTaskRunner();
  if (task_runner) {
    task_runner->PostDelayedTask(
        FROM_HERE,
        BindOnce(&MemoryPeakDetector::PollMemoryAndDetectPeak, Unretained(this),
                 expected_generation),
        TimeDelta::FromMilliseconds(config_.polling_interval_ms));
  }

  if (!is_peak)
    return;
  TraceMiB("Peak memory detected", TRACE_EVENT_PHASE_INSTANT,
           TRACE_EVENT_SCOPE_PROCESS, "PolledMemoryMB", polled_memory_bytes);
  // The next peak is measured from this one, after the process has had
  // time to settle. Start refuses a period of 0, so the division is safe.
  ResetPollHistory();
  last_dump_memory_total_ = polled_memory_bytes;
  const uint64_t period = config_.polling_interval_ms;
  skip_polls_ = static_cast<uint32_t>(
      (config_.min_time_between_peaks_ms + period - 1) / period);
  on_peak_detected_callback_.Run();
}

bool MemoryPeakDetector::DetectPeakUsingSlidingWindowStddev(
    uint64_t polled_memory_bytes) {
  samples_bytes_[samples_index_] = polled_memory_bytes;
  samples_index_ = (samples_index_ + 1) % kSlidingWindowNumSamples;

  // Single precision: a spread of megabytes needs no more.
  float mean = 0;
  for (uint64_t sample : samples_bytes_) {
    // The window is not full yet.
    if (sample == 0)
      return false;
    mean += static_cast<float>(sample);
  }
  mean /= kSlidingWindowNumSamples;

  float variance = 0;
  for (uint64_t sample : samples_bytes_) {
    const float deviation = static_cast<float>(sample) - mean;
    variance += deviation * deviation;
  }
  variance /= kSlidingWindowNumSamples;

  const float idle_deviation = mean / kIdleMeanDivisor;
  if (idle_deviation * idle_deviation > variance)
    return false;

  const float deviation = static_cast<float>(polled_memory_bytes) - mean;
  return deviation * deviation > kPeakDeviationFactorSquared * variance;
}

void MemoryPeakDetector::ResetPollHistory() {
  last_dump_memory_total_ = 0;
  skip_polls_ = 0;
  std::fill(std::begin(samples_bytes_), std::end(samples_bytes_), 0);
  samples_index_ = 0;
}

}  // namespace trace_event
}  // namespace base
