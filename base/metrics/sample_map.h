#ifndef BASE_METRICS_SAMPLE_MAP_H_
#define BASE_METRICS_SAMPLE_MAP_H_

#include <map>
#include <memory>

#include "base/metrics/histogram_samples.h"

namespace base {

// Samples of a sparse histogram on the heap: a count per distinct value. Not
// thread-safe; the owning histogram serialises access.
class SampleMap : public HistogramSamples {
 public:
  explicit SampleMap(uint64_t id);
  ~SampleMap() override;

  // HistogramSamples:
  void Accumulate(Sample value, Count count) override;
  Count GetCount(Sample value) const override;
  Count TotalCount() const override;
  std::unique_ptr<SampleCountIterator> Iterator() const override;

 protected:
  // Every entry must be one value wide (max = min + 1).
  bool AddSubtractImpl(SampleCountIterator* iter, Operator op) override;

 private:
  std::map<Sample, Count> sample_counts_;
};

}  // namespace base

#endif  // BASE_METRICS_SAMPLE_MAP_H_
