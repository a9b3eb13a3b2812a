#include "base/metrics/histogram.h"

#include <windows.h>

#include <limits>
#include <memory>
#include <vector>

#include "base/metrics/bucket_ranges.h"
#include "base/metrics/histogram_functions.h"
#include "base/metrics/histogram_samples.h"
#include "base/metrics/metrics_hashes.h"
#include "base/metrics/sparse_histogram.h"
#include "base/metrics/statistics_recorder.h"
#include "base/strings/string_number_conversions.h"
#include "base/test/test_thread.h"
#include "base/time/time.h"
#include "gtest/gtest.h"

namespace base {
namespace {

std::vector<int> Boundaries(const BucketRanges& ranges) {
  std::vector<int> result;
  for (size_t i = 0; i < ranges.size(); ++i)
    result.push_back(ranges.range(i));
  return result;
}

std::vector<int> Exponential(int min, int max, size_t buckets) {
  BucketRanges ranges(buckets + 1);
  BucketRanges::InitializeExponential(min, max, &ranges);
  EXPECT_TRUE(ranges.HasValidChecksum());
  return Boundaries(ranges);
}

const int kTop = std::numeric_limits<int>::max();

// Histograms live as long as the process: a name of its own on every run
// keeps a repeated test from counting the samples of the run before.
std::string FreshName(const char* name) {
  static int runs = 0;
  return std::string(name) + "." + IntToString(++runs);
}

TEST(BucketRangesTest, ExponentialLayouts) {
  EXPECT_EQ(std::vector<int>({0, 1, 2, 3, 5, 9, 16, 29, 54, 100, kTop}),
            Exponential(1, 100, 10));
  EXPECT_EQ(std::vector<int>({0, 1, 2, 5, 12, 29, 70, 170, 412, 1000, kTop}),
            Exponential(1, 1000, 10));
  // Where the logarithmic step rounds to the current value, the bucket is
  // one value wide.
  EXPECT_EQ(std::vector<int>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, kTop}),
            Exponential(1, 10, 11));
  std::vector<int> wide = Exponential(1, 10000, 50);
  EXPECT_EQ(std::vector<int>({0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 12, 14}),
            std::vector<int>(wide.begin(), wide.begin() + 12));
  EXPECT_EQ(10000, wide[49]);
}

TEST(BucketRangesTest, LinearLayoutsAndChecksum) {
  BucketRanges linear(12);
  BucketRanges::InitializeLinear(1, 10, &linear);
  EXPECT_EQ(std::vector<int>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, kTop}),
            Boundaries(linear));

  BucketRanges boolean(4);
  BucketRanges::InitializeLinear(1, 2, &boolean);
  EXPECT_EQ(std::vector<int>({0, 1, 2, kTop}), Boundaries(boolean));
  EXPECT_EQ(0x3EB2A456u, boolean.checksum());

  BucketRanges same(4);
  BucketRanges::InitializeLinear(1, 2, &same);
  EXPECT_TRUE(boolean.Equals(&same));
  EXPECT_FALSE(boolean.Equals(&linear));

  same.set_range(2, 3);
  EXPECT_FALSE(same.HasValidChecksum());
}

TEST(HistogramTest, SameNameSameObject) {
  HistogramBase* first =
      Histogram::FactoryGet("HistogramTest.Same", 1, 1000, 50, 1);
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(first, Histogram::FactoryGetByCString("HistogramTest.Same", 1, 1000,
                                                  50, 1));
  EXPECT_EQ(first, StatisticsRecorder::FindHistogram("HistogramTest.Same"));
  // Other arguments for a registered name give a histogram that keeps
  // nothing, never null: callers record into the result unchecked.
  HistogramBase* other =
      Histogram::FactoryGet("HistogramTest.Same", 1, 1000, 40, 1);
  ASSERT_NE(nullptr, other);
  EXPECT_NE(first, other);
  other->Add(5);
  other->AddCount(7, 3);
  EXPECT_EQ(0, other->SnapshotSamples()->TotalCount());
  EXPECT_EQ(0, first->SnapshotSamples()->TotalCount());
  EXPECT_EQ(first, StatisticsRecorder::FindHistogram("HistogramTest.Same"));
  EXPECT_EQ(HashMetricName("HistogramTest.Same"), first->name_hash());
  EXPECT_EQ(1, first->flags());
  EXPECT_STREQ("HistogramTest.Same", first->histogram_name());
}

TEST(HistogramTest, BadArgumentsAreAdjustedAndReported) {
  HistogramBase* bad_args =
      SparseHistogram::FactoryGet("Histogram.BadConstructionArguments", 1);
  std::unique_ptr<HistogramSamples> before = bad_args->SnapshotSamples();

  Histogram* histogram = static_cast<Histogram*>(
      Histogram::FactoryGet("HistogramTest.Bad", 0, kTop, 20000, 1));
  ASSERT_NE(nullptr, histogram);
  EXPECT_EQ(1, histogram->declared_min());
  EXPECT_EQ(2147483646, histogram->declared_max());
  EXPECT_EQ(10002u, histogram->bucket_count());

  const int hash_sample = static_cast<int>(HashMetricName("HistogramTest.Bad"));
  std::unique_ptr<HistogramSamples> after = bad_args->SnapshotSamples();
  EXPECT_EQ(before->GetCount(hash_sample) + 1, after->GetCount(hash_sample));

  Histogram* narrow = static_cast<Histogram*>(
      Histogram::FactoryGet("HistogramTest.Narrow", 5, 5, 10, 1));
  ASSERT_NE(nullptr, narrow);
  EXPECT_EQ(5, narrow->declared_min());
  EXPECT_EQ(6, narrow->declared_max());
  EXPECT_EQ(3u, narrow->bucket_count());
}

// Reversed arguments are put in order before the minimum is raised to 1,
// so the layout still rises from 0 and the histogram finds itself sound.
TEST(HistogramTest, ReversedArgumentsGiveAscendingRanges) {
  struct Case {
    int minimum;
    int maximum;
    uint32_t buckets;
    std::vector<int> boundaries;
  };
  const Case cases[] = {
      {10, -5, 10, Exponential(1, 10, 10)},
      {1, 0, 1, {0, 1, 2, kTop}},
      {0, -5, 10, {0, 1, 2, kTop}},
  };
  for (const Case& c : cases) {
    const std::string name = FreshName("HistogramTest.Reversed");
    Histogram* histogram = static_cast<Histogram*>(
        Histogram::FactoryGet(name, c.minimum, c.maximum, c.buckets, 1));
    ASSERT_NE(nullptr, histogram) << c.minimum << " " << c.maximum;
    EXPECT_EQ(c.boundaries, Boundaries(*histogram->bucket_ranges()))
        << c.minimum << " " << c.maximum;
    histogram->Add(1);
    EXPECT_EQ(0u, histogram->FindCorruption(*histogram->SnapshotSamples()))
        << c.minimum << " " << c.maximum;
  }
}

TEST(HistogramTest, RecordingClampsAndIgnoresEmptyCounts) {
  HistogramBase* histogram =
      Histogram::FactoryGet(FreshName("HistogramTest.Record"), 1, 100, 10, 1);
  histogram->AddCount(50, 0);
  histogram->AddCount(50, -3);
  EXPECT_EQ(0, histogram->SnapshotSamples()->TotalCount());

  histogram->Add(-7);
  histogram->Add(kTop);
  histogram->AddCount(12, 2);
  std::unique_ptr<HistogramSamples> samples = histogram->SnapshotSamples();
  EXPECT_EQ(4, samples->TotalCount());
  EXPECT_EQ(1, samples->GetCount(0));
  EXPECT_EQ(1, samples->GetCount(2147483646));
  // 12 falls in the bucket [9, 16).
  EXPECT_EQ(2, samples->GetCount(9));
  EXPECT_EQ(int64_t{2147483646} + 24, samples->sum());
}

TEST(HistogramTest, SnapshotDeltaMovesSamples) {
  HistogramBase* histogram =
      Histogram::FactoryGet(FreshName("HistogramTest.Delta"), 1, 100, 10, 1);
  histogram->Add(3);
  histogram->Add(3);
  EXPECT_EQ(2, histogram->SnapshotFinalDelta()->TotalCount());
  std::unique_ptr<HistogramSamples> delta = histogram->SnapshotDelta();
  EXPECT_EQ(2, delta->GetCount(3));
  EXPECT_EQ(0, histogram->SnapshotDelta()->TotalCount());
  histogram->Add(4);
  EXPECT_EQ(1, histogram->SnapshotFinalDelta()->TotalCount());
  // Everything, logged or not.
  EXPECT_EQ(3, histogram->SnapshotSamples()->TotalCount());
  EXPECT_EQ(10, histogram->SnapshotSamples()->sum());
}

TEST(HistogramTest, TimeAndBooleanSamples) {
  const std::string time_name = FreshName("HistogramTest.Time");
  HistogramBase* time = Histogram::FactoryTimeGetByCString(
      time_name.c_str(), TimeDelta::FromMilliseconds(1),
      TimeDelta::FromMilliseconds(10000), 50, 1);
  ASSERT_NE(nullptr, time);
  EXPECT_EQ(time, Histogram::FactoryTimeGet(
                      time_name, TimeDelta::FromMilliseconds(1),
                      TimeDelta::FromMilliseconds(10000), 50, 1));
  time->AddTime(TimeDelta::FromMilliseconds(1500));
  EXPECT_EQ(1500, time->SnapshotSamples()->sum());

  HistogramBase* boolean =
      BooleanHistogram::FactoryGet(FreshName("HistogramTest.Bool"), 1);
  EXPECT_EQ(BOOLEAN_HISTOGRAM, boolean->GetHistogramType());
  boolean->AddBoolean(true);
  boolean->AddBoolean(true);
  boolean->AddBoolean(false);
  std::unique_ptr<HistogramSamples> samples = boolean->SnapshotSamples();
  EXPECT_EQ(1, samples->GetCount(0));
  EXPECT_EQ(2, samples->GetCount(1));
}

TEST(HistogramTest, LinearAndExactLinear) {
  HistogramBase* linear = LinearHistogram::FactoryGet(
      FreshName("HistogramTest.Linear"), 1, 4, 5, 1);
  ASSERT_NE(nullptr, linear);
  EXPECT_EQ(LINEAR_HISTOGRAM, linear->GetHistogramType());
  EXPECT_TRUE(linear->HasConstructionArguments(1, 4, 5));

  const std::string exact_name = FreshName("HistogramTest.Exact");
  UmaHistogramExactLinear(exact_name, 3, 10);
  UmaHistogramExactLinear(exact_name, 3, 10);
  UmaHistogramExactLinear(exact_name, 25, 10);  // Overflow bucket.
  UmaHistogramExactLinear(exact_name, 3, 20);   // Other buckets: dropped.
  HistogramBase* exact = StatisticsRecorder::FindHistogram(exact_name);
  ASSERT_NE(nullptr, exact);
  EXPECT_TRUE(exact->HasConstructionArguments(1, 10, 11));
  std::unique_ptr<HistogramSamples> samples = exact->SnapshotSamples();
  EXPECT_EQ(2, samples->GetCount(3));
  EXPECT_EQ(0, samples->GetCount(4));
  EXPECT_EQ(1, samples->GetCount(11));
  EXPECT_EQ(3, samples->TotalCount());
}

TEST(HistogramTest, SparseSamples) {
  const std::string sparse_name = FreshName("HistogramTest.Sparse");
  UmaHistogramSparse(sparse_name, -5);
  UmaHistogramSparse(sparse_name, 7);
  UmaHistogramSparse(sparse_name, 7);
  HistogramBase* sparse = StatisticsRecorder::FindHistogram(sparse_name);
  ASSERT_NE(nullptr, sparse);
  EXPECT_EQ(SPARSE_HISTOGRAM, sparse->GetHistogramType());
  EXPECT_EQ(sparse, SparseHistogram::FactoryGet(sparse_name, 0));
  sparse->AddCount(9, 0);

  std::unique_ptr<HistogramSamples> samples = sparse->SnapshotSamples();
  EXPECT_EQ(3, samples->TotalCount());
  EXPECT_EQ(1, samples->GetCount(-5));
  EXPECT_EQ(2, samples->GetCount(7));
  EXPECT_EQ(0, samples->GetCount(9));
  std::vector<HistogramSamples::Entry> entries = samples->GetEntries();
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ(-5, entries[0].min);

  EXPECT_EQ(3, sparse->SnapshotDelta()->TotalCount());
  EXPECT_EQ(0, sparse->SnapshotFinalDelta()->TotalCount());
  EXPECT_EQ(3, sparse->SnapshotSamples()->TotalCount());
}

TEST(HistogramTest, MetricNameHash) {
  // The first 8 bytes of MD5("Back"), big-endian.
  EXPECT_EQ(0x0557fa923dcee4d0ull, HashMetricName("Back"));
  EXPECT_EQ(GetPermanentName("HistogramTest.Permanent"),
            GetPermanentName(std::string("HistogramTest.Permanent")));
}

DWORD WINAPI AddThousand(void* param) {
  HistogramBase* histogram = static_cast<HistogramBase*>(param);
  for (int i = 0; i < 1000; ++i)
    histogram->Add(i % 100);
  return 0;
}

TEST(HistogramTest, ConcurrentRecordingLosesNothing) {
  HistogramBase* histogram = Histogram::FactoryGet(
      FreshName("HistogramTest.Concurrent"), 1, 100, 20, 1);
  std::vector<std::unique_ptr<TestThread>> threads;
  for (int i = 0; i < 4; ++i) {
    threads.push_back(
        std::make_unique<TestThread>([histogram] { AddThousand(histogram); }));
  }
  for (auto& thread : threads)
    thread->Join();
  std::unique_ptr<HistogramSamples> samples = histogram->SnapshotSamples();
  EXPECT_EQ(4000, samples->TotalCount());
  EXPECT_EQ(4000, samples->redundant_count());
}

TEST(HistogramDeathTest, OneNameOneKind) {
  Histogram::FactoryGet("HistogramTest.Kind", 1, 100, 10, 1);
  EXPECT_DEATH(SparseHistogram::FactoryGet("HistogramTest.Kind", 1), "");
}

}  // namespace
}  // namespace base
