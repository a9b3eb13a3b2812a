#include "base/metrics/sparse_histogram.h"

#include <utility>

#include "base/check.h"
#include "base/metrics/histogram_persistence.h"
#include "base/metrics/metrics_hashes.h"
#include "base/metrics/sample_map.h"
#include "base/metrics/statistics_recorder.h"
#include "base/pickle.h"
#include "base/strings/stringprintf.h"
#include "base/values.h"

namespace base {

// static
HistogramBase* SparseHistogram::FactoryGet(const std::string& name,
                                           int32_t flags) {
  HistogramBase* histogram = StatisticsRecorder::FindHistogram(name);
  if (!histogram) {
    histogram = CreateAndRegisterHistogram(
        SPARSE_HISTOGRAM, name, 0, 0, nullptr, flags,
        [&name] {
          return std::unique_ptr<HistogramBase>(
              new SparseHistogram(GetPermanentName(name)));
        },
        nullptr);
  }
  CHECK(histogram->GetHistogramType() == SPARSE_HISTOGRAM);
  return histogram;
}

// static
std::unique_ptr<HistogramBase> SparseHistogram::PersistentCreate(
    const char* name,
    std::unique_ptr<HistogramSamples> unlogged_samples,
    std::unique_ptr<HistogramSamples> logged_samples) {
  return std::unique_ptr<HistogramBase>(new SparseHistogram(
      name, std::move(unlogged_samples), std::move(logged_samples)));
}

SparseHistogram::SparseHistogram(const char* name)
    : HistogramBase(name),
      unlogged_samples_(new SampleMap(HashMetricName(name))),
      logged_samples_(new SampleMap(unlogged_samples_->id())) {}

SparseHistogram::SparseHistogram(
    const char* name,
    std::unique_ptr<HistogramSamples> unlogged_samples,
    std::unique_ptr<HistogramSamples> logged_samples)
    : HistogramBase(name),
      unlogged_samples_(std::move(unlogged_samples)),
      logged_samples_(std::move(logged_samples)) {
  CHECK(unlogged_samples_ && logged_samples_);
}

SparseHistogram::~SparseHistogram() = default;

uint64_t SparseHistogram::name_hash() const {
  return unlogged_samples_->id();
}

HistogramType SparseHistogram::GetHistogramType() const {
  return SPARSE_HISTOGRAM;
}

bool SparseHistogram::HasConstructionArguments(
    Sample expected_minimum,
    Sample expected_maximum,
    uint32_t expected_bucket_count) const {
  // A sparse histogram is made from its name alone.
  return false;
}

void SparseHistogram::Add(Sample value) {
  AddCount(value, 1);
}

void SparseHistogram::AddCount(Sample value, int count) {
  if (count < 1)
    return;
  {
    AutoLock auto_lock(lock_);
    unlogged_samples_->Accumulate(value, count);
  }
  if (flags() & kCallbackExists)
    FindAndRunCallback(value);
}

void SparseHistogram::AddSamples(const HistogramSamples& samples) {
  AutoLock auto_lock(lock_);
  unlogged_samples_->Add(samples);
}

bool SparseHistogram::AddSamplesFromPickle(PickleIterator* iter) {
  AutoLock auto_lock(lock_);
  return unlogged_samples_->AddFromPickle(iter);
}

std::unique_ptr<HistogramSamples> SparseHistogram::SnapshotSamples() const {
  std::unique_ptr<SampleMap> snapshot(new SampleMap(name_hash()));
  AutoLock auto_lock(lock_);
  snapshot->Add(*unlogged_samples_);
  snapshot->Add(*logged_samples_);
  return snapshot;
}

std::unique_ptr<HistogramSamples> SparseHistogram::SnapshotDelta() {
  std::unique_ptr<SampleMap> delta(new SampleMap(name_hash()));
  AutoLock auto_lock(lock_);
  delta->Add(*unlogged_samples_);
  unlogged_samples_->Subtract(*delta);
  logged_samples_->Add(*delta);
  return delta;
}

std::unique_ptr<HistogramSamples> SparseHistogram::SnapshotFinalDelta() const {
  std::unique_ptr<SampleMap> delta(new SampleMap(name_hash()));
  AutoLock auto_lock(lock_);
  final_delta_created_ = true;
  delta->Add(*unlogged_samples_);
  return delta;
}

void SparseHistogram::SerializeInfoImpl(Pickle* pickle) const {
  pickle->WriteString(histogram_name());
  pickle->WriteInt(flags());
}

void SparseHistogram::GetParameters(DictionaryValue* params) const {
  params->SetString("type", HistogramTypeToString(GetHistogramType()));
}

void SparseHistogram::GetCountAndBucketData(Count* count,
                                            int64_t* sum,
                                            ListValue* buckets) const {
  // Sparse buckets are not listed.
}

void SparseHistogram::WriteAsciiImpl(const std::string& newline,
                                     std::string* output) const {
  std::unique_ptr<HistogramSamples> snapshot = SnapshotSamples();
  const Count total_count = snapshot->TotalCount();
  const double scaled_total_count = total_count / 100.0;
  WriteAsciiHeader(*snapshot, /*with_mean=*/false, newline, output);

  Sample largest_sample = 0;
  Count largest_count = 0;
  Sample min;
  int64_t max;
  Count count;
  for (std::unique_ptr<SampleCountIterator> it = snapshot->Iterator();
       !it->Done(); it->Next()) {
    it->Get(&min, &max, &count);
    if (min > largest_sample)
      largest_sample = min;
    if (count > largest_count)
      largest_count = count;
  }
  const size_t print_width = StringPrintf("%d", largest_sample).size() + 1;

  for (std::unique_ptr<SampleCountIterator> it = snapshot->Iterator();
       !it->Done(); it->Next()) {
    it->Get(&min, &max, &count);
    WriteAsciiBucketLabel(StringPrintf("%d", min), print_width, output);
    WriteAsciiBucketGraph(count, largest_count, output);
    WriteAsciiBucketValue(count, scaled_total_count, output);
    output->append(newline);
  }
}

}  // namespace base
