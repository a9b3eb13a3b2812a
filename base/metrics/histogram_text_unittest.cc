#include <memory>
#include <string>

#include "base/metrics/bucket_ranges.h"
#include "base/metrics/histogram.h"
#include "base/metrics/histogram_samples.h"
#include "base/metrics/metrics_hashes.h"
#include "base/metrics/sample_vector.h"
#include "base/metrics/sparse_histogram.h"
#include "base/metrics/statistics_recorder.h"
#include "base/pickle.h"
#include "base/values.h"
#include "gtest/gtest.h"

namespace base {
namespace {

std::string Bar(int dashes) {
  return std::string(dashes, '-') + "O" + std::string(72 - dashes, ' ');
}

class HistogramTextTest : public testing::Test {
 protected:
  // Every test gets names of its own.
  std::unique_ptr<StatisticsRecorder> recorder_ =
      StatisticsRecorder::CreateTemporaryForTesting();
};

TEST_F(HistogramTextTest, EmptyHistogramPrintsOneRun) {
  HistogramBase* empty = Histogram::FactoryGet("Empty", 1, 100, 10, 0);
  std::string text;
  empty->WriteAscii(&text);
  EXPECT_EQ("Histogram: Empty recorded 0 samples\n0 ... \n", text);

  std::string html;
  empty->WriteHTMLGraph(&html);
  EXPECT_EQ("<PRE>Histogram: Empty recorded 0 samples<br>0 ... <br></PRE>",
            html);
}

TEST_F(HistogramTextTest, LinearDescriptionsLabelAndHideBuckets) {
  const LinearHistogram::DescriptionPair descriptions[] = {
      {1, "uno"}, {3, "three"}, {1, "one"}, {0, nullptr}};
  HistogramBase* linear = LinearHistogram::FactoryGetWithRangeDescription(
      "Described", 1, 3, 4, 0, descriptions);
  linear->Add(1);
  std::string text;
  linear->WriteAscii(&text);
  // The later description of 1 wins; the empty, described bucket of 3 is
  // folded into the run of empty buckets.
  EXPECT_EQ(
      "Histogram: Described recorded 1 samples, mean = 1.0\n"
      "0    " +
          Bar(0) +
          " (0 = 0.0%)\n"
          "one  " +
          Bar(72) +
          " (1 = 100.0%) {0.0%}\n"
          "2    ... \n",
      text);

  // A described empty bucket between full ones is left out.
  linear->Add(3);
  linear->Add(3);
  text.clear();
  linear->WriteAscii(&text);
  EXPECT_EQ(
      "Histogram: Described recorded 3 samples, mean = 2.3\n"
      "0      " +
          Bar(0) +
          " (0 = 0.0%)\n"
          "one    " +
          Bar(72) +
          " (1 = 33.3%) {0.0%}\n"
          "2      " +
          Bar(0) +
          " (0 = 0.0%) {33.3%}\n"
          "three  " +
          Bar(0) + " (2 = 66.7%) {33.3%}\n",
      text);
}

// Counts are signed and pickles carry them as they are: a negative bucket
// draws an empty bar, the line keeps its width.
TEST_F(HistogramTextTest, NegativeCountDrawsAnEmptyBar) {
  HistogramBase* histogram = Histogram::FactoryGet("Negative", 1, 100, 10, 0);
  histogram->Add(1);
  Pickle pickle;
  pickle.WriteInt64(-3000);
  pickle.WriteInt(-1000);
  pickle.WriteInt(3);
  pickle.WriteInt64(5);
  pickle.WriteInt(-1000);
  PickleIterator iter(pickle);
  ASSERT_TRUE(histogram->AddSamplesFromPickle(&iter));
  ASSERT_EQ(-1000, histogram->SnapshotSamples()->GetCount(3));

  std::string text;
  histogram->WriteAscii(&text);
  EXPECT_NE(std::string::npos,
            text.find("\n1  " + Bar(72) + " (1 = "))
      << text;
  EXPECT_NE(std::string::npos,
            text.find("\n3  " + Bar(0) + " (-1000 = "))
      << text;
  EXPECT_GT(2000u, text.size()) << text.size();
}

TEST_F(HistogramTextTest, SparseGraphListsValuesInOrder) {
  HistogramBase* sparse = SparseHistogram::FactoryGet("Sparse", 1);
  sparse->Add(7);
  sparse->Add(-5);
  sparse->Add(7);
  std::string text;
  sparse->WriteAscii(&text);
  EXPECT_EQ(
      "Histogram: Sparse recorded 3 samples (flags = 0x1)\n"
      "-5 " +
          Bar(36) +
          " (1 = 33.3%)\n"
          "7  " +
          Bar(72) + " (2 = 66.7%)\n",
      text);

  DictionaryValue params;
  sparse->GetParameters(&params);
  std::string type;
  EXPECT_TRUE(params.GetString("type", &type));
  EXPECT_EQ("SPARSE_HISTOGRAM", type);
  EXPECT_EQ(1u, params.size());

  Pickle pickle;
  sparse->SerializeInfo(&pickle);
  PickleIterator iter(pickle);
  std::string name;
  int flags;
  EXPECT_TRUE(iter.ReadString(&name));
  EXPECT_TRUE(iter.ReadInt(&flags));
  EXPECT_EQ("Sparse", name);
  EXPECT_EQ(1, flags);
  EXPECT_TRUE(iter.ReachedEnd());

  EXPECT_FALSE(sparse->HasConstructionArguments(0, 0, 0));
  EXPECT_EQ(0u, sparse->FindCorruption(*sparse->SnapshotSamples()));
}

TEST_F(HistogramTextTest, ParametersBucketDataAndSerialization) {
  Histogram* histogram =
      static_cast<Histogram*>(Histogram::FactoryGet("Params", 1, 100, 10, 1));
  histogram->AddCount(3, 2);
  histogram->Add(5000);

  DictionaryValue params;
  histogram->GetParameters(&params);
  std::string type;
  int min = 0, max = 0, buckets = 0;
  EXPECT_TRUE(params.GetString("type", &type));
  EXPECT_TRUE(params.GetInteger("min", &min));
  EXPECT_TRUE(params.GetInteger("max", &max));
  EXPECT_TRUE(params.GetInteger("bucket_count", &buckets));
  EXPECT_EQ("HISTOGRAM", type);
  EXPECT_EQ(1, min);
  EXPECT_EQ(100, max);
  EXPECT_EQ(10, buckets);

  HistogramBase::Count count = 0;
  int64_t sum = 0;
  ListValue list;
  histogram->GetCountAndBucketData(&count, &sum, &list);
  EXPECT_EQ(3, count);
  EXPECT_EQ(5006, sum);
  ASSERT_EQ(2u, list.GetSize());
  const DictionaryValue* first;
  ASSERT_TRUE(list.GetDictionary(0, &first));
  int low = 0, high = 0, bucket_count = 0;
  EXPECT_TRUE(first->GetInteger("low", &low));
  EXPECT_TRUE(first->GetInteger("high", &high));
  EXPECT_TRUE(first->GetInteger("count", &bucket_count));
  EXPECT_EQ(3, low);
  EXPECT_EQ(5, high);
  EXPECT_EQ(2, bucket_count);
  const DictionaryValue* last;
  ASSERT_TRUE(list.GetDictionary(1, &last));
  EXPECT_TRUE(last->GetInteger("low", &low));
  EXPECT_EQ(100, low);
  EXPECT_FALSE(last->HasKey("high"));  // The overflow bucket.

  Pickle pickle;
  histogram->SerializeInfo(&pickle);
  PickleIterator iter(pickle);
  std::string name;
  int flags, declared_min, declared_max;
  uint32_t serialized_buckets, checksum;
  EXPECT_TRUE(iter.ReadString(&name));
  EXPECT_TRUE(iter.ReadInt(&flags));
  EXPECT_TRUE(iter.ReadInt(&declared_min));
  EXPECT_TRUE(iter.ReadInt(&declared_max));
  EXPECT_TRUE(iter.ReadUInt32(&serialized_buckets));
  EXPECT_TRUE(iter.ReadUInt32(&checksum));
  EXPECT_TRUE(iter.ReachedEnd());
  EXPECT_EQ("Params", name);
  EXPECT_EQ(1, flags);
  EXPECT_EQ(1, declared_min);
  EXPECT_EQ(100, declared_max);
  EXPECT_EQ(10u, serialized_buckets);
  EXPECT_EQ(histogram->bucket_ranges()->checksum(), checksum);

  // The sample pickle feeds another histogram of the same layout.
  Pickle samples;
  histogram->SnapshotSamples()->Serialize(&samples);
  HistogramBase* twin = Histogram::FactoryGet("Twin", 1, 100, 10, 1);
  PickleIterator samples_iter(samples);
  EXPECT_TRUE(twin->AddSamplesFromPickle(&samples_iter));
  EXPECT_EQ(2, twin->SnapshotSamples()->GetCount(4));
  twin->AddSamples(*histogram->SnapshotSamples());
  EXPECT_EQ(6, twin->SnapshotSamples()->TotalCount());

  EXPECT_EQ("UNKNOWN", HistogramTypeToString(static_cast<HistogramType>(7)));
  EXPECT_EQ("BOOLEAN_HISTOGRAM", HistogramTypeToString(BOOLEAN_HISTOGRAM));
}

TEST_F(HistogramTextTest, CustomHistogramSerializesInnerBoundaries) {
  BucketRanges* ranges = new BucketRanges(5);
  ranges->set_range(1, 10);
  ranges->set_range(2, 20);
  ranges->set_range(3, 500);
  ranges->set_range(4, HistogramBase::kSampleType_MAX);
  ranges->ResetChecksum();
  const BucketRanges* registered =
      StatisticsRecorder::RegisterOrDeleteDuplicateRanges(ranges);
  const uint64_t id = HashMetricName("Custom");
  std::unique_ptr<HistogramBase> custom = CustomHistogram::PersistentCreate(
      GetPermanentName("Custom"),
      std::make_unique<SampleVector>(id, registered),
      std::make_unique<SampleVector>(id, registered));
  EXPECT_EQ(CUSTOM_HISTOGRAM, custom->GetHistogramType());
  EXPECT_TRUE(custom->HasConstructionArguments(10, 500, 4));

  Pickle pickle;
  custom->SerializeInfo(&pickle);
  PickleIterator iter(pickle);
  std::string name;
  int skip;
  uint32_t skip_unsigned;
  EXPECT_TRUE(iter.ReadString(&name));
  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(iter.ReadInt(&skip));
  EXPECT_TRUE(iter.ReadUInt32(&skip_unsigned));
  EXPECT_TRUE(iter.ReadUInt32(&skip_unsigned));
  int inner[3];
  for (int& boundary : inner)
    EXPECT_TRUE(iter.ReadInt(&boundary));
  EXPECT_TRUE(iter.ReachedEnd());
  EXPECT_EQ(10, inner[0]);
  EXPECT_EQ(20, inner[1]);
  EXPECT_EQ(500, inner[2]);

  // Bars ignore the bucket width.
  custom->Add(15);
  custom->Add(100);
  std::string text;
  custom->WriteAscii(&text);
  EXPECT_EQ(
      "Histogram: Custom recorded 2 samples, mean = 57.5\n"
      "0   " +
          Bar(0) +
          " (0 = 0.0%)\n"
          "10  " +
          Bar(72) +
          " (1 = 50.0%) {0.0%}\n"
          "20  " +
          Bar(72) +
          " (1 = 50.0%) {50.0%}\n"
          "500 " +
          Bar(0) + " (0 = 0.0%) {100.0%}\n",
      text);
}

TEST_F(HistogramTextTest, CorruptionAndValidation) {
  BucketRanges ranges(11);
  BucketRanges::InitializeExponential(1, 100, &ranges);
  const uint64_t id = HashMetricName("Corrupt");
  std::unique_ptr<HistogramBase> histogram = Histogram::PersistentCreate(
      GetPermanentName("Corrupt"), std::make_unique<SampleVector>(id, &ranges),
      std::make_unique<SampleVector>(id, &ranges));
  histogram->SetFlags(1);
  histogram->Add(4);
  EXPECT_EQ(0u, histogram->FindCorruption(*histogram->SnapshotSamples()));
  EXPECT_TRUE(histogram->ValidateHistogramContents(true, 1));

  // A redundant count more than 5 away from the buckets.
  SampleVector high(id, &ranges);
  Pickle count_only;
  count_only.WriteInt64(0);
  count_only.WriteInt(6);
  PickleIterator high_iter(count_only);
  EXPECT_TRUE(high.AddFromPickle(&high_iter));
  EXPECT_EQ(HistogramBase::COUNT_HIGH_ERROR, histogram->FindCorruption(high));
  SampleVector almost(id, &ranges);
  almost.Accumulate(4, 1);
  Pickle five_more;
  five_more.WriteInt64(0);
  five_more.WriteInt(5);
  PickleIterator almost_iter(five_more);
  EXPECT_TRUE(almost.AddFromPickle(&almost_iter));  // 6 against 1: a race.
  EXPECT_EQ(0u, histogram->FindCorruption(almost));
  SampleVector low(id, &ranges);
  low.Accumulate(4, 6);
  Pickle negative;
  negative.WriteInt64(0);
  negative.WriteInt(-6);
  PickleIterator low_iter(negative);
  EXPECT_TRUE(low.AddFromPickle(&low_iter));
  EXPECT_EQ(HistogramBase::COUNT_LOW_ERROR, histogram->FindCorruption(low));

  // A boundary overwritten out of order.
  std::unique_ptr<HistogramSamples> snapshot = histogram->SnapshotSamples();
  ranges.set_range(3, 2);
  EXPECT_EQ(
      HistogramBase::BUCKET_ORDER_ERROR | HistogramBase::RANGE_CHECKSUM_ERROR,
      histogram->FindCorruption(*snapshot));

  // Logged samples without an id make the object invalid; no flags alone
  // do not.
  BucketRanges good(11);
  BucketRanges::InitializeExponential(1, 100, &good);
  std::unique_ptr<HistogramBase> no_flags = Histogram::PersistentCreate(
      GetPermanentName("NoFlags"), std::make_unique<SampleVector>(id, &good),
      std::make_unique<SampleVector>(id, &good));
  EXPECT_TRUE(no_flags->ValidateHistogramContents(false, 2));
  std::unique_ptr<HistogramBase> no_id = Histogram::PersistentCreate(
      GetPermanentName("NoId"), std::make_unique<SampleVector>(id, &good),
      std::make_unique<SampleVector>(0, &good));
  EXPECT_FALSE(no_id->ValidateHistogramContents(false, 3));
  EXPECT_DEATH(no_id->ValidateHistogramContents(true, 3), "NoId/40#3");
}

}  // namespace
}  // namespace base
