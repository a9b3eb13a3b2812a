#include "base/trace_event/memory_peak_detector.h"

#include <stdint.h>
#include <string.h>

#include <memory>
#include <vector>

#include "base/bind.h"
#include "base/location.h"
#include "base/memory/ref_counted.h"
#include "base/test/test_task_runner.h"
#include "base/time/time.h"
#include "base/trace_event/memory_dump_manager.h"
#include "base/trace_event/memory_dump_provider_info.h"
#include "base/trace_event/trace_buffer.h"
#include "base/trace_event/trace_config.h"
#include "base/trace_event/trace_log.h"
#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

constexpr uint64_t kMiB = 1024 * 1024;
// Far above the jumps the window tests make.
constexpr uint64_t kHugeThreshold = 1024 * kMiB;

// The detector polls the fixture itself, on a test task runner whose clock
// moves only when the test says so: each PollOnce moves it one polling
// period, which runs exactly one poll.
class MemoryPeakDetectorTest : public testing::Test, public MemoryDumpProvider {
 protected:
  bool OnMemoryDump(const MemoryDumpArgs&, ProcessMemoryDump*) override {
    return true;
  }
  void PollFastMemoryTotal(uint64_t* memory_total) override {
    ++polls_;
    *memory_total = total_;
  }

  void SetUp() override {
    config_.polling_interval_ms = 25;
    SetupOn(runner_);
  }
  void TearDown() override { runner_->ClearPendingTasks(); }

  void SetupOn(scoped_refptr<TestTaskRunner> runner, bool run = true) {
    detector_->Setup(
        BindRepeating(&MemoryPeakDetectorTest::GetProviders, Unretained(this)),
        runner, BindRepeating([](int* peaks) { ++*peaks; }, &peaks_));
    if (run)
      runner->RunUntilIdle();
  }
  void GetProviders(MemoryPeakDetector::DumpProvidersList* list) {
    if (has_provider_)
      list->push_back(info_);
  }

  // (Re)starts with |config_| and a provider at |first_total|; the first
  // poll runs at once.
  void Start(uint64_t first_total, uint64_t threshold) {
    detector_->Stop();
    total_ = first_total;
    detector_->Start(config_, threshold);
    runner_->RunUntilIdle();
  }

  // Runs one poll that sees |total|; true when it was a peak.
  bool PollOnce(uint64_t total) {
    total_ = total;
    const int peaks_before = peaks_;
    runner_->FastForwardBy(
        TimeDelta::FromMilliseconds(config_.polling_interval_ms));
    return peaks_ > peaks_before;
  }

  // |count| polls alternating |noise| below and above |mean|; false when
  // any of them was a peak.
  bool PollNoisy(int count, uint64_t mean, uint64_t noise = kMiB) {
    bool any_peak = false;
    for (int i = 0; i < count; ++i)
      any_peak |= PollOnce(i % 2 ? mean + noise : mean - noise);
    return !any_peak;
  }

  void SetProviderPresent(bool present) {
    has_provider_ = present;
    detector_->NotifyMemoryDumpProvidersChanged();
    runner_->RunUntilIdle();
  }

  scoped_refptr<TestTaskRunner> runner_ = MakeRefCounted<TestTaskRunner>();
  std::unique_ptr<MemoryPeakDetector> detector_ =
      MemoryPeakDetector::CreateForTesting();
  MemoryPeakDetector::Config config_;
  uint64_t total_ = 0;
  int polls_ = 0;
  scoped_refptr<MemoryDumpProviderInfo> info_ =
      MakeRefCounted<MemoryDumpProviderInfo>(
          this, "Polled", nullptr, Options(), false, false);
  bool has_provider_ = true;
  int peaks_ = 0;
};

TEST_F(MemoryPeakDetectorTest, BaseLineAndStaticThreshold) {
  // The first poll only sets the base line, however far above nothing.
  Start(100 * kMiB, 10 * kMiB);
  EXPECT_EQ(1, polls_);
  EXPECT_EQ(100 * kMiB, detector_->last_dump_memory_total_for_testing());
  // Below the base line (no wrap-around to a huge jump), 0, and exactly the
  // threshold are no peak.
  EXPECT_FALSE(PollOnce(50 * kMiB));
  EXPECT_FALSE(PollOnce(0));
  EXPECT_FALSE(PollOnce(110 * kMiB));
  EXPECT_TRUE(PollOnce(110 * kMiB + 1));
  // The peak is the new base line.
  EXPECT_EQ(110 * kMiB + 1, detector_->last_dump_memory_total_for_testing());
  EXPECT_FALSE(PollOnce(120 * kMiB));
  EXPECT_TRUE(PollOnce(121 * kMiB));
}

TEST_F(MemoryPeakDetectorTest, SlidingWindow) {
  const struct {
    const char* what;
    int noisy_polls;
    uint64_t noise;
    uint64_t last_total;
    bool peak;
  } kCases[] = {
      {"49 samples: window not full", 48, kMiB, 110 * kMiB, false},
      {"50 samples", 49, kMiB, 110 * kMiB, true},
      {"within 3.69 deviations", 49, kMiB, 102 * kMiB, false},
      {"constant total", 59, 0, 100 * kMiB, false},
      {"idle: noise under 0.2 %", 49, 100, 101 * kMiB, false},
  };
  for (const auto& c : kCases) {
    Start(100 * kMiB, kHugeThreshold);
    EXPECT_TRUE(PollNoisy(c.noisy_polls, 100 * kMiB, c.noise)) << c.what;
    EXPECT_EQ(c.peak, PollOnce(c.last_total)) << c.what;
  }
}

TEST_F(MemoryPeakDetectorTest, PeakClearsTheWindow) {
  Start(100 * kMiB, kHugeThreshold);
  EXPECT_TRUE(PollNoisy(49, 100 * kMiB));
  EXPECT_TRUE(PollOnce(110 * kMiB));
  EXPECT_EQ(0u, detector_->skip_polls_for_testing());
  // The window starts over: 49 samples are not enough again...
  EXPECT_TRUE(PollNoisy(48, 100 * kMiB));
  EXPECT_FALSE(PollOnce(110 * kMiB));
  // ...50 are.
  EXPECT_TRUE(PollNoisy(1, 100 * kMiB));
  EXPECT_TRUE(PollOnce(110 * kMiB));
}

TEST_F(MemoryPeakDetectorTest, PollsAfterPeakAreSkipped) {
  // 100 ms between peaks at 25 ms a poll: 4 polls skipped, compared with
  // the peak's total afterwards.
  config_.min_time_between_peaks_ms = 100;
  Start(100 * kMiB, 10 * kMiB);
  EXPECT_TRUE(PollOnce(200 * kMiB));
  EXPECT_EQ(4u, detector_->skip_polls_for_testing());
  for (int i = 0; i < 4; ++i)
    EXPECT_FALSE(PollOnce(1000 * kMiB)) << i;
  EXPECT_TRUE(PollOnce(211 * kMiB));
}

TEST_F(MemoryPeakDetectorTest, PollingFollowsProvidersAndGenerations) {
  has_provider_ = false;
  Start(100 * kMiB, 10 * kMiB);
  EXPECT_EQ(MemoryPeakDetector::ENABLED, detector_->state_for_testing());
  EXPECT_EQ(0u, runner_->pending_count());
  // A provider comes: polling starts at once. Gone and back within one
  // period: the old chain's poll, pending beside the new chain's, ends
  // without polling or posting.
  SetProviderPresent(true);
  EXPECT_EQ(MemoryPeakDetector::RUNNING, detector_->state_for_testing());
  SetProviderPresent(false);
  SetProviderPresent(true);
  EXPECT_EQ(2, polls_);
  EXPECT_EQ(2u, runner_->pending_count());
  EXPECT_FALSE(PollOnce(100 * kMiB));
  EXPECT_EQ(3, polls_);
  EXPECT_EQ(1u, runner_->pending_count());

  // An unregistered provider is left alone until the list is reloaded.
  info_->disabled.store(true);
  EXPECT_FALSE(PollOnce(100 * kMiB));
  EXPECT_EQ(3, polls_);

  // Stopping ends the chain the same way.
  detector_->Stop();
  EXPECT_FALSE(PollOnce(100 * kMiB));
  EXPECT_EQ(MemoryPeakDetector::DISABLED, detector_->state_for_testing());
  EXPECT_EQ(0u, runner_->pending_count());
}

TEST_F(MemoryPeakDetectorTest, PollsAndPeaksAreTraced) {
  TraceLog* log = TraceLog::GetInstance();
  TraceConfig trace_config;
  trace_config.mutable_category_filter()->AddDisabledCategory(
      MemoryDumpManager::kTraceCategory);
  log->SetEnabledForTesting(trace_config, TraceLog::RECORDING_MODE);
  config_.enable_verbose_poll_tracing = true;
  Start(100 * kMiB, 10 * kMiB);
  const bool peak = PollOnce(300 * kMiB);
  log->SetDisabledForTesting(TraceLog::RECORDING_MODE);
  std::unique_ptr<TraceBuffer> buffer = log->FlushForTesting();
  EXPECT_TRUE(peak);

  std::vector<const TraceEvent*> polled, peaks;
  while (const TraceBufferChunk* chunk = buffer->NextChunk()) {
    for (size_t i = 0; i < chunk->size(); ++i) {
      const TraceEvent* event = chunk->GetEventAt(i);
      if (strcmp(event->category_group_name(),
                 MemoryDumpManager::kTraceCategory) != 0)
        continue;
      if (strcmp(event->name(), "PolledMemoryMB") == 0)
        polled.push_back(event);
      else if (strcmp(event->name(), "Peak memory detected") == 0)
        peaks.push_back(event);
    }
  }
  ASSERT_EQ(2u, polled.size());
  ASSERT_EQ(1u, peaks.size());
  EXPECT_EQ(TRACE_EVENT_PHASE_COUNTER, polled[1]->phase());
  EXPECT_STREQ("value", polled[1]->arg_name(0));
  EXPECT_EQ(300u, polled[1]->arg_value(0).as_uint);
  EXPECT_EQ(TRACE_EVENT_SCOPE_PROCESS,
            peaks[0]->flags() & TRACE_EVENT_FLAG_SCOPE_MASK);
  EXPECT_STREQ("PolledMemoryMB", peaks[0]->arg_name(0));
  EXPECT_EQ(300u, peaks[0]->arg_value(0).as_uint);
}

TEST_F(MemoryPeakDetectorTest, SetupOnAnotherRunnerWaitsForTearDown) {
  auto other = MakeRefCounted<TestTaskRunner>();
  detector_->TearDown();
  EXPECT_DEATH(SetupOn(other), "");
  // Set up and torn down again before anything ran: the first teardown to
  // run leaves the second still to wait for.
  runner_->PostTask(FROM_HERE,
                    BindOnce([&] { EXPECT_DEATH(SetupOn(other), ""); }));
  SetupOn(runner_, false);
  detector_->TearDown();
  runner_->RunUntilIdle();
  SetupOn(other);
  EXPECT_EQ(MemoryPeakDetector::DISABLED, detector_->state_for_testing());
}

}  // namespace
}  // namespace trace_event
}  // namespace base
