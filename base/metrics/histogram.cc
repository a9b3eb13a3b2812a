#include "base/metrics/histogram.h"

#include <math.h>

#include <algorithm>
#include <utility>

#include "base/check.h"
#include "base/logging.h"
#include "base/metrics/dummy_histogram.h"
#include "base/metrics/histogram_functions.h"
#include "base/metrics/histogram_persistence.h"
#include "base/metrics/metrics_hashes.h"
#include "base/metrics/statistics_recorder.h"
#include "base/pickle.h"
#include "base/strings/stringprintf.h"
#include "base/values.h"

namespace base {

namespace {

// The most user buckets a histogram may have, plus the two overflow ones.
constexpr uint32_t kMaxUsefulBucketCount = 10000 + 2;

// Bits of ValidateHistogramContents.
enum ValidationBits : uint32_t {
  kHasUnloggedRangesProblem = 0x1,
  kNoUnloggedSamples = 0x2,
  kNoLoggedSamples = 0x4,
  kLoggedSamplesWithoutId = 0x8,
  kFlagsAreZero = 0x20,
  kLoggedRangesProblem = 0x40,
  kGuardChanged = 0x80,
};

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

// Builds or finds the histogram of a name. Each kind overrides how its
// layout is made, how the object is made on the heap, and what is filled in
// before registration.
class Histogram::Factory {
 public:
  Factory(const std::string& name,
          HistogramBase::Sample minimum,
          HistogramBase::Sample maximum,
          uint32_t bucket_count,
          int32_t flags)
      : Factory(name, HISTOGRAM, minimum, maximum, bucket_count, flags) {}
  virtual ~Factory() = default;

  // Never null; see Histogram::FactoryGet.
  HistogramBase* Build();

 protected:
  Factory(const std::string& name,
          HistogramType histogram_type,
          HistogramBase::Sample minimum,
          HistogramBase::Sample maximum,
          uint32_t bucket_count,
          int32_t flags)
      : name_(name),
        histogram_type_(histogram_type),
        minimum_(minimum),
        maximum_(maximum),
        bucket_count_(bucket_count),
        flags_(flags) {}

  virtual BucketRanges* CreateRanges() {
    BucketRanges* ranges = new BucketRanges(bucket_count_ + 1);
    BucketRanges::InitializeExponential(minimum_, maximum_, ranges);
    return ranges;
  }

  virtual std::unique_ptr<HistogramBase> HeapAlloc(const BucketRanges* ranges) {
    return std::unique_ptr<HistogramBase>(
        new Histogram(GetPermanentName(name_), ranges));
  }

  virtual void FillHistogram(HistogramBase* histogram) {}

  const std::string& name_;
  const HistogramType histogram_type_;
  HistogramBase::Sample minimum_;
  HistogramBase::Sample maximum_;
  uint32_t bucket_count_;
  int32_t flags_;
};

HistogramBase* Histogram::Factory::Build() {
  HistogramBase* histogram = StatisticsRecorder::FindHistogram(name_);
  if (!histogram) {
    const BucketRanges* registered_ranges =
        StatisticsRecorder::RegisterOrDeleteDuplicateRanges(CreateRanges());

    histogram = CreateAndRegisterHistogram(
        histogram_type_, name_, minimum_, maximum_, registered_ranges, flags_,
        [this, registered_ranges] { return HeapAlloc(registered_ranges); },
        [this](HistogramBase* tentative) { FillHistogram(tentative); });
  }

  // One name, one kind: asking for another kind is a programming error.
  CHECK(histogram->GetHistogramType() == histogram_type_);
  if (!histogram->HasConstructionArguments(minimum_, maximum_, bucket_count_)) {
    // Callers record into the result unchecked.
    return DummyHistogram::GetInstance();
  }
  return histogram;
}

Histogram::Histogram(const char* name, const BucketRanges* ranges)
    : HistogramBase(name) {
  const uint64_t id = HashMetricName(name);
  unlogged_samples_.reset(new SampleVector(id, ranges));
  logged_samples_.reset(new SampleVector(id, ranges));
}

Histogram::Histogram(const char* name,
                     std::unique_ptr<SampleVectorBase> unlogged_samples,
                     std::unique_ptr<SampleVectorBase> logged_samples)
    : HistogramBase(name),
      unlogged_samples_(std::move(unlogged_samples)),
      logged_samples_(std::move(logged_samples)) {
  CHECK(unlogged_samples_ && logged_samples_);
}

Histogram::~Histogram() = default;

// static
HistogramBase* Histogram::FactoryGet(const std::string& name,
                                     Sample minimum,
                                     Sample maximum,
                                     uint32_t bucket_count,
                                     int32_t flags) {
  RepairConstructionArguments(name, &minimum, &maximum, &bucket_count);
  return Factory(name, minimum, maximum, bucket_count, flags).Build();
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
std::unique_ptr<HistogramBase> Histogram::PersistentCreate(
    const char* name,
    std::unique_ptr<SampleVectorBase> unlogged_samples,
    std::unique_ptr<SampleVectorBase> logged_samples) {
  return std::unique_ptr<HistogramBase>(new Histogram(
      name, std::move(unlogged_samples), std::move(logged_samples)));
}

// static
bool Histogram::InspectConstructionArguments(StringPiece name,
                                             Sample* minimum,
                                             Sample* maximum,
                                             uint32_t* bucket_count) {
  bool good = true;
  // Swapped before the limits are applied: clamping a reversed pair first
  // would turn the maximum into the minimum unclamped, and the layout would
  // start below its first boundary.
  if (*minimum > *maximum) {
    good = false;
    std::swap(*minimum, *maximum);
  }

  // Limits of the sample type are silently respected.
  if (*minimum < 1)
    *minimum = 1;
  if (*maximum >= kSampleType_MAX)
    *maximum = kSampleType_MAX - 1;
  if (*bucket_count >= kBucketCount_MAX)
    *bucket_count = kBucketCount_MAX - 1;

  // A pair entirely below 1 ends up with its maximum under the clamped
  // minimum, a pair at the top with its minimum above the clamped maximum.
  if (*maximum <= *minimum) {
    good = false;
    if (*minimum < kSampleType_MAX - 1) {
      *maximum = *minimum + 1;
    } else {
      *maximum = kSampleType_MAX - 1;
      *minimum = kSampleType_MAX - 2;
    }
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
  if (flags() & kCallbackExists)
    FindAndRunCallback(value);
}

void Histogram::AddSamples(const HistogramSamples& samples) {
  unlogged_samples_->Add(samples);
}

bool Histogram::AddSamplesFromPickle(PickleIterator* iter) {
  return unlogged_samples_->AddFromPickle(iter);
}

uint32_t Histogram::FindCorruption(const HistogramSamples& samples) const {
  uint32_t inconsistencies = HistogramBase::FindCorruption(samples);
  Sample previous_range = -1;
  for (uint32_t index = 0; index < bucket_count(); ++index) {
    const Sample new_range = ranges(index);
    if (previous_range >= new_range)
      inconsistencies |= BUCKET_ORDER_ERROR;
    previous_range = new_range;
  }
  if (!bucket_ranges()->HasValidChecksum())
    inconsistencies |= RANGE_CHECKSUM_ERROR;

  // Sums and counts are updated apart, so a reader may catch them a few
  // samples out of step; only a larger gap is corruption.
  const int64_t delta =
      static_cast<int64_t>(samples.redundant_count()) - samples.TotalCount();
  if (delta > 5)
    inconsistencies |= COUNT_HIGH_ERROR;
  else if (delta < -5)
    inconsistencies |= COUNT_LOW_ERROR;
  return inconsistencies;
}

std::unique_ptr<SampleVector> Histogram::CopyUnloggedSamples() const {
  CHECK(unlogged_samples_);
  CHECK(unlogged_samples_->id() != 0);
  CHECK(unlogged_samples_->bucket_ranges());
  std::unique_ptr<SampleVector> copy(new SampleVector(
      unlogged_samples_->id(), unlogged_samples_->bucket_ranges()));
  copy->Add(*unlogged_samples_);
  return copy;
}

std::unique_ptr<SampleVector> Histogram::SnapshotAllSamples() const {
  std::unique_ptr<SampleVector> snapshot = CopyUnloggedSamples();
  snapshot->Add(*logged_samples_);
  return snapshot;
}

std::unique_ptr<HistogramSamples> Histogram::SnapshotSamples() const {
  return SnapshotAllSamples();
}

std::unique_ptr<HistogramSamples> Histogram::SnapshotDelta() {
  std::unique_ptr<SampleVector> delta = CopyUnloggedSamples();
  unlogged_samples_->Subtract(*delta);
  logged_samples_->Add(*delta);
  return delta;
}

std::unique_ptr<HistogramSamples> Histogram::SnapshotFinalDelta() const {
  return CopyUnloggedSamples();
}

bool Histogram::ValidateHistogramContents(bool crash_if_invalid,
                                          int identifier) const {
  uint32_t bad_fields = 0;
  if (!unlogged_samples_)
    bad_fields |= kNoUnloggedSamples;
  else if (!unlogged_samples_->bucket_ranges())
    bad_fields |= kHasUnloggedRangesProblem;
  if (!logged_samples_)
    bad_fields |= kNoLoggedSamples;
  else if (!logged_samples_->bucket_ranges())
    bad_fields |= kLoggedRangesProblem;
  else if (logged_samples_->id() == 0)
    bad_fields |= kLoggedSamplesWithoutId;
  if (flags() == 0)
    bad_fields |= kFlagsAreZero;
  if (dummy_field_ != kDummyValidationGuard)
    bad_fields |= kGuardChanged;

  const bool is_valid = (bad_fields & ~kFlagsAreZero) == 0;
  if (is_valid || !crash_if_invalid)
    return is_valid;

  // Keep the evidence in the crash report.
  const std::string debug_string =
      StringPrintf("%s/%u#%d", histogram_name(), bad_fields, identifier);
  LOG(FATAL) << "Corrupt histogram " << debug_string;
  return false;
}

void Histogram::SerializeInfoImpl(Pickle* pickle) const {
  pickle->WriteString(histogram_name());
  pickle->WriteInt(flags());
  pickle->WriteInt(declared_min());
  pickle->WriteInt(declared_max());
  pickle->WriteUInt32(bucket_count());
  pickle->WriteUInt32(bucket_ranges()->checksum());
}

void Histogram::GetParameters(DictionaryValue* params) const {
  params->SetString("type", HistogramTypeToString(GetHistogramType()));
  params->SetInteger("min", declared_min());
  params->SetInteger("max", declared_max());
  params->SetInteger("bucket_count", static_cast<int>(bucket_count()));
}

void Histogram::GetCountAndBucketData(Count* count,
                                      int64_t* sum,
                                      ListValue* buckets) const {
  std::unique_ptr<SampleVector> snapshot = SnapshotAllSamples();
  *count = snapshot->TotalCount();
  *sum = snapshot->sum();
  uint32_t index = 0;
  for (uint32_t i = 0; i < bucket_count(); ++i) {
    const Count bucket_count = snapshot->GetCountAtIndex(i);
    if (bucket_count == 0)
      continue;
    std::unique_ptr<DictionaryValue> bucket(new DictionaryValue());
    bucket->SetInteger("low", ranges(i));
    if (i != this->bucket_count() - 1)
      bucket->SetInteger("high", ranges(i + 1));
    bucket->SetInteger("count", bucket_count);
    buckets->Set(index, std::move(bucket));
    ++index;
  }
}

HistogramBase::Sample Histogram::ranges(size_t i) const {
  return bucket_ranges()->range(i);
}

uint32_t Histogram::bucket_count() const {
  return static_cast<uint32_t>(bucket_ranges()->bucket_count());
}

const BucketRanges* Histogram::bucket_ranges() const {
  return unlogged_samples_->bucket_ranges();
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

bool Histogram::PrintEmptyBucket(uint32_t index) const {
  return true;
}

double Histogram::GetBucketSize(Count current, uint32_t i) const {
  // Wide buckets would dwarf the narrow ones; the width counts up to 5.
  const double kTransitionWidth = 5;
  double denominator = ranges(i + 1) - ranges(i);
  if (denominator > kTransitionWidth)
    denominator = kTransitionWidth;
  return current / denominator;
}

const std::string Histogram::GetAsciiBucketRange(uint32_t i) const {
  return StringPrintf("%d", ranges(i));
}

void Histogram::WriteAsciiImpl(const std::string& newline,
                               std::string* output) const {
  std::unique_ptr<SampleVector> snapshot = SnapshotAllSamples();
  const Count sample_count = snapshot->TotalCount();
  WriteAsciiHeader(*snapshot, /*with_mean=*/true, newline, output);

  double max_size = 0;
  for (uint32_t i = 0; i < bucket_count(); ++i) {
    const double current_size = GetBucketSize(snapshot->GetCountAtIndex(i), i);
    if (current_size > max_size)
      max_size = current_size;
  }

  size_t print_width = 1;
  for (uint32_t i = 0; i < bucket_count(); ++i) {
    if (snapshot->GetCountAtIndex(i) == 0)
      continue;
    const size_t width = GetAsciiBucketRange(i).size() + 1;
    if (width > print_width)
      print_width = width;
  }

  int64_t remaining = sample_count;
  int64_t past = 0;
  for (uint32_t i = 0; i < bucket_count(); ++i) {
    const Count current = snapshot->GetCountAtIndex(i);
    if (!current && !PrintEmptyBucket(i))
      continue;
    remaining -= current;
    WriteAsciiBucketLabel(GetAsciiBucketRange(i), print_width, output);
    if (current == 0 && i < bucket_count() - 1 &&
        snapshot->GetCountAtIndex(i + 1) == 0) {
      while (i < bucket_count() - 1 && snapshot->GetCountAtIndex(i + 1) == 0) {
        ++i;
      }
      output->append("... ");
      output->append(newline);
      continue;
    }
    const double current_size = GetBucketSize(current, i);
    WriteAsciiBucketGraph(current_size, max_size, output);
    const double scaled_sum = (past + current + remaining) / 100.0;
    WriteAsciiBucketValue(current, scaled_sum, output);
    if (i > 0)
      StringAppendF(output, " {%3.1f%%}", past / scaled_sum);
    output->append(newline);
    past += current;
  }
}

LinearHistogram::LinearHistogram(const char* name, const BucketRanges* ranges)
    : Histogram(name, ranges) {}

LinearHistogram::LinearHistogram(
    const char* name,
    std::unique_ptr<SampleVectorBase> unlogged_samples,
    std::unique_ptr<SampleVectorBase> logged_samples)
    : Histogram(name, std::move(unlogged_samples), std::move(logged_samples)) {}

LinearHistogram::~LinearHistogram() = default;

class LinearHistogram::Factory : public Histogram::Factory {
 public:
  Factory(const std::string& name,
          HistogramBase::Sample minimum,
          HistogramBase::Sample maximum,
          uint32_t bucket_count,
          int32_t flags,
          const DescriptionPair* descriptions)
      : Histogram::Factory(
            name, LINEAR_HISTOGRAM, minimum, maximum, bucket_count, flags),
        descriptions_(descriptions) {}

 protected:
  Factory(const std::string& name,
          HistogramType histogram_type,
          HistogramBase::Sample minimum,
          HistogramBase::Sample maximum,
          uint32_t bucket_count,
          int32_t flags)
      : Histogram::Factory(
            name, histogram_type, minimum, maximum, bucket_count, flags),
        descriptions_(nullptr) {}

  BucketRanges* CreateRanges() override {
    BucketRanges* ranges = new BucketRanges(bucket_count_ + 1);
    BucketRanges::InitializeLinear(minimum_, maximum_, ranges);
    return ranges;
  }

  std::unique_ptr<HistogramBase> HeapAlloc(
      const BucketRanges* ranges) override {
    return std::unique_ptr<HistogramBase>(
        new LinearHistogram(GetPermanentName(name_), ranges));
  }

  void FillHistogram(HistogramBase* base_histogram) override {
    if (!descriptions_)
      return;
    // Only linear kinds come here.
    LinearHistogram* histogram = static_cast<LinearHistogram*>(base_histogram);
    for (int i = 0; descriptions_[i].description; ++i) {
      histogram->bucket_description_[descriptions_[i].sample] =
          descriptions_[i].description;
    }
  }

 private:
  const DescriptionPair* const descriptions_;
};

// static
HistogramBase* LinearHistogram::FactoryGet(const std::string& name,
                                           Sample minimum,
                                           Sample maximum,
                                           uint32_t bucket_count,
                                           int32_t flags) {
  return FactoryGetWithRangeDescription(name, minimum, maximum, bucket_count,
                                        flags, nullptr);
}

// static
HistogramBase* LinearHistogram::FactoryGet(const char* name,
                                           Sample minimum,
                                           Sample maximum,
                                           uint32_t bucket_count,
                                           int32_t flags) {
  return FactoryGet(std::string(name), minimum, maximum, bucket_count, flags);
}

// static
HistogramBase* LinearHistogram::FactoryGetWithRangeDescription(
    const std::string& name,
    Sample minimum,
    Sample maximum,
    uint32_t bucket_count,
    int32_t flags,
    const DescriptionPair descriptions[]) {
  RepairConstructionArguments(name, &minimum, &maximum, &bucket_count);
  return Factory(name, minimum, maximum, bucket_count, flags, descriptions)
      .Build();
}

// static
std::unique_ptr<HistogramBase> LinearHistogram::PersistentCreate(
    const char* name,
    std::unique_ptr<SampleVectorBase> unlogged_samples,
    std::unique_ptr<SampleVectorBase> logged_samples) {
  return std::unique_ptr<HistogramBase>(new LinearHistogram(
      name, std::move(unlogged_samples), std::move(logged_samples)));
}

HistogramType LinearHistogram::GetHistogramType() const {
  return LINEAR_HISTOGRAM;
}

bool LinearHistogram::PrintEmptyBucket(uint32_t index) const {
  return bucket_description_.find(ranges(index)) == bucket_description_.end();
}

double LinearHistogram::GetBucketSize(Count current, uint32_t i) const {
  const double denominator = ranges(i + 1) - ranges(i);
  return current / denominator;
}

const std::string LinearHistogram::GetAsciiBucketRange(uint32_t i) const {
  auto it = bucket_description_.find(ranges(i));
  if (it == bucket_description_.end())
    return Histogram::GetAsciiBucketRange(i);
  return it->second;
}

class BooleanHistogram::Factory : public LinearHistogram::Factory {
 public:
  Factory(const std::string& name, int32_t flags)
      : LinearHistogram::Factory(name, BOOLEAN_HISTOGRAM, 1, 2, 3, flags) {}

 protected:
  std::unique_ptr<HistogramBase> HeapAlloc(
      const BucketRanges* ranges) override {
    return std::unique_ptr<HistogramBase>(
        new BooleanHistogram(GetPermanentName(name_), ranges));
  }
};

BooleanHistogram::BooleanHistogram(const char* name, const BucketRanges* ranges)
    : LinearHistogram(name, ranges) {}

BooleanHistogram::BooleanHistogram(
    const char* name,
    std::unique_ptr<SampleVectorBase> unlogged_samples,
    std::unique_ptr<SampleVectorBase> logged_samples)
    : LinearHistogram(
          name, std::move(unlogged_samples), std::move(logged_samples)) {}

BooleanHistogram::~BooleanHistogram() = default;

// static
HistogramBase* BooleanHistogram::FactoryGet(const std::string& name,
                                            int32_t flags) {
  // Fixed arguments; nothing to inspect.
  return Factory(name, flags).Build();
}

// static
HistogramBase* BooleanHistogram::FactoryGet(const char* name, int32_t flags) {
  return FactoryGet(std::string(name), flags);
}

// static
std::unique_ptr<HistogramBase> BooleanHistogram::PersistentCreate(
    const char* name,
    std::unique_ptr<SampleVectorBase> unlogged_samples,
    std::unique_ptr<SampleVectorBase> logged_samples) {
  return std::unique_ptr<HistogramBase>(new BooleanHistogram(
      name, std::move(unlogged_samples), std::move(logged_samples)));
}

HistogramType BooleanHistogram::GetHistogramType() const {
  return BOOLEAN_HISTOGRAM;
}

CustomHistogram::CustomHistogram(
    const char* name,
    std::unique_ptr<SampleVectorBase> unlogged_samples,
    std::unique_ptr<SampleVectorBase> logged_samples)
    : Histogram(name, std::move(unlogged_samples), std::move(logged_samples)) {}

CustomHistogram::~CustomHistogram() = default;

// static
std::unique_ptr<HistogramBase> CustomHistogram::PersistentCreate(
    const char* name,
    std::unique_ptr<SampleVectorBase> unlogged_samples,
    std::unique_ptr<SampleVectorBase> logged_samples) {
  return std::unique_ptr<HistogramBase>(new CustomHistogram(
      name, std::move(unlogged_samples), std::move(logged_samples)));
}

HistogramType CustomHistogram::GetHistogramType() const {
  return CUSTOM_HISTOGRAM;
}

void CustomHistogram::SerializeInfoImpl(Pickle* pickle) const {
  Histogram::SerializeInfoImpl(pickle);
  // The outer boundaries are always 0 and the maximum; only the inner ones
  // say anything.
  for (uint32_t i = 1; i < bucket_count(); ++i)
    pickle->WriteInt(ranges(i));
}

double CustomHistogram::GetBucketSize(Count current, uint32_t i) const {
  return current;
}

}  // namespace base
