#include "base/metrics/dummy_histogram.h"

#include "base/metrics/metrics_hashes.h"
#include "base/metrics/sample_map.h"

namespace base {

namespace {

const char kDummyName[] = "DummyHistogram";

}  // namespace

// static
DummyHistogram* DummyHistogram::GetInstance() {
  // Lives until the process ends, like every histogram.
  static DummyHistogram* const instance = new DummyHistogram();
  return instance;
}

DummyHistogram::DummyHistogram() : HistogramBase(kDummyName) {}

DummyHistogram::~DummyHistogram() = default;

uint64_t DummyHistogram::name_hash() const {
  return HashMetricName(kDummyName);
}

HistogramType DummyHistogram::GetHistogramType() const {
  // Its samples look like those of a sparse histogram: none.
  return SPARSE_HISTOGRAM;
}

bool DummyHistogram::HasConstructionArguments(
    Sample expected_minimum,
    Sample expected_maximum,
    uint32_t expected_bucket_count) const {
  return true;
}

bool DummyHistogram::AddSamplesFromPickle(PickleIterator* iter) {
  return true;
}

std::unique_ptr<HistogramSamples> DummyHistogram::SnapshotSamples() const {
  return std::make_unique<SampleMap>(name_hash());
}

std::unique_ptr<HistogramSamples> DummyHistogram::SnapshotDelta() {
  return std::make_unique<SampleMap>(name_hash());
}

std::unique_ptr<HistogramSamples> DummyHistogram::SnapshotFinalDelta() const {
  return std::make_unique<SampleMap>(name_hash());
}

}  // namespace base
