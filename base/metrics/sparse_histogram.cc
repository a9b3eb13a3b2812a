#include "base/metrics/sparse_histogram.h"

#include <utility>

#include "base/check.h"
#include "base/metrics/metrics_hashes.h"
#include "base/metrics/statistics_recorder.h"

namespace base {

// static
HistogramBase* SparseHistogram::FactoryGet(const std::string& name,
                                           int32_t flags) {
  HistogramBase* histogram = StatisticsRecorder::FindHistogram(name);
  if (!histogram) {
    SparseHistogram* created = new SparseHistogram(GetPermanentName(name));
    created->SetFlags(flags & ~kIsPersistent);
    histogram = StatisticsRecorder::RegisterOrDeleteDuplicate(created);
  }
  CHECK(histogram->GetHistogramType() == SPARSE_HISTOGRAM);
  return histogram;
}

SparseHistogram::SparseHistogram(const char* name)
    : HistogramBase(name),
      unlogged_samples_(new SampleMap(HashMetricName(name))),
      logged_samples_(new SampleMap(unlogged_samples_->id())) {}

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
  ::AcquireSRWLockExclusive(&lock_);
  unlogged_samples_->Accumulate(value, count);
  ::ReleaseSRWLockExclusive(&lock_);
}

std::unique_ptr<HistogramSamples> SparseHistogram::SnapshotSamples() const {
  std::unique_ptr<SampleMap> snapshot(new SampleMap(name_hash()));
  ::AcquireSRWLockExclusive(&lock_);
  snapshot->Add(*unlogged_samples_);
  snapshot->Add(*logged_samples_);
  ::ReleaseSRWLockExclusive(&lock_);
  return snapshot;
}

std::unique_ptr<HistogramSamples> SparseHistogram::SnapshotDelta() {
  std::unique_ptr<SampleMap> delta(new SampleMap(name_hash()));
  ::AcquireSRWLockExclusive(&lock_);
  delta->Add(*unlogged_samples_);
  unlogged_samples_->Subtract(*delta);
  logged_samples_->Add(*delta);
  ::ReleaseSRWLockExclusive(&lock_);
  return delta;
}

std::unique_ptr<HistogramSamples> SparseHistogram::SnapshotFinalDelta() const {
  std::unique_ptr<SampleMap> delta(new SampleMap(name_hash()));
  ::AcquireSRWLockExclusive(&lock_);
  final_delta_created_ = true;
  delta->Add(*unlogged_samples_);
  ::ReleaseSRWLockExclusive(&lock_);
  return delta;
}

}  // namespace base
