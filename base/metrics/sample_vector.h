#ifndef BASE_METRICS_SAMPLE_VECTOR_H_
#define BASE_METRICS_SAMPLE_VECTOR_H_

#include <stddef.h>

#include <atomic>
#include <memory>
#include <vector>

#include "base/metrics/bucket_ranges.h"
#include "base/metrics/histogram_samples.h"

namespace base {

// Samples of a bucketed histogram: one atomic count per bucket of a shared
// layout, so recording takes no lock.
class SampleVector : public HistogramSamples {
 public:
  // |bucket_ranges| must outlive this object (registered layouts are never
  // freed).
  SampleVector(uint64_t id, const BucketRanges* bucket_ranges);
  ~SampleVector() override;

  void Accumulate(Sample value, Count count) override;
  Count GetCount(Sample value) const override;
  Count TotalCount() const override;
  std::vector<Entry> GetEntries() const override;

  // The count of bucket |bucket_index|.
  Count GetCountAtIndex(size_t bucket_index) const;

  // The index of the bucket that holds |value|.
  size_t GetBucketIndex(Sample value) const;

  const BucketRanges* bucket_ranges() const { return bucket_ranges_; }

 private:
  const BucketRanges* const bucket_ranges_;
  std::unique_ptr<std::atomic<Count>[]> counts_;
};

}  // namespace base

#endif  // BASE_METRICS_SAMPLE_VECTOR_H_
