#ifndef BASE_METRICS_SAMPLE_MAP_H_
#define BASE_METRICS_SAMPLE_MAP_H_

#include <map>
#include <vector>

#include "base/metrics/histogram_samples.h"

namespace base {

// Samples of a sparse histogram: a count per distinct value. Not
// thread-safe; the owning histogram serialises access.
class SampleMap : public HistogramSamples {
 public:
  explicit SampleMap(uint64_t id);
  ~SampleMap() override;

  void Accumulate(Sample value, Count count) override;
  Count GetCount(Sample value) const override;
  Count TotalCount() const override;
  std::vector<Entry> GetEntries() const override;

 private:
  std::map<Sample, Count> sample_counts_;
};

}  // namespace base

#endif  // BASE_METRICS_SAMPLE_MAP_H_
