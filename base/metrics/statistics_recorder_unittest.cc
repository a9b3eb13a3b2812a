#include "base/metrics/statistics_recorder.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "base/bind.h"
#include "base/metrics/bucket_ranges.h"
#include "base/metrics/histogram.h"
#include "base/metrics/histogram_persistence.h"
#include "base/metrics/histogram_samples.h"
#include "base/metrics/metrics_hashes.h"
#include "base/metrics/sample_map.h"
#include "base/metrics/sparse_histogram.h"
#include "base/test/test_thread.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// The row of an ASCII graph after the label: the bar and the figures.
std::string Bar(int dashes) {
  return std::string(dashes, '-') + "O" + std::string(72 - dashes, ' ');
}

TEST(StatisticsRecorderTest, WriteGraphListsMatchingHistogramsByName) {
  std::unique_ptr<StatisticsRecorder> recorder =
      StatisticsRecorder::CreateTemporaryForTesting();

  HistogramBase* latency =
      Histogram::FactoryGet("TaskA.Latency", 1, 100, 10, 0);
  latency->Add(20);
  latency->Add(1);
  latency->Add(1);
  LinearHistogram::FactoryGet("Task.Linear", 1, 4, 5, 1);
  Histogram::FactoryGet("Other", 1, 100, 10, 0)->Add(3);

  std::string output;
  StatisticsRecorder::WriteGraph("Task", &output);
  const std::string expected =
      "Collections of histograms for Task\n"
      "Histogram: Task.Linear recorded 0 samples (flags = 0x1)\n"
      "0 ... \n"
      "\n"
      "Histogram: TaskA.Latency recorded 3 samples, mean = 7.3\n"
      "0   " +
      Bar(0) +
      " (0 = 0.0%)\n"
      "1   " +
      Bar(72) +
      " (2 = 66.7%) {0.0%}\n"
      "2   ... \n"
      "16  " +
      Bar(7) +
      " (1 = 33.3%) {66.7%}\n"
      "29  ... \n"
      "\n";
  EXPECT_EQ(expected, output);

  std::string all;
  StatisticsRecorder::WriteGraph("", &all);
  EXPECT_EQ(0u, all.find("Collections of all histograms\nHistogram: Other "));
  EXPECT_NE(std::string::npos, all.find("Histogram: TaskA.Latency"));
}

TEST(StatisticsRecorderTest, TemporaryRecorderHidesAndRestores) {
  HistogramBase* outer =
      Histogram::FactoryGet("RecorderTest.Outer", 1, 9, 5, 0);
  {
    std::unique_ptr<StatisticsRecorder> recorder =
        StatisticsRecorder::CreateTemporaryForTesting();
    EXPECT_EQ(nullptr, StatisticsRecorder::FindHistogram("RecorderTest.Outer"));
    EXPECT_TRUE(StatisticsRecorder::GetHistograms().empty());
  }
  EXPECT_EQ(outer, StatisticsRecorder::FindHistogram("RecorderTest.Outer"));
}

TEST(StatisticsRecorderTest, RangesAreSharedPerLayout) {
  BucketRanges* first = new BucketRanges(11);
  BucketRanges::InitializeExponential(1, 100, first);
  BucketRanges* same = new BucketRanges(11);
  BucketRanges::InitializeExponential(1, 100, same);
  BucketRanges* other = new BucketRanges(11);
  BucketRanges::InitializeLinear(1, 9, other);

  const BucketRanges* registered =
      StatisticsRecorder::RegisterOrDeleteDuplicateRanges(first);
  EXPECT_EQ(registered,
            StatisticsRecorder::RegisterOrDeleteDuplicateRanges(same));
  EXPECT_NE(registered,
            StatisticsRecorder::RegisterOrDeleteDuplicateRanges(other));
  // Histograms of one layout share it.
  Histogram* a = static_cast<Histogram*>(
      Histogram::FactoryGet("RecorderTest.LayoutA", 1, 100, 10, 0));
  Histogram* b = static_cast<Histogram*>(
      Histogram::FactoryGet("RecorderTest.LayoutB", 1, 100, 10, 0));
  EXPECT_EQ(registered, a->bucket_ranges());
  EXPECT_EQ(registered, b->bucket_ranges());
}

TEST(StatisticsRecorderTest, RacingFactoriesGetOneObject) {
  // A recorder of its own: a repeated run must race over names nobody has
  // registered yet.
  std::unique_ptr<StatisticsRecorder> recorder =
      StatisticsRecorder::CreateTemporaryForTesting();
  for (int round = 0; round < 10; ++round) {
    const std::string name = "RecorderTest.Race." + std::to_string(round);
    std::atomic<int> go{0};
    HistogramBase* results[8] = {};
    std::vector<std::unique_ptr<TestThread>> threads;
    for (int t = 0; t < 8; ++t) {
      threads.push_back(std::make_unique<TestThread>([&, t] {
        while (!go.load())
          ::SwitchToThread();
        results[t] = t % 2 ? Histogram::FactoryGet(name, 1, 1000, 50, 1)
                           : Histogram::FactoryGetByCString(name.c_str(), 1,
                                                            1000, 50, 1);
        results[t]->Add(t);
      }));
    }
    go = 1;
    for (auto& thread : threads)
      thread->Join();
    HistogramBase* registered = StatisticsRecorder::FindHistogram(name);
    for (HistogramBase* result : results)
      EXPECT_EQ(registered, result);
    EXPECT_EQ(8, registered->SnapshotSamples()->TotalCount());
  }
}

std::vector<int>* g_callback_samples = nullptr;

void OnSample(HistogramBase::Sample sample) {
  g_callback_samples->push_back(sample);
}

TEST(StatisticsRecorderTest, SampleCallbacksFollowTheFlag) {
  std::vector<int> samples;
  g_callback_samples = &samples;

  EXPECT_TRUE(
      StatisticsRecorder::FindCallback("RecorderTest.NoCallback").is_null());
  HistogramBase* plain =
      Histogram::FactoryGet("RecorderTest.NoCallback", 1, 100, 10, 1);
  EXPECT_FALSE(plain->flags() & HistogramBase::kCallbackExists);

  // Set before the histogram exists: registration raises the flag.
  StatisticsRecorder::SetCallback("RecorderTest.Callback",
                                  BindRepeating(&OnSample));
  HistogramBase* watched =
      Histogram::FactoryGet("RecorderTest.Callback", 1, 100, 10, 1);
  EXPECT_TRUE(watched->flags() & HistogramBase::kCallbackExists);
  watched->Add(-4);  // Clamped before the callback sees it.
  watched->AddCount(7, 0);
  HistogramBase* sparse =
      SparseHistogram::FactoryGet("RecorderTest.SparseCallback", 1);
  StatisticsRecorder::SetCallback("RecorderTest.SparseCallback",
                                  BindRepeating(&OnSample));
  sparse->Add(-4);
  EXPECT_EQ(std::vector<int>({0, -4}), samples);

  StatisticsRecorder::SetCallback("RecorderTest.Callback",
                                  StatisticsRecorder::OnSampleCallback());
  EXPECT_FALSE(watched->flags() & HistogramBase::kCallbackExists);
  watched->Add(5);
  EXPECT_EQ(2u, samples.size());
  g_callback_samples = nullptr;
}

// Places histograms where the test says, standing in for the persistent
// allocator.
class TestPersistence : public HistogramPersistence {
 public:
  std::unique_ptr<HistogramBase> AllocateHistogram(
      HistogramType type,
      const std::string& name,
      HistogramBase::Sample minimum,
      HistogramBase::Sample maximum,
      const BucketRanges* ranges,
      int32_t flags,
      uint32_t* reference) override {
    allocations.push_back(name + "/" + std::to_string(minimum) + "/" +
                          std::to_string(maximum));
    if (!give)
      return nullptr;
    *reference = 77;
    const char* permanent_name = GetPermanentName(name);
    const uint64_t id = HashMetricName(name);
    std::unique_ptr<HistogramBase> histogram;
    if (type == SPARSE_HISTOGRAM) {
      EXPECT_EQ(nullptr, ranges);
      histogram = SparseHistogram::PersistentCreate(
          permanent_name, std::make_unique<SampleMap>(id),
          std::make_unique<SampleMap>(id + 1));
    } else {
      EXPECT_EQ(HISTOGRAM, type);
      histogram = Histogram::PersistentCreate(
          permanent_name, std::make_unique<SampleVector>(id, ranges),
          std::make_unique<SampleVector>(id, ranges));
    }
    histogram->SetFlags(flags | HistogramBase::kIsPersistent);
    return histogram;
  }

  void FinalizeHistogram(uint32_t reference, bool registered) override {
    finalized.push_back(std::to_string(reference) + (registered ? "+" : "-"));
  }

  void ImportHistogramsToStatisticsRecorder() override {
    ++imports;
    // Registering from here must not deadlock.
    if (imports == 1) {
      BucketRanges* ranges = new BucketRanges(4);
      BucketRanges::InitializeLinear(1, 2, ranges);
      const BucketRanges* registered =
          StatisticsRecorder::RegisterOrDeleteDuplicateRanges(ranges);
      const uint64_t id = HashMetricName("Imported");
      StatisticsRecorder::RegisterOrDeleteDuplicate(
          BooleanHistogram::PersistentCreate(
              GetPermanentName("Imported"),
              std::make_unique<SampleVector>(id, registered),
              std::make_unique<SampleVector>(id, registered))
              .release());
    }
  }

  bool give = true;
  int imports = 0;
  std::vector<std::string> allocations;
  std::vector<std::string> finalized;
};

TEST(StatisticsRecorderTest, FactoriesUseAnInstalledPersistence) {
  std::unique_ptr<StatisticsRecorder> recorder =
      StatisticsRecorder::CreateTemporaryForTesting();
  TestPersistence persistence;
  SetHistogramPersistence(&persistence);

  HistogramBase* placed = Histogram::FactoryGet("Persist.A", 1, 100, 10, 1);
  EXPECT_EQ(HISTOGRAM, placed->GetHistogramType());
  EXPECT_TRUE(placed->HasConstructionArguments(1, 100, 10));
  EXPECT_EQ(std::vector<std::string>({"Persist.A/1/100"}),
            persistence.allocations);
  EXPECT_EQ(std::vector<std::string>({"77+"}), persistence.finalized);
  EXPECT_EQ(HistogramBase::kIsPersistent | 1, placed->flags());
  // Lookups import first; the imported histogram is then registered.
  EXPECT_NE(nullptr, StatisticsRecorder::FindHistogram("Imported"));
  EXPECT_LE(1, persistence.imports);

  persistence.give = false;
  HistogramBase* heap = LinearHistogram::FactoryGet(
      "Persist.B", 1, 9, 10, 1 | HistogramBase::kIsPersistent);
  EXPECT_EQ(LINEAR_HISTOGRAM, heap->GetHistogramType());
  EXPECT_EQ(1, heap->flags());
  EXPECT_EQ(1u, persistence.finalized.size());

  persistence.give = true;
  HistogramBase* sparse = SparseHistogram::FactoryGet("Persist.C", 1);
  EXPECT_EQ(SPARSE_HISTOGRAM, sparse->GetHistogramType());
  EXPECT_EQ(HashMetricName("Persist.C"), sparse->name_hash());
  sparse->Add(3);
  EXPECT_EQ(1, sparse->SnapshotSamples()->redundant_count());
  EXPECT_EQ(std::vector<std::string>({"77+", "77+"}), persistence.finalized);

  SetHistogramPersistence(nullptr);
}

}  // namespace
}  // namespace base
