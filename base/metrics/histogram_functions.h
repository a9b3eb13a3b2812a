#ifndef BASE_METRICS_HISTOGRAM_FUNCTIONS_H_
#define BASE_METRICS_HISTOGRAM_FUNCTIONS_H_

#include <string>

namespace base {

// Adds |sample| to the linear histogram |name| with buckets 1 to
// |exclusive_max| (plus underflow and overflow), made on first use.
void UmaHistogramExactLinear(const std::string& name,
                             int sample,
                             int exclusive_max);

// Adds |sample| to the sparse histogram |name|, made on first use.
void UmaHistogramSparse(const std::string& name, int sample);

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_FUNCTIONS_H_
