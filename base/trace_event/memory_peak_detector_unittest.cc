#include "base/trace_event/memory_peak_detector.h"

#include <stdint.h>

#include <memory>

#include "base/bind.h"
#include "base/memory/ref_counted.h"
#include "base/test/test_task_runner.h"
#include "base/time/time.h"
#include "base/trace_event/memory_dump_provider.h"
#include "base/trace_event/memory_dump_provider_info.h"
#include "gtest/gtest.h"

namespace base {
namespace trace_event {
namespace {

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint32_t kPollingMs = 25;
// Far above the jumps the window tests make.
constexpr uint64_t kHugeThreshold = 1024 * kMiB;

class PolledProvider : public MemoryDumpProvider {
 public:
  bool OnMemoryDump(const MemoryDumpArgs&, ProcessMemoryDump*) override {
    return true;
  }
  void PollFastMemoryTotal(uint64_t* memory_total) override {
    ++polls;
    *memory_total = total;
  }

  uint64_t total = 0;
  int polls = 0;
};

// The detector polls on a test task runner whose clock moves only when the
// test says so: each PollOnce moves it one polling period, which runs
// exactly one poll.
class MemoryPeakDetectorTest : public testing::Test {
 protected:
  using State = MemoryPeakDetector::State;

  void SetUp() override {
    runner_ = MakeRefCounted<TestTaskRunner>();
    detector_ = MemoryPeakDetector::CreateForTesting();
    detector_->Setup(
        BindRepeating(&MemoryPeakDetectorTest::GetProviders, Unretained(this)),
        runner_,
        BindRepeating(&MemoryPeakDetectorTest::OnPeak, Unretained(this)));
    runner_->RunUntilIdle();
  }

  void TearDown() override {
    detector_.reset();
    runner_->ClearPendingTasks();
  }

  void GetProviders(MemoryPeakDetector::DumpProvidersList* list) {
    ++provider_lookups_;
    if (has_provider_)
      list->push_back(info_);
  }
  void OnPeak() { ++peaks_; }

  // Starts with a provider reporting |first_total|; the first poll runs at
  // once.
  void Start(uint64_t first_total,
             uint64_t threshold,
             uint32_t min_between_peaks_ms = 0,
             uint32_t polling_ms = kPollingMs) {
    polling_ms_ = polling_ms;
    provider_.total = first_total;
    MemoryPeakDetector::Config config;
    config.polling_interval_ms = polling_ms;
    config.min_time_between_peaks_ms = min_between_peaks_ms;
    detector_->Start(config, threshold);
    runner_->RunUntilIdle();
  }

  // Runs one poll that sees |total|; true when it was a peak.
  bool PollOnce(uint64_t total) {
    provider_.total = total;
    const int peaks_before = peaks_;
    const int polls_before = provider_.polls;
    runner_->FastForwardBy(TimeDelta::FromMilliseconds(polling_ms_));
    EXPECT_EQ(polls_before + 1, provider_.polls);
    return peaks_ > peaks_before;
  }

  // |count| polls with a total that alternates 1 MiB around |mean|; false
  // when any of them was a peak.
  bool PollNoisy(int count, uint64_t mean) {
    bool any_peak = false;
    for (int i = 0; i < count; ++i)
      any_peak |= PollOnce(i % 2 ? mean + kMiB : mean - kMiB);
    return !any_peak;
  }

  void SetProviderPresent(bool present) {
    has_provider_ = present;
    detector_->NotifyMemoryDumpProvidersChanged();
    runner_->RunUntilIdle();
  }

  scoped_refptr<TestTaskRunner> runner_;
  std::unique_ptr<MemoryPeakDetector> detector_;
  PolledProvider provider_;
  MemoryDumpProvider::Options options_ = [] {
    MemoryDumpProvider::Options options;
    options.is_fast_polling_supported = true;
    return options;
  }();
  scoped_refptr<MemoryDumpProviderInfo> info_ =
      MakeRefCounted<MemoryDumpProviderInfo>(
          &provider_, "Polled", nullptr, options_, false, false);
  bool has_provider_ = true;
  int provider_lookups_ = 0;
  int peaks_ = 0;
  uint32_t polling_ms_ = kPollingMs;
};

TEST_F(MemoryPeakDetectorTest, FirstPollSetsBaseLineAndZeroIsNoPeak) {
  // Far above a threshold from nothing, yet only the base line.
  Start(500 * kMiB, 10 * kMiB);
  EXPECT_EQ(1, provider_.polls);
  EXPECT_EQ(0, peaks_);
  EXPECT_EQ(500 * kMiB, detector_->last_dump_memory_total_for_testing());

  // Below the base line: no peak (and no wrap-around to a huge jump).
  EXPECT_FALSE(PollOnce(100 * kMiB));
  EXPECT_FALSE(PollOnce(0));
  EXPECT_EQ(500 * kMiB, detector_->last_dump_memory_total_for_testing());
  EXPECT_TRUE(PollOnce(511 * kMiB));
}

TEST_F(MemoryPeakDetectorTest, StaticThresholdMustBeExceeded) {
  Start(100 * kMiB, 10 * kMiB);
  EXPECT_FALSE(PollOnce(110 * kMiB));
  EXPECT_TRUE(PollOnce(110 * kMiB + 1));
  // The peak is the new base line.
  EXPECT_EQ(110 * kMiB + 1, detector_->last_dump_memory_total_for_testing());
  EXPECT_FALSE(PollOnce(120 * kMiB));
  EXPECT_TRUE(PollOnce(121 * kMiB));
  EXPECT_EQ(2, peaks_);
}

TEST_F(MemoryPeakDetectorTest, WindowPeakNeedsFiftySamples) {
  // 48 noisy samples and a jump as the 49th: the window is not full.
  Start(100 * kMiB, kHugeThreshold);
  EXPECT_TRUE(PollNoisy(48, 100 * kMiB));
  EXPECT_FALSE(PollOnce(110 * kMiB));

  // 49 noisy samples and the same jump as the 50th is a peak.
  detector_->Stop();
  Start(100 * kMiB, kHugeThreshold);
  EXPECT_TRUE(PollNoisy(49, 100 * kMiB));
  EXPECT_TRUE(PollOnce(110 * kMiB));
  EXPECT_EQ(1, peaks_);
}

TEST_F(MemoryPeakDetectorTest, WindowPeakNeedsDeviationBeyondNoise) {
  // A jump of twice the noise stays within 3.69 standard deviations.
  Start(100 * kMiB, kHugeThreshold);
  EXPECT_TRUE(PollNoisy(49, 100 * kMiB));
  EXPECT_FALSE(PollOnce(102 * kMiB));
  // The window keeps moving: another noisy sample, then a real jump.
  EXPECT_TRUE(PollNoisy(1, 100 * kMiB));
  EXPECT_TRUE(PollOnce(110 * kMiB));
}

TEST_F(MemoryPeakDetectorTest, ZeroTotalStaysOutOfTheWindow) {
  // A poll of 0 bytes neither counts as a sample nor blocks the window: the
  // 50th non-zero sample still completes it.
  Start(100 * kMiB, kHugeThreshold);
  EXPECT_TRUE(PollNoisy(30, 100 * kMiB));
  EXPECT_FALSE(PollOnce(0));
  EXPECT_TRUE(PollNoisy(19, 100 * kMiB));
  EXPECT_TRUE(PollOnce(110 * kMiB));
}

TEST_F(MemoryPeakDetectorTest, SteadyOrIdleTotalsGiveNoWindowPeak) {
  // A constant total has no spread at all.
  Start(100 * kMiB, kHugeThreshold);
  for (int i = 0; i < 60; ++i)
    EXPECT_FALSE(PollOnce(100 * kMiB)) << i;

  // Noise of 100 bytes is idle (under 0.2 % of the mean), and so is a 1 MiB
  // jump on 100 MiB, far out of that noise as it is.
  detector_->Stop();
  Start(100 * kMiB, kHugeThreshold);
  for (int i = 0; i < 49; ++i)
    EXPECT_FALSE(PollOnce(100 * kMiB + (i % 2 ? 100 : 0)));
  EXPECT_FALSE(PollOnce(101 * kMiB));
  EXPECT_EQ(0, peaks_);
}

TEST_F(MemoryPeakDetectorTest, PollsAfterPeakAreSkipped) {
  // 100 ms between peaks at 25 ms a poll: 4 polls skipped.
  Start(100 * kMiB, 10 * kMiB, 100);
  EXPECT_TRUE(PollOnce(200 * kMiB));
  EXPECT_EQ(4u, detector_->skip_polls_for_testing());
  for (int i = 0; i < 4; ++i)
    EXPECT_FALSE(PollOnce(1000 * kMiB * (i + 1))) << i;
  EXPECT_EQ(0u, detector_->skip_polls_for_testing());
  // Compared with the peak's total, not the skipped ones.
  EXPECT_TRUE(PollOnce(211 * kMiB));

  // A period that does not divide the minimum rounds up.
  detector_->Stop();
  Start(100 * kMiB, 10 * kMiB, 100, 30);
  EXPECT_TRUE(PollOnce(200 * kMiB));
  EXPECT_EQ(4u, detector_->skip_polls_for_testing());
}

TEST_F(MemoryPeakDetectorTest, ProvidersComingAndGoingStartAndStopPolling) {
  has_provider_ = false;
  EXPECT_EQ(MemoryPeakDetector::DISABLED, detector_->state_for_testing());
  // Not started: a change is not even looked at.
  detector_->NotifyMemoryDumpProvidersChanged();
  runner_->RunUntilIdle();
  EXPECT_EQ(0, provider_lookups_);

  Start(100 * kMiB, 10 * kMiB);
  EXPECT_EQ(MemoryPeakDetector::ENABLED, detector_->state_for_testing());
  EXPECT_EQ(0u, runner_->pending_count());
  EXPECT_EQ(0, provider_.polls);

  const uint32_t generation = detector_->generation_for_testing();
  SetProviderPresent(true);
  EXPECT_EQ(MemoryPeakDetector::RUNNING, detector_->state_for_testing());
  EXPECT_EQ(generation + 1, detector_->generation_for_testing());
  EXPECT_EQ(1, provider_.polls);
  EXPECT_EQ(1u, runner_->pending_count());

  SetProviderPresent(false);
  EXPECT_EQ(MemoryPeakDetector::ENABLED, detector_->state_for_testing());
  EXPECT_EQ(generation + 2, detector_->generation_for_testing());
  // The poll still pending ends without polling or posting.
  runner_->FastForwardBy(TimeDelta::FromMilliseconds(kPollingMs));
  EXPECT_EQ(1, provider_.polls);
  EXPECT_EQ(0u, runner_->pending_count());
}

TEST_F(MemoryPeakDetectorTest, OldGenerationPollDoesNothing) {
  Start(100 * kMiB, 10 * kMiB);
  const uint32_t polls_before = detector_->poll_tasks_count_for_testing();
  // Gone and back within one period: the old chain's poll is still pending
  // beside the new chain's.
  SetProviderPresent(false);
  SetProviderPresent(true);
  EXPECT_EQ(polls_before + 1, detector_->poll_tasks_count_for_testing());
  EXPECT_EQ(2u, runner_->pending_count());

  runner_->FastForwardBy(TimeDelta::FromMilliseconds(kPollingMs));
  // Only the new chain polled and posted again.
  EXPECT_EQ(polls_before + 2, detector_->poll_tasks_count_for_testing());
  EXPECT_EQ(1u, runner_->pending_count());

  // Stopping ends the chain the same way.
  detector_->Stop();
  runner_->RunUntilIdle();
  EXPECT_EQ(MemoryPeakDetector::DISABLED, detector_->state_for_testing());
  runner_->FastForwardBy(TimeDelta::FromMilliseconds(kPollingMs));
  EXPECT_EQ(polls_before + 2, detector_->poll_tasks_count_for_testing());
  EXPECT_EQ(0u, runner_->pending_count());
}

}  // namespace
}  // namespace trace_event
}  // namespace base
