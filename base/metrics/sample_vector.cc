#include "base/metrics/sample_vector.h"

#include "base/check.h"

namespace base {

SampleVector::SampleVector(uint64_t id, const BucketRanges* bucket_ranges)
    : HistogramSamples(id),
      bucket_ranges_(bucket_ranges),
      counts_(new std::atomic<Count>[bucket_ranges->bucket_count()]) {
  for (size_t i = 0; i < bucket_ranges_->bucket_count(); ++i)
    counts_[i].store(0, std::memory_order_relaxed);
}

SampleVector::~SampleVector() = default;

void SampleVector::Accumulate(Sample value, Count count) {
  const size_t index = GetBucketIndex(value);
  counts_[index].fetch_add(count, std::memory_order_relaxed);
  IncreaseSumAndCount(static_cast<int64_t>(value) * count, count);
}

HistogramSamples::Count SampleVector::GetCount(Sample value) const {
  return GetCountAtIndex(GetBucketIndex(value));
}

HistogramSamples::Count SampleVector::GetCountAtIndex(
    size_t bucket_index) const {
  CHECK(bucket_index < bucket_ranges_->bucket_count());
  return counts_[bucket_index].load(std::memory_order_relaxed);
}

HistogramSamples::Count SampleVector::TotalCount() const {
  Count total = 0;
  for (size_t i = 0; i < bucket_ranges_->bucket_count(); ++i)
    total += counts_[i].load(std::memory_order_relaxed);
  return total;
}

std::vector<HistogramSamples::Entry> SampleVector::GetEntries() const {
  std::vector<Entry> entries;
  for (size_t i = 0; i < bucket_ranges_->bucket_count(); ++i) {
    const Count count = counts_[i].load(std::memory_order_relaxed);
    if (count != 0) {
      entries.push_back(
          {bucket_ranges_->range(i), bucket_ranges_->range(i + 1), count});
    }
  }
  return entries;
}

size_t SampleVector::GetBucketIndex(Sample value) const {
  const size_t bucket_count = bucket_ranges_->bucket_count();
  CHECK(value >= bucket_ranges_->range(0));
  CHECK(value < bucket_ranges_->range(bucket_count));
  // Binary search for the last boundary at or below |value|.
  size_t under = 0;
  size_t over = bucket_count;
  while (over - under > 1) {
    const size_t mid = under + (over - under) / 2;
    if (bucket_ranges_->range(mid) <= value)
      under = mid;
    else
      over = mid;
  }
  return under;
}

}  // namespace base
