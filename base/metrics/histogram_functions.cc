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
  // A name taken by a histogram with other buckets gives the dummy, which
  // drops the sample rather than miscounting it.
  histogram->Add(sample);
}

void UmaHistogramSparse(const std::string& name, int sample) {
  SparseHistogram::FactoryGet(name, HistogramBase::kUmaTargetedHistogramFlag)
      ->Add(sample);
}

}  // namespace base
