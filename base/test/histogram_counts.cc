#include "base/test/histogram_counts.h"

#include "base/metrics/histogram_samples.h"
#include "base/metrics/statistics_recorder.h"

namespace base {

HistogramBase::Count HistogramSampleCount(const std::string& name,
                                          HistogramBase::Sample sample) {
  HistogramBase* histogram = StatisticsRecorder::FindHistogram(name);
  return histogram ? histogram->SnapshotSamples()->GetCount(sample) : 0;
}

HistogramBase::Count HistogramTotalCount(const std::string& name) {
  HistogramBase* histogram = StatisticsRecorder::FindHistogram(name);
  return histogram ? histogram->SnapshotSamples()->TotalCount() : 0;
}

}  // namespace base
