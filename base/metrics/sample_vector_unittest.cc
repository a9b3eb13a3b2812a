#include "base/metrics/sample_vector.h"

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "base/metrics/bucket_ranges.h"
#include "base/metrics/histogram.h"
#include "base/metrics/metrics_hashes.h"
#include "base/metrics/sample_map.h"
#include "base/pickle.h"
#include "base/test/histogram_counts.h"
#include "base/test/test_thread.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// 0, 1, 2, 3, 5, 9, 16, 29, 54, 100, max.
std::unique_ptr<BucketRanges> TenBuckets() {
  std::unique_ptr<BucketRanges> ranges(new BucketRanges(11));
  BucketRanges::InitializeExponential(1, 100, ranges.get());
  return ranges;
}

TEST(SampleVectorTest, SingleSampleUntilASecondBucketOrALargeCount) {
  std::unique_ptr<BucketRanges> ranges = TenBuckets();

  SampleVector vector(1, ranges.get());
  for (int i = 0; i < 1000; ++i)
    vector.Accumulate(6, 65);  // Bucket [5, 9).
  EXPECT_FALSE(vector.HasCountsStorage());
  EXPECT_EQ(65000, vector.GetCount(8));
  EXPECT_EQ(65000, vector.TotalCount());
  // Up to 65535 fits the word; one more does not.
  vector.Accumulate(5, 535);
  EXPECT_FALSE(vector.HasCountsStorage());
  vector.Accumulate(5, 1);
  EXPECT_TRUE(vector.HasCountsStorage());
  EXPECT_EQ(65536, vector.GetCount(5));
  EXPECT_EQ(65536, vector.redundant_count());
  EXPECT_EQ(6 * 65000 + 5 * 536, vector.sum());

  SampleVector two(2, ranges.get());
  two.Accumulate(3, 2);
  EXPECT_FALSE(two.HasCountsStorage());
  two.Accumulate(50, 1);
  EXPECT_TRUE(two.HasCountsStorage());
  // The single sample moved into the array.
  EXPECT_EQ(2, two.GetCount(3));
  EXPECT_EQ(1, two.GetCountAtIndex(two.GetBucketIndex(50)));
  EXPECT_EQ(3, two.TotalCount());
  std::vector<HistogramSamples::Entry> entries = two.GetEntries();
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ(3, entries[0].min);
  EXPECT_EQ(5, entries[0].max);
  EXPECT_EQ(29, entries[1].min);
  EXPECT_EQ(54, entries[1].max);
}

TEST(SampleVectorTest, AtomicSingleSampleRefusesWhatDoesNotFit) {
  HistogramSamples::AtomicSingleSample word;
  EXPECT_TRUE(word.Accumulate(3, 0));
  EXPECT_EQ(0, word.Load().count);
  EXPECT_TRUE(word.Accumulate(3, 4));
  EXPECT_FALSE(word.Accumulate(4, 1));      // Another bucket.
  EXPECT_FALSE(word.Accumulate(3, -5));     // Below zero.
  EXPECT_FALSE(word.Accumulate(70000, 1));  // Index too large.
  EXPECT_FALSE(word.Accumulate(3, 65536));  // Count too large.
  EXPECT_TRUE(word.Accumulate(3, -4));
  EXPECT_EQ(0, word.Load().count);
  // The word keeps its bucket at a count of 0.
  EXPECT_FALSE(word.Accumulate(9, 1));
  EXPECT_TRUE(word.Accumulate(3, 1));

  HistogramSamples::SingleSample old = word.Extract(/*disable=*/true);
  EXPECT_EQ(3, old.bucket);
  EXPECT_EQ(1, old.count);
  EXPECT_TRUE(word.IsDisabled());
  EXPECT_FALSE(word.Accumulate(9, 1));
  EXPECT_EQ(0, word.Load().count);
  EXPECT_EQ(0, word.Extract(/*disable=*/false).count);
  EXPECT_FALSE(word.IsDisabled());
}

TEST(SampleVectorTest, PickleRoundTrip) {
  std::unique_ptr<BucketRanges> ranges = TenBuckets();
  SampleVector single(1, ranges.get());
  single.Accumulate(20, 7);
  Pickle pickle;
  single.Serialize(&pickle);

  SampleVector copy(1, ranges.get());
  PickleIterator iter(pickle);
  EXPECT_TRUE(copy.AddFromPickle(&iter));
  EXPECT_EQ(single.sum(), copy.sum());
  EXPECT_EQ(7, copy.redundant_count());
  EXPECT_EQ(7, copy.GetCount(16));
  EXPECT_FALSE(copy.HasCountsStorage());

  // Several buckets into a vector that already holds samples.
  SampleVector many(1, ranges.get());
  many.Accumulate(0, 1);
  many.Accumulate(99, 2);
  many.Accumulate(1000, 3);
  Pickle many_pickle;
  many.Serialize(&many_pickle);
  PickleIterator many_iter(many_pickle);
  EXPECT_TRUE(copy.AddFromPickle(&many_iter));
  EXPECT_EQ(13, copy.TotalCount());
  EXPECT_EQ(13, copy.redundant_count());
  EXPECT_EQ(3, copy.GetCount(100));
  EXPECT_EQ(2, copy.GetCount(54));
  EXPECT_EQ(1, copy.GetCount(0));
  EXPECT_EQ(140 + 198 + 3000, copy.sum());

  // The same samples into a map keep their values' bucket boundaries.
  SampleMap map(1);
  PickleIterator map_iter(pickle);
  EXPECT_FALSE(map.AddFromPickle(&map_iter));  // [16, 29) is not one value.
}

TEST(SampleVectorTest, MalformedPickleFailsWithoutStopping) {
  std::unique_ptr<BucketRanges> ranges = TenBuckets();
  SampleVector vector(1, ranges.get());
  // A failed merge must change nothing, not even the sum or the count.
  auto expect_untouched = [&vector] {
    EXPECT_EQ(0, vector.TotalCount());
    EXPECT_EQ(0, vector.sum());
    EXPECT_EQ(0, vector.redundant_count());
  };

  Pickle truncated;
  truncated.WriteInt64(5);
  PickleIterator truncated_iter(truncated);
  EXPECT_FALSE(vector.AddFromPickle(&truncated_iter));
  expect_untouched();

  // An entry that matches no bucket of this layout, after one that does.
  Pickle misfit;
  misfit.WriteInt64(10);
  misfit.WriteInt(2);
  misfit.WriteInt(3);
  misfit.WriteInt64(5);
  misfit.WriteInt(1);
  misfit.WriteInt(4);
  misfit.WriteInt64(6);
  misfit.WriteInt(1);
  PickleIterator misfit_iter(misfit);
  EXPECT_FALSE(vector.AddFromPickle(&misfit_iter));
  expect_untouched();

  // A later entry with the right start but the wrong end.
  Pickle wrong_end;
  wrong_end.WriteInt64(22);
  wrong_end.WriteInt(2);
  wrong_end.WriteInt(5);
  wrong_end.WriteInt64(9);
  wrong_end.WriteInt(1);
  wrong_end.WriteInt(16);
  wrong_end.WriteInt64(30);
  wrong_end.WriteInt(1);
  PickleIterator wrong_end_iter(wrong_end);
  EXPECT_FALSE(vector.AddFromPickle(&wrong_end_iter));
  expect_untouched();

  // A value below the layout, as a hostile pickle could hold.
  Pickle outside;
  outside.WriteInt64(-4);
  outside.WriteInt(1);
  outside.WriteInt(-4);
  outside.WriteInt64(-3);
  outside.WriteInt(1);
  PickleIterator outside_iter(outside);
  EXPECT_FALSE(vector.AddFromPickle(&outside_iter));
  expect_untouched();

  // The same entries in fitting form merge whole.
  Pickle good;
  good.WriteInt64(22);
  good.WriteInt(2);
  good.WriteInt(5);
  good.WriteInt64(9);
  good.WriteInt(1);
  good.WriteInt(16);
  good.WriteInt64(29);
  good.WriteInt(1);
  PickleIterator good_iter(good);
  EXPECT_TRUE(vector.AddFromPickle(&good_iter));
  EXPECT_EQ(2, vector.TotalCount());
  EXPECT_EQ(1, vector.GetCount(20));
  EXPECT_EQ(22, vector.sum());
  EXPECT_EQ(2, vector.redundant_count());
}

// The last boundary closes the layout: an entry starting there belongs to no
// bucket and must fail the merge like one beyond it, not reach the bucket
// search, which stops the process on it.
TEST(SampleVectorTest, EntryAtTheTopBoundaryFailsTheMerge) {
  std::unique_ptr<BucketRanges> ranges = TenBuckets();
  const int top = ranges->range(ranges->bucket_count());
  SampleVector vector(1, ranges.get());
  vector.Accumulate(20, 1);
  auto entry_pickle = [](int min, int64_t max) {
    Pickle pickle;
    pickle.WriteInt64(min);
    pickle.WriteInt(1);
    pickle.WriteInt(min);
    pickle.WriteInt64(max);
    pickle.WriteInt(1);
    return pickle;
  };

  for (int64_t max : {int64_t{top} + 1, int64_t{top}}) {
    Pickle at_top = entry_pickle(top, max);
    PickleIterator iter(at_top);
    EXPECT_FALSE(vector.AddFromPickle(&iter)) << max;
    EXPECT_EQ(1, vector.TotalCount());
    EXPECT_EQ(20, vector.sum());
  }

  // The histogram's own merge refuses it as well.
  HistogramBase* histogram =
      Histogram::FactoryGet("SampleVectorTest.Top", 1, 100, 10, 1);
  Pickle at_top = entry_pickle(top, int64_t{top} + 1);
  PickleIterator iter(at_top);
  EXPECT_FALSE(histogram->AddSamplesFromPickle(&iter));

  // The last real bucket still merges.
  Pickle last = entry_pickle(ranges->range(ranges->bucket_count() - 1), top);
  PickleIterator last_iter(last);
  EXPECT_TRUE(vector.AddFromPickle(&last_iter));
  EXPECT_EQ(2, vector.TotalCount());
}

TEST(SampleVectorTest, SampleMapEntriesMustBeOneValueWide) {
  SampleMap map(7);
  map.Accumulate(-3, 2);
  map.Accumulate(10, 1);
  EXPECT_EQ(3, map.TotalCount());
  EXPECT_EQ(4, map.sum());

  SampleMap copy(7);
  copy.Add(map);
  copy.Subtract(map);
  EXPECT_EQ(0, copy.TotalCount());
  EXPECT_EQ(0, copy.GetEntries().size());  // Zero counts are skipped.

  // A wide entry after a fitting one: nothing of the pickle is taken.
  Pickle wide;
  wide.WriteInt64(10);
  wide.WriteInt(2);
  wide.WriteInt(7);
  wide.WriteInt64(8);
  wide.WriteInt(1);
  wide.WriteInt(3);
  wide.WriteInt64(5);
  wide.WriteInt(1);
  PickleIterator iter(wide);
  EXPECT_FALSE(copy.AddFromPickle(&iter));
  EXPECT_EQ(0, copy.GetCount(7));
  EXPECT_EQ(0, copy.sum());
  EXPECT_EQ(0, copy.redundant_count());
}

TEST(SampleVectorTest, WrappingCountIsReportedAsOverflow) {
  // Histograms live as long as the process: a repeated run needs a name of
  // its own to start from an empty bucket. The negative-sample histograms
  // stay those of the process-wide recorder, so no temporary one is used.
  static int run = 0;
  const std::string name = "SampleVectorTest.Wrap." + std::to_string(run++);
  HistogramBase* histogram = Histogram::FactoryGet(name, 1, 100, 10, 1);
  const HistogramBase::Count overflows_before =
      HistogramSampleCount("UMA.NegativeSamples.Reason", 8);
  const HistogramBase::Count increments_before =
      HistogramSampleCount("UMA.NegativeSamples.Increment", 1);
  const int id = static_cast<int>(HashMetricName(name));
  const HistogramBase::Count ids_before =
      HistogramSampleCount("UMA.NegativeSamples.Histogram", id);

  histogram->AddCount(50, std::numeric_limits<int>::max());
  EXPECT_EQ(overflows_before,
            HistogramSampleCount("UMA.NegativeSamples.Reason", 8));
  histogram->Add(50);
  EXPECT_EQ(overflows_before + 1,
            HistogramSampleCount("UMA.NegativeSamples.Reason", 8));
  EXPECT_EQ(ids_before + 1,
            HistogramSampleCount("UMA.NegativeSamples.Histogram", id));
  EXPECT_EQ(increments_before + 1,
            HistogramSampleCount("UMA.NegativeSamples.Increment", 1));
  EXPECT_GT(0, histogram->SnapshotSamples()->GetCount(50));
}

TEST(SampleVectorTest, RacingFirstSamplesAreAllKept) {
  std::unique_ptr<BucketRanges> ranges = TenBuckets();
  // Every round races eight threads over the step from the single sample
  // to the counts array.
  for (int round = 0; round < 20; ++round) {
    SampleVector vector(1, ranges.get());
    std::vector<std::unique_ptr<TestThread>> threads;
    for (int t = 0; t < 8; ++t) {
      threads.push_back(std::make_unique<TestThread>([&vector, t] {
        for (int i = 0; i < 200; ++i)
          vector.Accumulate(t * 12, 1);
      }));
    }
    for (auto& thread : threads)
      thread->Join();
    EXPECT_EQ(1600, vector.TotalCount());
    EXPECT_EQ(1600, vector.redundant_count());
    EXPECT_EQ(200 * 12 * 28, vector.sum());
  }
}

}  // namespace
}  // namespace base
