#ifndef BASE_TEST_HISTOGRAM_COUNTS_H_
#define BASE_TEST_HISTOGRAM_COUNTS_H_

#include <string>

#include "base/metrics/histogram_base.h"

namespace base {

// What a histogram of the statistics recorder has counted so far. A histogram
// that has not been made yet (nothing was ever recorded into it) counts 0, so
// tests can take a "before" value without recording anything themselves.
HistogramBase::Count HistogramSampleCount(const std::string& name,
                                          HistogramBase::Sample sample);
HistogramBase::Count HistogramTotalCount(const std::string& name);

}  // namespace base

#endif  // BASE_TEST_HISTOGRAM_COUNTS_H_
