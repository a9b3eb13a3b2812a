#include "base/metrics/histogram.h"

#include <algorithm>
#include <utility>

#include "base/check.h"
#include "base/metrics/histogram_functions.h"
#include "base/metrics/metrics_hashes.h"
#include "base/metrics/statistics_recorder.h"

namespace base {

namespace {

// The most user buckets a histogram may have, plus the two overflow ones.
constexpr uint32_t kMaxUsefulBucketCount = 10000 + 2;

// Puts the arguments asked for with |name| into shape, recording the request
// when they were not.
void RepairConstructionArguments(const std::string& name,
                                 HistogramBase::Sample* minimum,
                                 HistogramBase::Sample* maximum,
                                 uint32_t* bucket_count) {
  if (!Histogram::InspectConstructionArguments(name, minimum, maximum,
                                               bucket_count)) {
    UmaHistogramSparse(
        "Histogram.BadConstructionArguments",
        static_cast<HistogramBase::Sample>(HashMetricName(name)));
  }
}

}  // namespace

Histogram::Histogram(const char* name, const BucketRanges* ranges)
    : HistogramBase(name),
      bucket_ranges_(ranges),
      unlogged_samples_(new SampleVector(HashMetricName(name), ranges)),
      logged_samples_(new SampleVector(unlogged_samples_->id(), ranges)) {}

Histogram::~Histogram() = default;

// static
HistogramBase* Histogram::FactoryGet(const std::string& name,
                                     Sample minimum,
                                     Sample maximum,
                                     uint32_t bucket_count,
                                     int32_t flags) {
  RepairConstructionArguments(name, &minimum, &maximum, &bucket_count);
  return FactoryGetWithType(name, HISTOGRAM, minimum, maximum, bucket_count,
                            flags);
}

// static
HistogramBase* Histogram::FactoryGetByCString(const char* name,
                                              Sample minimum,
                                              Sample maximum,
                                              uint32_t bucket_count,
                                              int32_t flags) {
  return FactoryGet(std::string(name), minimum, maximum, bucket_count, flags);
}

// static
HistogramBase* Histogram::FactoryTimeGet(const std::string& name,
                                         TimeDelta minimum,
                                         TimeDelta maximum,
                                         uint32_t bucket_count,
                                         int32_t flags) {
  return FactoryGet(name, static_cast<Sample>(minimum.InMilliseconds()),
                    static_cast<Sample>(maximum.InMilliseconds()), bucket_count,
                    flags);
}

// static
HistogramBase* Histogram::FactoryTimeGetByCString(const char* name,
                                                  TimeDelta minimum,
                                                  TimeDelta maximum,
                                                  uint32_t bucket_count,
                                                  int32_t flags) {
  return FactoryTimeGet(std::string(name), minimum, maximum, bucket_count,
                        flags);
}

// static
bool Histogram::InspectConstructionArguments(StringPiece name,
                                             Sample* minimum,
                                             Sample* maximum,
                                             uint32_t* bucket_count) {
  // Limits of the sample type are silently respected.
  if (*minimum < 1)
    *minimum = 1;
  if (*maximum >= kSampleType_MAX)
    *maximum = kSampleType_MAX - 1;
  if (*bucket_count >= kBucketCount_MAX)
    *bucket_count = kBucketCount_MAX - 1;

  bool good = true;
  if (*minimum > *maximum) {
    good = false;
    std::swap(*minimum, *maximum);
  }
  if (*maximum == *minimum) {
    good = false;
    *maximum = *minimum + 1;
  }
  if (*bucket_count < 3) {
    good = false;
    *bucket_count = 3;
  }
  if (*bucket_count > kMaxUsefulBucketCount) {
    good = false;
    *bucket_count = kMaxUsefulBucketCount;
  }
  const int64_t span = static_cast<int64_t>(*maximum) - *minimum + 2;
  if (static_cast<int64_t>(*bucket_count) > span) {
    good = false;
    *bucket_count = static_cast<uint32_t>(span);
  }
  return good;
}

// static
HistogramBase* Histogram::FactoryGetWithType(const std::string& name,
                                             HistogramType type,
                                             Sample minimum,
                                             Sample maximum,
                                             uint32_t bucket_count,
                                             int32_t flags) {
  HistogramBase* histogram = StatisticsRecorder::FindHistogram(name);
  if (!histogram) {
    BucketRanges* ranges = new BucketRanges(bucket_count + 1);
    if (type == HISTOGRAM)
      BucketRanges::InitializeExponential(minimum, maximum, ranges);
    else
      BucketRanges::InitializeLinear(minimum, maximum, ranges);
    const BucketRanges* registered_ranges =
        StatisticsRecorder::RegisterOrDeleteDuplicateRanges(ranges);

    const char* permanent_name = GetPermanentName(name);
    Histogram* created;
    switch (type) {
      case LINEAR_HISTOGRAM:
        created = new LinearHistogram(permanent_name, registered_ranges);
        break;
      case BOOLEAN_HISTOGRAM:
        created = new BooleanHistogram(permanent_name, registered_ranges);
        break;
      default:
        created = new Histogram(permanent_name, registered_ranges);
        break;
    }
    // Nothing here lives in persistent memory.
    created->SetFlags(flags & ~kIsPersistent);
    histogram = StatisticsRecorder::RegisterOrDeleteDuplicate(created);
  }

  // One name, one kind: asking for another kind is a programming error.
  CHECK(histogram->GetHistogramType() == type);
  if (bucket_count != 0 &&
      !histogram->HasConstructionArguments(minimum, maximum, bucket_count)) {
    return nullptr;
  }
  return histogram;
}

uint64_t Histogram::name_hash() const {
  return unlogged_samples_->id();
}

HistogramType Histogram::GetHistogramType() const {
  return HISTOGRAM;
}

bool Histogram::HasConstructionArguments(Sample expected_minimum,
                                         Sample expected_maximum,
                                         uint32_t expected_bucket_count) const {
  return expected_bucket_count == bucket_count() &&
         expected_minimum == declared_min() &&
         expected_maximum == declared_max();
}

void Histogram::Add(Sample value) {
  AddCount(value, 1);
}

void Histogram::AddCount(Sample value, int count) {
  if (count < 1)
    return;
  if (value > kSampleType_MAX - 1)
    value = kSampleType_MAX - 1;
  if (value < 0)
    value = 0;
  unlogged_samples_->Accumulate(value, count);
}

std::unique_ptr<SampleVector> Histogram::CopySamples(
    const SampleVector& from) const {
  std::unique_ptr<SampleVector> copy(
      new SampleVector(unlogged_samples_->id(), bucket_ranges_));
  copy->Add(from);
  return copy;
}

std::unique_ptr<HistogramSamples> Histogram::SnapshotSamples() const {
  std::unique_ptr<SampleVector> snapshot = CopySamples(*unlogged_samples_);
  snapshot->Add(*logged_samples_);
  return snapshot;
}

std::unique_ptr<HistogramSamples> Histogram::SnapshotDelta() {
  std::unique_ptr<SampleVector> delta = CopySamples(*unlogged_samples_);
  unlogged_samples_->Subtract(*delta);
  logged_samples_->Add(*delta);
  return delta;
}

std::unique_ptr<HistogramSamples> Histogram::SnapshotFinalDelta() const {
  return CopySamples(*unlogged_samples_);
}

HistogramBase::Sample Histogram::ranges(size_t i) const {
  return bucket_ranges_->range(i);
}

uint32_t Histogram::bucket_count() const {
  return static_cast<uint32_t>(bucket_ranges_->bucket_count());
}

HistogramBase::Sample Histogram::declared_min() const {
  if (bucket_count() < 2)
    return -1;
  return ranges(1);
}

HistogramBase::Sample Histogram::declared_max() const {
  if (bucket_count() < 2)
    return -1;
  return ranges(bucket_count() - 1);
}

LinearHistogram::LinearHistogram(const char* name, const BucketRanges* ranges)
    : Histogram(name, ranges) {}

LinearHistogram::~LinearHistogram() = default;

// static
HistogramBase* LinearHistogram::FactoryGet(const std::string& name,
                                           Sample minimum,
                                           Sample maximum,
                                           uint32_t bucket_count,
                                           int32_t flags) {
  RepairConstructionArguments(name, &minimum, &maximum, &bucket_count);
  return FactoryGetWithType(name, LINEAR_HISTOGRAM, minimum, maximum,
                            bucket_count, flags);
}

// static
HistogramBase* LinearHistogram::FactoryGet(const char* name,
                                           Sample minimum,
                                           Sample maximum,
                                           uint32_t bucket_count,
                                           int32_t flags) {
  return FactoryGet(std::string(name), minimum, maximum, bucket_count, flags);
}

HistogramType LinearHistogram::GetHistogramType() const {
  return LINEAR_HISTOGRAM;
}

BooleanHistogram::BooleanHistogram(const char* name, const BucketRanges* ranges)
    : LinearHistogram(name, ranges) {}

BooleanHistogram::~BooleanHistogram() = default;

// static
HistogramBase* BooleanHistogram::FactoryGet(const std::string& name,
                                            int32_t flags) {
  // Fixed arguments; nothing to inspect.
  return FactoryGetWithType(name, BOOLEAN_HISTOGRAM, 1, 2, 3, flags);
}

// static
HistogramBase* BooleanHistogram::FactoryGet(const char* name, int32_t flags) {
  return FactoryGet(std::string(name), flags);
}

HistogramType BooleanHistogram::GetHistogramType() const {
  return BOOLEAN_HISTOGRAM;
}

}  // namespace base
