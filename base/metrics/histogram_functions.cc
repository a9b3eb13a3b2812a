#include "base/metrics/histogram_functions.h"

#include "base/metrics/histogram.h"
#include "base/metrics/sparse_histogram.h"

namespace base {

void UmaHistogramExactLinear(const std::string& name,
                             int sample,
                             int exclusive_max) {
  HistogramBase* histogram = LinearHistogram::FactoryGet(
      name, 1, exclusive_max, static_cast<uint32_t>(exclusive_max + 1),
      HistogramBase::kUmaTargetedHistogramFlag);
  // Null when the name is taken by a histogram with other buckets; the
  // sample is then dropped rather than miscounted.
  if (histogram)
    histogram->Add(sample);
}

void UmaHistogramSparse(const std::string& name, int sample) {
  SparseHistogram::FactoryGet(name, HistogramBase::kUmaTargetedHistogramFlag)
      ->Add(sample);
}

}  // namespace base
